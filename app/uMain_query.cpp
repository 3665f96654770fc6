// Query and command execution, the quick query and the focus tracking.

#include "app/uMain.h"

#include "app/application.h"
#include "app/logic/sqlscanner.h"
#include "app/uDM.h"
#include "structure/waitcursor.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextBlock>
#include <optional>

QString variantDisplayText(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return value.toString();
}

QString quickQueryStatement(const QString& table, int maxRecords) {
    QString statement = QStringLiteral("SELECT");
    if (maxRecords != 0)
        statement += QStringLiteral(" TOP ") + QString::number(maxRecords);
    // A "]" inside the name is doubled, so the name can never close the
    // bracket and carry SQL of its own.
    QString quoted = table;
    quoted.replace(u']', QStringLiteral("]]"));
    return statement + QStringLiteral(" * from [") + quoted + u']';
}

QString TFMMain::queryText() const {
    // Comments go; line breaks and strings stay as typed.
    return stripComments(MEQuery->textCursor().hasSelection() ? editorSelection()
                                                              : editorLines().join(u'\n'));
}

QString TFMMain::commandText() const {
    if (MEQuery->textCursor().hasSelection())
        return editorSelection();
    // Lines are joined with line breaks, so a "--" comment ends with its line
    // and never covers the text of a later one.
    QString text;
    for (const QString& line : editorLines())
        text += line + QStringLiteral("\r\n");
    return text;
}

void TFMMain::ACCancelExecute() {
    // A script runs no further batch, also when the cancel comes between two.
    if (m_script)
        m_script->cancelled = true;
    if (m_running && m_dm)
        m_dm->ADOConnMain->Cancel();
}

void TFMMain::beginStatement() {
    m_running = true;
    m_hourglass = std::make_unique<WaitCursor>();
    // Nothing else may start a statement or act on the result meanwhile.
    m_locked.clear();
    for (QObject* o :
         std::initializer_list<QObject*>{ACQuery, ACExecute, ACConnect, ACExport, ACTables, AcInfo,
                                         ACPrint, ACSetup, CBDatabase, CHBSystem}) {
        if (auto* a = qobject_cast<QAction*>(o)) {
            m_locked.append({o, a->isEnabled()});
            a->setEnabled(false);
        } else if (auto* w = qobject_cast<QWidget*>(o)) {
            m_locked.append({o, w->isEnabled()});
            w->setEnabled(false);
        }
    }
    DBGridQuery->setEditLocked(true);
    for (const auto& grid : std::as_const(m_resultGrids))
        if (grid)
            grid->setEditLocked(true);
    ACCancel->setEnabled(true);
    m_statusBefore = LBStatusBar3->text();
    m_statusClock.start();
    m_statusShownAt = -1;
    TADODataSet* query = dm().ADOdsQuery;
    m_rowWatch = {connect(query, &TADODataSet::rowsAppended, this, [this] { showRowsRead(false); }),
                  connect(query, &TADODataSet::activeChanged, this, [this](bool active) {
                      if (active)
                          showRowsRead(true);
                  })};
}

void TFMMain::endStatement() {
    for (const auto& c : std::as_const(m_rowWatch))
        disconnect(c);
    m_rowWatch.clear();
    for (const auto& [o, enabled] : std::as_const(m_locked)) {
        if (auto* a = qobject_cast<QAction*>(o))
            a->setEnabled(enabled);
        else if (auto* w = qobject_cast<QWidget*>(o))
            w->setEnabled(enabled);
    }
    m_locked.clear();
    DBGridQuery->setEditLocked(false);
    for (const auto& grid : std::as_const(m_resultGrids))
        if (grid)
            grid->setEditLocked(false);
    ACCancel->setEnabled(false);
    LBStatusBar3->setText(m_statusBefore);
    LBStatusBar3->adjustSize();
    m_hourglass.reset();
    m_running = false;
}

void TFMMain::showRowsRead(bool force) {
    // At most ten times a second: the count is for the eye, not a log.
    const qint64 now = m_statusClock.elapsed();
    if (!force && m_statusShownAt >= 0 && now - m_statusShownAt < 100)
        return;
    m_statusShownAt = now;
    LBStatusBar3->setText(
        QStringLiteral("%1 Datensätze gelesen").arg(dm().ADOdsQuery->RecordCount()));
    LBStatusBar3->adjustSize();
}

void TFMMain::LBTablesDblClick() {
    if (m_running)
        return;
    QListWidgetItem* item = LBTables->currentItem();
    std::optional<QString> built;
    if (LBTables->count() > 0 && item && item->isSelected()) {
        const QString statement = quickQueryStatement(item->text(), EDMaxRec->value());
        built = statement;
        MEQuery->setFocus();
        QTextCursor cursor(MEQuery->document());
        cursor.movePosition(QTextCursor::End);
        QString tail;
        if (!MEQuery->document()->isEmpty() && !MEQuery->toPlainText().endsWith(u'\n'))
            tail += u'\n'; // end the last line
        tail += u'\n';     // the empty line before the statement
        cursor.insertText(tail);
        const int start = cursor.position();
        cursor.insertText(statement);
        cursor.setPosition(start);
        cursor.setPosition(start + int(statement.size()), QTextCursor::KeepAnchor);
        MEQuery->setTextCursor(cursor);
    }
    // The quick query shows no message box; the failed run has already
    // uncovered the "no result" panel and closed the connection.
    // The statement runs exactly as built (it is the selected text): it has
    // no comments, and a "--" or "/*" inside a table name must not be taken
    // for one.
    runQuery(built, true);
}
