// The result set in the main window against a test server: the drawing grid
// shows it, a large-object cell opens the cell viewer, and "Exportieren..."
// writes it into the file the save dialog returns.

#include "app/application.h"
#include "app/grid/DBBGrid.h"
#include "app/grid/uBlob.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "settings/registry.h"
#include "structure/setup.h"
#include "tests/app/apptestsupport.h"
#include "tests/support/fulldisk.h"
#include "tests/support/testserver_fixture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// Triggers the action; a query or command it starts runs to its end.
void trigger(QAction* action) {
    runGuarded([action] { action->trigger(); });
    waitForStatement(FMMain);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint32 dbfRecordCount(const QByteArray& bytes) {
    if (bytes.size() < 8)
        return 0;
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + 4;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

QString exported(int rows) {
    return QStringLiteral("Es wurden %1 Datensätze exportiert.").arg(rows);
}

} // namespace

class TestResultE2E : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void gridShowsPictureTable();
    void cellClickOpensViewer_data();
    void cellClickOpensViewer();
    void cellWithoutBitmapReportsError();
    void exportAsksForFile();
    void exportFormats_data();
    void exportFormats();
    void exportPictureTableSkipsPictures();
    void exportWithoutMatchingExtension_data();
    void exportWithoutMatchingExtension();
    void exportReplacesExistingFile();
    void exportBeforeAnyQuery();
    void cancelledExportChangesNothing();
    void exportOntoFullDisk_data();
    void exportOntoFullDisk();
    void exportKeepsEveryCharacter();
    void exportLocksTheWindow();

private:
    void connectWorkbench();
    void connectAndQuery(const QString& sql);
    // Runs the export with the dialog answered by `answer` (relative names
    // are placed in the temporary folder; "" cancels).
    void exportTo(const QString& answer);
    QString path(const QString& name) const { return m_dir->filePath(name); }

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<WindowFixture> m_fixture;
    MessageRecorder* m_messages = nullptr; // the fixture's
    FakePrompt* m_prompt = nullptr;        // the fixture's
    TFMMain* w = nullptr;
    QList<modal::FileRequest> m_fileRequests;
};

void TestResultE2E::initTestCase() {
    m_server = std::make_unique<TestServer>(std::vector<std::string>{"--big-rows", "120"});
}

void TestResultE2E::cleanupTestCase() {
    m_server.reset();
}

void TestResultE2E::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_fileRequests.clear();
    m_fixture = std::make_unique<WindowFixture>(
        QStringLiteral("127.0.0.1,%1").arg(m_server->port()),
        QString::fromStdString(m_server->user()), QString::fromStdString(m_server->password()),
        QSize(1000, 700));
    w = m_fixture->w;
    m_messages = &m_fixture->messages;
    m_prompt = m_fixture->prompt;
}

void TestResultE2E::cleanup() {
    modal::setFileHandler({});
    modal::setDialogHandler({});
    m_fixture.reset(); // hides the window first, then takes it down
    w = nullptr;
    m_messages = nullptr;
    m_dir.reset();
}

void TestResultE2E::connectWorkbench() {
    {
        settings::Registry reg;
        QVERIFY(reg.openKey(QString::fromLatin1(settings::kSettingsKey), true));
        reg.writeString("MSSQLServer", m_prompt->server);
        reg.writeString("MSSQLDatabase", "Musterfirma");
    }
    FirstActivation = true;
    runGuarded([this] { w->FormActivate(); });
    QVERIFY(DM->ADOConnMain->Connected());
}

void TestResultE2E::connectAndQuery(const QString& sql) {
    connectWorkbench();
    // Typed into the editor, as a user does: the focus leaves the database box.
    w->MEQuery->setFocus();
    w->MEQuery->setPlainText(sql);
    trigger(w->ACQuery);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QVERIFY(DM->ADOdsQuery->Active());
}

