// Grid benchmark: opens the Messwerte table through the data layer into the
// result grid on the offscreen platform and paints screens at random rows in
// it and, taking turns with it, in two plain table views of the same window
// size, font, row height and column widths:
//   floor  a QTableView over a model that computes every value on request and
//          stores nothing (what painting a screen costs at the least),
//   items  the same rows copied into a QStandardItemModel (what a grid that
//          keeps its own copy costs in memory).
// Prints the median time per screen of each, the memory each result adds
// (resident size after minus before) and the ratios grid/floor (time) and
// grid/items (memory).
//
// Then, in the grid shown at its size: the time from asking for a sort by an
// integer, a floating-point and a text column until the first screen in the
// new order is painted, with the longest stall of the window's event loop
// meanwhile; and the copy of 100,000 rows by 10 columns with their titles.
//
//   bench-grid --connection "<ADO connection string>" [--screens 500] [--seed 1]
//   bench-grid --serve ROWS [--screens N]   starts a test server of its own
//   --part paint|sortcopy|all   (default all; sortcopy skips the paint views,
//                                whose item copy does not fit 5,000,000 rows)

#include "app/grid/DBBGrid.h"
#include "bench/lib/stallmeter.h"
#include "tests/support/testserver_fixture.h"

#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "data/resultstore.h"
#include "data/sqlserverprovider.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <time.h>
#include <vector>

