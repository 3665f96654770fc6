#include "app/editor/historywindow.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableView>
#include <QVBoxLayout>

namespace editor {

namespace {

QString outcomeText(const settings::HistoryEntry& e) {
    if (e.kind == settings::HistoryEntry::ReplacedText)
        return QStringLiteral("Ersetzter Text");
    if (e.cancelled)
        return QStringLiteral("Abgebrochen");
    if (!e.error.isEmpty())
        return QStringLiteral("Fehler: ") + e.error;
    if (e.rows >= 0)
        return QStringLiteral("%1 Datensätze").arg(e.rows);
    return QStringLiteral("Ausgeführt");
}

QString oneLine(const settings::HistoryEntry& e) {
    QString text = e.statement.simplified();
    if (e.shortened)
        text = QStringLiteral("(gekürzt) ") + text;
    return text;
}

} // namespace

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

void HistoryModel::reload(const QString& path, const QString& typed) {
    beginResetModel();
    m_rows.clear();
    m_more = false;
    m_error.clear();
    m_match = settings::historyMatchQuery(typed);
    try {
        if (!m_store || path != m_path) {
            m_store.reset();
            m_store = std::make_unique<settings::HistoryStore>(path);
            m_path = path;
        }
        m_rows = m_store->list(m_match, kPage);
        m_more = m_rows.size() == kPage;
    } catch (const std::exception& e) {
        m_error = QString::fromUtf8(e.what());
    }
    endResetModel();
}

qint64 HistoryModel::idAt(int row) const {
    return row >= 0 && row < m_rows.size() ? m_rows[row].id : 0;
}

QString HistoryModel::statementAt(int row) const {
    if (!m_store || row < 0 || row >= m_rows.size())
        return {};
    return m_store->statement(m_rows[row].id);
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const settings::HistoryEntry& e = m_rows[index.row()];
    if (role == Qt::ToolTipRole && index.column() == Statement)
        return e.statement.left(2000);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    switch (index.column()) {
    case Started:
        return QLocale().toString(e.started, QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    case Duration:
        return e.kind == settings::HistoryEntry::Run
                   ? QLocale().toString(double(e.durationMs) / 1000.0, 'f', 3) +
                         QStringLiteral(" s")
                   : QString();
    case Server:
        return e.server;
    case Database:
        return e.database;
    case Outcome:
        return outcomeText(e);
    case Statement:
        return oneLine(e);
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const titles[] = {"Beginn",    "Dauer",    "Server",
                                         "Datenbank", "Ergebnis", "Anweisung"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

bool HistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && m_more;
}

void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || !m_more || !m_store || m_rows.isEmpty())
        return;
    QList<settings::HistoryEntry> page;
    try {
        page = m_store->list(m_match, kPage, m_rows.back().id);
    } catch (const std::exception& e) {
        m_error = QString::fromUtf8(e.what());
    }
    m_more = page.size() == kPage;
    if (page.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size() - 1));
    m_rows.append(page);
    endInsertRows();
}

HistoryWindow::HistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FMHistory"));
    setWindowTitle(QStringLiteral("Verlauf"));
    resize(760, 420);
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Suchen:"));
    m_search = new QLineEdit;
    m_search->setObjectName(QStringLiteral("EDHistorySearch"));
    m_search->setClearButtonEnabled(true);
    label->setBuddy(m_search);
    row->addWidget(label);
    row->addWidget(m_search, 1);
    layout->addLayout(row);
    m_model = new HistoryModel(this);
    m_list = new QTableView;
    m_list->setObjectName(QStringLiteral("LVHistory"));
    m_list->setAccessibleName(QStringLiteral("Ausgeführte Anweisungen"));
    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->setColumnWidth(HistoryModel::Started, 130);
    m_list->setColumnWidth(HistoryModel::Duration, 70);
    m_list->setColumnWidth(HistoryModel::Outcome, 140);
    layout->addWidget(m_list, 1);
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_model->reload(m_path, text);
        m_list->setCurrentIndex(m_model->index(0, 0));
    });
    connect(m_list, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { choose(index.row()); });
    m_search->installEventFilter(this);
    m_list->installEventFilter(this);
}

void HistoryWindow::open(const QString& path) {
    m_path = path;
    m_model->reload(path, m_search->text());
    m_list->setCurrentIndex(m_model->index(0, 0));
    show();
    raise();
    activateWindow();
    m_search->setFocus(Qt::OtherFocusReason);
}

void HistoryWindow::choose(int row) {
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QString statement = m_model->statementAt(row);
    close();
    emit statementChosen(statement);
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* e = static_cast<QKeyEvent*>(event);
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        choose(m_list->currentIndex().row());
        return true;
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_Down:
    case Qt::Key_Up:
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
        // From the search field the arrows walk the list.
        if (watched == m_search) {
            QCoreApplication::sendEvent(m_list, e);
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace editor