void TestResultE2E::exportTo(const QString& answer) {
    modal::setFileHandler([this, answer](const modal::FileRequest& r) {
        m_fileRequests.append(r);
        return answer.isEmpty() || answer.startsWith(u'/') ? answer : path(answer);
    });
    trigger(w->ACExport);
    // The export runs on a thread of its own; the window is locked until it has ended.
    QTRY_VERIFY_WITH_TIMEOUT(!w->statementRunning(), 60000);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TestResultE2E::gridShowsPictureTable() {
    connectAndQuery(QStringLiteral("select * from Bilder order by BildNr"));
    auto* grid = w->findChild<TDBBGrid*>(QStringLiteral("DBGridQuery"));
    QVERIFY(grid);
    QCOMPARE(grid, w->DBGridQuery);
    QCOMPARE(grid->dataSource(), DM->DSQuery);
    QCOMPARE(w->PCMain->currentIndex(), 0);
    QVERIFY(w->PAGrid->isHidden());
    QAbstractItemModel* model = grid->model();
    QCOMPARE(model->columnCount(), 4);
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Bild"));
    const int rows = model->rowCount();
    QVERIFY(rows >= 3);
    QCOMPARE(model->index(rows - 2, 1).data().toString(), QStringLiteral("Kein Bild"));
    QCOMPARE(model->index(rows - 1, 1).data().toString(), QStringLiteral("Ohne Bild"));
    // Large objects show their kind, in capitals when the cell holds a value.
    const QString filled = model->index(0, 2).data().toString();
    const QString empty = model->index(rows - 1, 2).data().toString();
    QVERIFY2(filled.startsWith(u'(') && filled != empty && filled.toLower() == empty,
             qPrintable(filled + ' ' + empty));
    // The picture column is drawn with thumbnails over the placeholder text.
    QVERIFY(grid->AutoDisp_Image() && grid->AutoDisp_Memo());
}

void TestResultE2E::cellClickOpensViewer_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("picture");
    QTest::newRow("number") << 0 << false << false;
    QTest::newRow("short text") << 1 << false << false;
    QTest::newRow("picture") << 2 << true << true;
    QTest::newRow("long text") << 3 << true << false;
}

void TestResultE2E::cellClickOpensViewer() {
    QFETCH(int, column);
    QFETCH(bool, opens);
    QFETCH(bool, picture);
    connectAndQuery(QStringLiteral("select * from Bilder order by BildNr"));
    auto* viewer = qobject_cast<TFMBlob*>(FMBlob);
    QVERIFY(viewer);
    QCOMPARE(viewer->parentWidget(), w);
    int opened = 0;
    QSize shownPicture;
    QString shownText;
    modal::setDialogHandler([&](QDialog* d) {
        ++opened;
        if (d != viewer)
            return int(QDialog::Rejected);
        if (viewer->DBImage->isVisibleTo(viewer))
            shownPicture = viewer->DBImage->pixmap().size();
        if (viewer->DBMemo->isVisibleTo(viewer))
            shownText = viewer->DBMemo->toPlainText();
        return int(QDialog::Rejected);
    });
    TDBBGrid* grid = w->DBGridQuery;
    const QModelIndex cell = grid->model()->index(1, column);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(opened, opens ? 1 : 0);
    QCOMPARE(DM->ADOdsQuery->RecNo(), 2);
    if (opens && picture)
        QCOMPARE(shownPicture, QSize(64, 48)); // the second picture, unscaled
    if (opens && !picture)
        QVERIFY(shownText.size() > 20);
    // Closed again, the viewer keeps no binding.
    QVERIFY(viewer->DBImage->DataField().isEmpty() && viewer->DBMemo->DataField().isEmpty());
}

void TestResultE2E::cellWithoutBitmapReportsError() {
    connectAndQuery(QStringLiteral("select * from Bilder order by BildNr"));
    int opened = 0;
    modal::setDialogHandler([&](QDialog*) {
        ++opened;
        return int(QDialog::Rejected);
    });
    TDBBGrid* grid = w->DBGridQuery;
    const int row = grid->model()->rowCount() - 2; // "Kein Bild": text bytes in the picture column
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->model()->index(row, 2)).center());
    QCOMPARE(opened, 0);
    QCOMPARE(m_messages->requests.size(), 1);
    QVERIFY(m_messages->texts().first().startsWith(QStringLiteral("Bitmap ist ungültig")));
}

void TestResultE2E::exportAsksForFile() {
    connectAndQuery(QStringLiteral("select * from Kunden"));
    exportTo(QStringLiteral("kunden.dbf"));
    QCOMPARE(m_fileRequests.size(), 1);
    const modal::FileRequest& r = m_fileRequests.first();
    QVERIFY(r.save);
    QCOMPARE(r.parent, w);
    QCOMPARE(r.caption, QStringLiteral("Tabelle exportieren"));
    QCOMPARE(r.filter, QStringLiteral("dBASE (*.dbf);;Text (*.txt);;Excel-Arbeitsmappe (*.xlsx);;"
                                      "CSV (Trennzeichen-getrennt) (*.csv);;JSON (*.json);;"
                                      "Alle Dateien (*.*)"));
    QCOMPARE(r.defaultSuffix, QStringLiteral("dbf"));
    QVERIFY(!r.confirmOverwrite);
}