namespace {

// Resident size of this process in kB.
long rssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The values of the test server's Messwerte rows, computed on request in the
// texts the result store shows for them. Row r holds Nr = r + 1.
class ComputedModel : public QAbstractTableModel {
public:
    ComputedModel(int rows, QStringList titles, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_rows(rows), m_titles(std::move(titles)) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_rows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_titles.size());
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section < m_titles.size())
            return m_titles.at(section);
        return {};
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const long long i = index.row() + 1LL;
        const int c = index.column();
        if (role == Qt::TextAlignmentRole) {
            const bool numeric = c == 0 || c == 1 || c == 5;
            return QVariant((numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        }
        if (role != Qt::DisplayRole)
            return {};
        ++paintedValues;
        switch (c) {
        case 0:
            return QString::number(i);
        case 1: { // money: four digits after the point
            const long long unscaled = (i % 100000) * 100 + 25;
            return QString::asprintf("%lld.%04lld", unscaled / 10000, unscaled % 10000);
        }
        case 2: {
            const long long s = i * 37;
            return QString::asprintf("2005-%02d-%02d %02d:%02d:%02d.%03d",
                                     int(s / 2419200 % 12) + 1, int(s / 86400 % 28) + 1,
                                     int(s / 3600 % 24), int(s / 60 % 60), int(s % 60),
                                     int(i % 1000 / 10 * 10));
        }
        case 3:
            return QString::asprintf("MW-%08lld", i);
        case 4:
            return QString::asprintf("Messpunkt %lld \u2013 F\u00fchler %c, H\u00f6he %d m", i,
                                     char('A' + i % 26), int(i % 3000));
        case 5:
            if (i % 97 == 0)
                return {};
            return QString::number(std::sin(double(i) / 1000.0) * 100.0, 'g', 15);
        case 6:
            return i % 5 != 0 ? QStringLiteral("True") : QStringLiteral("False");
        default:
            return {};
        }
    }

    mutable long long paintedValues = 0;

private:
    int m_rows;
    QStringList m_titles;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    using QObject::QObject;
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Processor time of every thread of this process: the work a sort does on
// its worker and the window's thread, less disturbed by other load.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double percentile(std::vector<double>& values, int percent) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * std::size_t(percent) / 100)];
}

void showView(QAbstractItemView& view, const QSize& size);

// Gives a plain view the grid's look (font, title font, row height, column
// width and a row header as narrow as the grid's indicator column) and shows
// it at the grid's size.
void showLikeGrid(QTableView& view, const TDBBGrid& grid) {
    view.setFont(grid.font());
    view.horizontalHeader()->setFont(grid.horizontalHeader()->font());
    view.horizontalHeader()->setDefaultSectionSize(grid.horizontalHeader()->defaultSectionSize());
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setMinimumSectionSize(1);
    view.verticalHeader()->setDefaultSectionSize(grid.rowHeight());
    view.verticalHeader()->setFixedWidth(grid.rowHeader()->width());
    view.setShowGrid(grid.showGrid());
    view.setWordWrap(false);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    showView(view, grid.size());
}

// One view under test: its paint times per screen and the memory its result
// added.
struct Run {
    Run(const char* runName, QAbstractItemView* runView) : name(runName), view(runView) {}
    const char* name;
    QAbstractItemView* view;
    long addedKb = 0;
    std::vector<double> ms; // wall clock per screen
    std::vector<double>
        cpu; // this thread's processor time per screen, which other load disturbs less
    PaintCounter painted;
};

// Shows the view at its size and paints it once, so that what any shown view
// costs (its backing store, font and glyph caches) is in place before a
// result's memory is measured.
void showView(QAbstractItemView& view, const QSize& size) {
    view.resize(size);
    view.show();
    QCoreApplication::processEvents();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    view.render(&image);
}

// Scrolls the view to `row` and renders the whole view into `image`; then lets
// the update that scrolling posted pass, untimed.
void paintScreen(Run& run, int row, QImage& image) {
    const QModelIndex index = run.view->model()->index(row, 0);
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = threadCpuMs();
    run.view->scrollTo(index, QAbstractItemView::PositionAtTop);
    run.view->render(&image);
    run.cpu.push_back(threadCpuMs() - cpu0);
    run.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    // A screen that did not move would be painted from warm caches only.
    if (!run.view->viewport()->rect().contains(run.view->visualRect(index).topLeft())) {
        // Thrown, not exited: the test server this process started must be stopped.
        throw std::runtime_error(std::string(run.name) + " did not scroll to row " +
                                 std::to_string(row));
    }
    QCoreApplication::processEvents();
}

// Paints the warm-up rows in the view and forgets their times.
void warmUp(Run& run, const std::vector<int>& rows, QImage& image) {
    for (int row : rows)
        paintScreen(run, row, image);
    run.ms.clear();
    run.cpu.clear();
}

void printRun(Run& run) {
    std::printf("%-6s median %.3f ms per screen (90%% %.3f ms; processor %.3f ms), "
                "memory added %ld kB\n",
                run.name, percentile(run.ms, 50), percentile(run.ms, 90), percentile(run.cpu, 50),
                run.addedKb);
}

int usage() {
    std::fprintf(stderr, "usage: bench-grid (--connection <ADO string> | --serve ROWS) "
                         "[--query SQL] [--screens N] [--seed N] [--size WxH] "
                         "[--part paint|sortcopy|all]\n");
    return 2;
}

const char* met(double value, double goal) {
    return value <= goal ? "met" : "not met";
}

// Sorts the grid's result by the named column and paints the first screen
// of the new order; prints the time and the longest stall against the goal.
void benchSort(TDBBGrid& grid, const char* kind, const QString& name, double goalSeconds) {
    TDBBGridModel* model = grid.gridModel();
    int column = -1;
    for (int c = 0; c < model->columnCount(); ++c)
        if (model->store()->column(c).name.compare(name, Qt::CaseInsensitive) == 0)
            column = c;
    if (column < 0) {
        std::printf("sort %-5s no column %s\n", kind, qPrintable(name));
        return;
    }
    // From the server's order each time, descending so that a column that
    // arrives in order is not already sorted.
    model->sortBy(column, gridsort::Order::None);
    QCoreApplication::processEvents();
    // Waited for in an event loop that sleeps between events: a loop that
    // polls would take a processor from the sort's workers.
    bool sorted = false;
    QEventLoop wait;
    const auto done = QObject::connect(model, &TDBBGridModel::sorted, [&sorted, &wait] {
        sorted = true;
        wait.quit();
    });
    benchstall::StallMeter stall;
    QImage image(grid.size(), QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = processCpuSeconds();
    stall.start();
    model->sortBy(column, gridsort::Order::Descending);
    if (!sorted)
        wait.exec();
    grid.render(&image);
    QCoreApplication::processEvents();
    stall.stop();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = processCpuSeconds() - cpu0;
    QObject::disconnect(done);
    std::printf("sort %-5s %-12s %.3f s to the first sorted screen, processor %.3f s "
                "(goal <= %.1f s: %s; ratio %.2f), longest stall %.1f ms (goal <= 50 ms: %s)\n",
                kind, qPrintable(name), seconds, cpu, goalSeconds, met(seconds, goalSeconds),
                seconds / goalSeconds, stall.worstMs(), met(stall.worstMs(), 50));
}

// Copies the first rows x all columns with their titles through the grid.
void benchCopy(TADOConnection& conn, const QSize& size) {
    const QString sql = QStringLiteral(
        "SELECT TOP 100000 Nr, Betrag, Zeitpunkt, Kennung, Bezeichnung, Messwert, Gueltig, "
        "Nr AS Nr2, Betrag AS Betrag2, Messwert AS Messwert2 FROM Messwerte ORDER BY Nr");
    TADODataSet ds;
    ds.setConnection(&conn);
    ds.setCommandTimeout(0);
    ds.setCommandText(sql);
    ds.Open();
    TDataSource source;
    source.setDataSet(&ds);
    TDBBGrid grid;
    grid.setDataSource(&source);
    showView(grid, size);
    TDBBGridModel* model = grid.gridModel();
    const int rows = model->rowCount();
    const int columns = model->columnCount();
    grid.selectAll();
    bool finished = false;
    QEventLoop wait;
    QObject::connect(&grid, &TDBBGrid::copyFinished, [&finished, &wait](bool) {
        finished = true;
        wait.quit();
    });
    benchstall::StallMeter stall;
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = processCpuSeconds();
    stall.start();
    grid.copySelection(true);
    if (!finished)
        wait.exec();
    stall.stop();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = processCpuSeconds() - cpu0;
    const qsizetype chars = QGuiApplication::clipboard()->mimeData()->text().size();
    std::printf("copy  %d rows x %d columns with titles: %.3f s, processor %.3f s, %lld "
                "characters of text (goal <= 1.0 s for 100000 x 10: %s; ratio %.2f), longest "
                "stall %.1f ms (goal <= 50 ms: %s)\n",
                rows, columns, seconds, cpu, static_cast<long long>(chars), met(seconds, 1.0),
                seconds, stall.worstMs(), met(stall.worstMs(), 50));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    data::registerSqlServerProvider();

    QString connection, query = QStringLiteral("SELECT * FROM Messwerte");
    int screens = 500;
    unsigned seed = 1;
    long serveRows = 0;
    QSize size(1024, 768);
    QString part = QStringLiteral("all");
    const QStringList args = app.arguments();
    if (args.size() % 2 == 0) // an option without its value
        return usage();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& key = args[i];
        const QString& value = args[i + 1];
        if (key == QLatin1String("--connection"))
            connection = value;
        else if (key == QLatin1String("--serve"))
            serveRows = value.toLong();
        else if (key == QLatin1String("--query"))
            query = value;
        else if (key == QLatin1String("--screens"))
            screens = value.toInt();
        else if (key == QLatin1String("--seed"))
            seed = value.toUInt();
        else if (key == QLatin1String("--part"))
            part = value;
        else if (key == QLatin1String("--size"))
            size = QSize(value.section(QLatin1Char('x'), 0, 0).toInt(),
                         value.section(QLatin1Char('x'), 1, 1).toInt());
        else
            return usage();
    }
    if ((connection.isEmpty() && serveRows <= 0) || screens <= 0 || size.isEmpty() ||
        (part != u"all" && part != u"paint" && part != u"sortcopy"))
        return usage();

    std::unique_ptr<TestServer> server;
    try {
        if (connection.isEmpty()) {
            server = std::make_unique<TestServer>(
                std::vector<std::string>{"--big-rows", std::to_string(serveRows)},
                // The server generates its rows before it reports ready.
                std::chrono::seconds(60 + serveRows / 20000));
            connection =
                QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=%1;"
                               "Password=%2;Initial Catalog=Musterfirma;Data Source=127.0.0.1,%3")
                    .arg(QString::fromStdString(server->user()),
                         QString::fromStdString(server->password()))
                    .arg(server->port());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-grid: %s\n", e.what());
        return 1;
    }

    try {
        TADOConnection conn;
        conn.setConnectionString(connection);
        conn.Open();

        // The grid: the result as the data layer holds it. Shown empty first,
        // so that the memory measured is what the result adds.
        TDBBGrid grid;
        showView(grid, size);
        const long gridBefore = rssKb();
        TADODataSet ds;
        ds.setConnection(&conn);
        ds.setCommandTimeout(0);
        ds.setCommandText(query);
        QElapsedTimer openTimer;
        openTimer.start();
        ds.Open();
        const double openSeconds = double(openTimer.nsecsElapsed()) / 1e9;
        TDataSource source;
        // Binding the result and painting the first screen: nothing here may
        // visit every row.
        QElapsedTimer attachTimer;
        attachTimer.start();
        source.setDataSet(&ds);
        grid.setDataSource(&source);
        {
            QImage first(size, QImage::Format_ARGB32_Premultiplied);
            grid.render(&first);
        }
        const double attachMs = double(attachTimer.nsecsElapsed()) / 1e6;
        const auto store = ds.store();
        const int rows = int(std::min<qint64>(store->rowCount(), INT_MAX));
        const int columns = store->columnCount();
        if (rows <= 0) {
            std::fprintf(stderr, "bench-grid: the query returned no rows\n");
            return 1;
        }
        QStringList titles;
        for (int c = 0; c < columns; ++c)
            titles << store->column(c).name;

        // The same random screens for every view, and a few others before
        // them to warm the caches.
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> pick(0, rows - 1);
        std::vector<int> jumps(static_cast<std::size_t>(screens));
        for (int& row : jumps)
            row = pick(random);
        std::vector<int> warmUpRows(static_cast<std::size_t>(std::min(screens, 50)));
        for (int& row : warmUpRows)
            row = pick(random);

        std::printf("rows %d, columns %d, %d screens of %dx%d, opened in %.3f s, "
                    "result storage %zu bytes\n",
                    rows, columns, screens, size.width(), size.height(), openSeconds,
                    store->memoryBytes());
        for (int c = 0; c < columns; ++c)
            std::printf("  column %d %s %s\n", c, qPrintable(store->column(c).name),
                        qPrintable(fieldTypeEnumName(store->column(c).type)));
        std::printf("grid bound and first screen painted in %.1f ms\n", attachMs);

        // Sorting and copying, after the paint figures (whose memory they
        // would disturb), or alone.
        const auto sortAndCopy = [&] {
            benchSort(grid, "int", QStringLiteral("Nr"), 1.0);
            benchSort(grid, "float", QStringLiteral("Messwert"), 1.0);
            benchSort(grid, "text", QStringLiteral("Bezeichnung"), 3.0);
            benchSort(grid, "text", QStringLiteral("Kennung"), 3.0);
            grid.gridModel()->sortBy(0, gridsort::Order::None);
            benchCopy(conn, size);
        };
        if (part == u"sortcopy") {
            sortAndCopy();
            return 0;
        }

        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        Run ours{"grid", &grid};
        warmUp(ours, warmUpRows, image);
        ours.addedKb = rssKb() - gridBefore;

        // The floor: values computed on request, nothing stored.
        QTableView floorView;
        showLikeGrid(floorView, grid);
        Run floor{"floor", &floorView};
        const long floorBefore = rssKb();
        ComputedModel computed(rows, titles);
        floorView.setModel(&computed);
        warmUp(floor, warmUpRows, image);
        floor.addedKb = rssKb() - floorBefore;

        // The rows copied into items: one QStandardItem with the display text
        // per cell.
        QTableView itemView;
        showLikeGrid(itemView, grid);
        Run items{"items", &itemView};
        const long itemsBefore = rssKb();
        QStandardItemModel copied(rows, columns);
        copied.setHorizontalHeaderLabels(titles);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                copied.setItem(r, c, new QStandardItem(store->text(r, c)));
        itemView.setModel(&copied);
        warmUp(items, warmUpRows, image);
        items.addedKb = rssKb() - itemsBefore;

        // The three views take turns on every screen, so that other load on
        // the machine falls on all of them alike.
        Run* runs[] = {&ours, &floor, &items};
        for (Run* run : runs)
            run->view->viewport()->installEventFilter(&run->painted);
        const qint64 computedBefore = computed.paintedValues;
        for (int row : jumps)
            for (Run* run : runs)
                paintScreen(*run, row, image);
        for (Run* run : runs) {
            run->view->viewport()->removeEventFilter(&run->painted);
            if (run->painted.count < screens) {
                std::fprintf(stderr, "bench-grid: %s painted only %d of %d screens\n", run->name,
                             run->painted.count, screens);
                return 1;
            }
        }
        if (computed.paintedValues - computedBefore < qint64(screens) * columns) {
            std::fprintf(stderr, "bench-grid: the floor view painted no cells\n");
            return 1;
        }

        for (Run* run : runs)
            printRun(*run);
        std::printf("time   grid/floor  %.2f (goal <= 1.50; processor time %.2f)\n",
                    percentile(ours.ms, 50) / percentile(floor.ms, 50),
                    percentile(ours.cpu, 50) / percentile(floor.cpu, 50));
        std::printf("memory grid/items  %.3f (goal < 0.25)\n",
                    items.addedKb > 0 ? double(ours.addedKb) / double(items.addedKb) : 0.0);
        if (part == u"all")
            sortAndCopy();
    } catch (const data::DataError& e) {
        std::fprintf(stderr, "bench-grid: %s\n", qPrintable(e.message()));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-grid: %s\n", e.what());
        return 1;
    }
    return 0;
}