void TestResultE2E::exportFormats_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("dBASE") << "messwerte.dbf";
    QTest::newRow("dBASE, upper case") << "EXPORT.DBF";
    QTest::newRow("typed without extension") << "ohne";
    QTest::newRow("text") << "messwerte.txt";
    QTest::newRow("HTML") << "messwerte.html";
    QTest::newRow("spreadsheet") << "messwerte.xls";
    QTest::newRow("Access database") << "messwerte.mdb";
}

void TestResultE2E::exportFormats() {
    QFETCH(QString, file);
    connectAndQuery(QStringLiteral("select * from Messwerte order by Nr"));
    DM->ADOdsQuery->setRecNo(50);
    exportTo(file);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(w->LBStatusBar3->text(), exported(120));
    QVERIFY(w->LBStatusBar3->width() >= w->LBStatusBar3->sizeHint().width()); // shown whole
    // The grid is back on the first row.
    QCOMPARE(DM->ADOdsQuery->RecNo(), 1);

    const QString suffix = file.contains(u'.') ? file.section(u'.', -1).toLower() : "dbf";
    const QString written = file.contains(u'.') ? path(file) : path(file + ".dbf");
    const QByteArray bytes = fileBytes(written);
    QVERIFY2(!bytes.isEmpty(), qPrintable(written));
    if (suffix == "dbf") {
        QCOMPARE(dbfRecordCount(bytes), 120u);
    } else if (suffix == "txt") {
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 1 + 120 + 1); // names, rows, nothing after the last break
        QVERIFY(lines.first().contains("Messwert"));
        QVERIFY(lines.at(1).startsWith("1,"));
    } else if (suffix == "html") {
        QCOMPARE(bytes.count("<tr>"), 1 + 120);
    } else if (suffix == "xls") {
        QVERIFY(bytes.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")));
    } else if (suffix == "mdb") {
        // A Jet 4 database holding the table "messwerte"; mdbtools reads it where installed.
        QCOMPARE(bytes.mid(4, 15), QByteArray("Standard Jet DB"));
        QCOMPARE(bytes.at(0x14), char(1));
        if (!QStandardPaths::findExecutable(QStringLiteral("mdb-export")).isEmpty()) {
            QProcess p;
            p.start(QStringLiteral("mdb-export"),
                    {QStringLiteral("-H"), written, QStringLiteral("messwerte")});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(p.readAllStandardOutput().count('\n'), 120);
        }
    }
}

void TestResultE2E::exportPictureTableSkipsPictures() {
    connectAndQuery(QStringLiteral("select * from Bilder order by BildNr"));
    const int rows = w->DBGridQuery->model()->rowCount();
    exportTo(QStringLiteral("bilder.txt"));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(w->LBStatusBar3->text(), exported(rows));
    const QByteArray text = fileBytes(path("bilder.txt"));
    const QList<QByteArray> lines = text.split('\n');
    QVERIFY(!lines.isEmpty());
    // The picture column has no place in a text file.
    QVERIFY(!lines.first().contains("\"Bild\""));
    QVERIFY(lines.first().contains("Name"));
    QVERIFY(text.contains("Ohne Bild"));
}

void TestResultE2E::exportWithoutMatchingExtension_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("xlsb") << "kunden.xlsb"; // .csv, .json and .xlsx are formats of their own
    QTest::newRow("htm") << "kunden.htm";
    QTest::newRow("known extension not last") << "kunden.dbf.bak";
}

void TestResultE2E::exportWithoutMatchingExtension() {
    QFETCH(QString, file);
    connectAndQuery(QStringLiteral("select * from Kunden"));
    exportTo(QStringLiteral("erste.txt"));
    const int rows = w->DBGridQuery->model()->rowCount();
    QCOMPARE(w->LBStatusBar3->text(), exported(rows));
    w->LBStatusBar3->clear();
    const QStringList before = QDir(m_dir->path()).entryList(QDir::Files);
    exportTo(file);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    // Nothing is written; the line repeats the count of the last export.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), before);
    QCOMPARE(w->LBStatusBar3->text(), exported(rows));
}

void TestResultE2E::exportReplacesExistingFile() {
    {
        QFile old(path("kunden.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    connectAndQuery(QStringLiteral("select KundenNr, Firma from Kunden order by KundenNr"));
    const int rows = w->DBGridQuery->model()->rowCount();
    exportTo(QStringLiteral("kunden.txt"));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    const QByteArray text = fileBytes(path("kunden.txt"));
    QVERIFY(!text.contains('x' + QByteArray("xxxx")));
    QCOMPARE(text.count('\n'), 1 + rows);
}

void TestResultE2E::exportLocksTheWindow() {
    // The export runs on a thread of its own; meanwhile nothing may start a statement,
    // change the result or start another export, and "Abbrechen" is offered.
    connectAndQuery(QStringLiteral("select * from Kunden"));
    const int rows = w->DBGridQuery->model()->rowCount();
    modal::setFileHandler([this](const modal::FileRequest&) { return path("kunden.xlsx"); });
    runGuarded([this] { w->ACExport->trigger(); });
    QVERIFY(w->statementRunning());
    QVERIFY(!w->ACQuery->isEnabled() && !w->ACExecute->isEnabled() && !w->ACExport->isEnabled());
    QVERIFY(w->ACCancel->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!w->statementRunning(), 60000);
    QVERIFY(w->ACQuery->isEnabled() && w->ACExport->isEnabled() && !w->ACCancel->isEnabled());
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(w->LBStatusBar3->text(), exported(rows));
    QVERIFY(fileBytes(path("kunden.xlsx")).startsWith("PK")); // a zip container
}

void TestResultE2E::exportBeforeAnyQuery() {
    connectWorkbench();
    QVERIFY(!DM->ADOdsQuery->Active());
    exportTo(QStringLiteral("leer.dbf"));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QVERIFY(!QFile::exists(path("leer.dbf")));
    QCOMPARE(w->LBStatusBar3->text(), exported(0));
}

void TestResultE2E::cancelledExportChangesNothing() {
    connectAndQuery(QStringLiteral("select * from Kunden"));
    w->LBStatusBar3->setText(QStringLiteral("vorher"));
    exportTo(QString());
    QCOMPARE(m_fileRequests.size(), 1);
    QCOMPARE(w->LBStatusBar3->text(), QStringLiteral("vorher"));
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
}

void TestResultE2E::exportOntoFullDisk_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sql");
    QTest::newRow("one row as text") << "kunden.txt"
                                     << "select top 1 * from Kunden";
    QTest::newRow("dBASE with a memo file")
        << "bestellungen.dbf"
        << "select top 3 * from Bestellungen order by BestellNr";
}

// The message gives the system's reason and names the file the user chose, no record;
// the status line keeps the count of the last export that worked.
void TestResultE2E::exportOntoFullDisk() {
    QFETCH(QString, file);
    QFETCH(QString, sql);
    FullDisk disk;
    if (!disk.mounted())
        QSKIP("mounting a small file system needs root");
    connectAndQuery(sql);
    const int rows = w->DBGridQuery->model()->rowCount();
    exportTo(file);
    QCOMPARE(w->LBStatusBar3->text(), exported(rows));
    exportTo(disk.filePath(file));
    QCOMPARE(m_messages->texts().size(), 1);
    const QString message = m_messages->texts().first();
    QVERIFY2(message.contains(FullDisk::reason()), qPrintable(message));
    QVERIFY2(message.contains(disk.filePath(file)), qPrintable(message));
    QVERIFY2(!message.contains(QStringLiteral("Datensatz")), qPrintable(message));
    QCOMPARE(w->LBStatusBar3->text(), exported(rows));
    QVERIFY(w->LBStatusBar3->width() >= w->LBStatusBar3->sizeHint().width());
}

// A text export is Windows-1252 while every character fits; one that does not turns the
// file into UTF-8 with a byte-order mark, rows before it included.
void TestResultE2E::exportKeepsEveryCharacter() {
    connectAndQuery(QStringLiteral("select N'Größe €' as T union all select N'Ω'"));
    exportTo(QStringLiteral("zeichen.txt"));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(fileBytes(path("zeichen.txt")),
             QByteArray("\xEF\xBB\xBF") +
                 QString::fromUtf8("\"T\"\r\n\"Größe €\"\r\n\"Ω\"\r\n").toUtf8());
    connectAndQuery(QStringLiteral("select N'Größe €' as T"));
    exportTo(QStringLiteral("zeichen.txt"));
    QCOMPARE(fileBytes(path("zeichen.txt")), QByteArray("\"T\"\r\n\"Gr\xF6\xDF"
                                                        "e \x80\"\r\n"));
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    setApplicationTitle(QStringLiteral("tarnwick 2005"));
    TestResultE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_result_e2e.moc"
