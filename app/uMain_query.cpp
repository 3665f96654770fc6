// Query and command execution, the quick query and the focus tracking.

#include "app/uMain.h"

#include "app/logic/utools.h"
#include "app/uDM.h"
#include "structure/waitcursor.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextBlock>
#include <optional>

namespace {

QString stripComments(const QString& text, bool& inBlockComment) {
    return QString::fromStdString(StripSqlComments(text.toStdString(), inBlockComment));
}

} // namespace

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
    bool inBlockComment = false;
    if (MEQuery->textCursor().hasSelection())
        return stripComments(editorSelection(), inBlockComment);
    QString text;
    for (const QString& line : editorLines())
        text += stripComments(line, inBlockComment) + u' ';
    return text;
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

void TFMMain::ACQueryExecute() {
    runQuery(std::nullopt);
}

void TFMMain::runQuery(const std::optional<QString>& exactText) {
    WaitCursor hourglass;
    TADODataSet& query = *dm().ADOdsQuery;
    try {
        PCMain->setCurrentIndex(0);
        PAGrid->setVisible(false);
        query.Close();
        query.setCommandText(exactText ? *exactText : queryText());
        query.Open();
        clearMessages();
        const TADOErrors& errors = dm().ADOConnMain->Errors();
        for (int i = 0; i < errors.Count(); ++i)
            addMessage(errors.Description(i));
        // An export that failed half-way may have left the grid suspended.
        query.EnableControls();
    } catch (...) {
        PAGrid->setVisible(true);
        dm().ADOConnMain->Close();
        throw;
    }
}

void TFMMain::ACExecuteExecute() {
    WaitCursor hourglass;
    TADOCommand& command = *dm().ADOCommand;
    try {
        PCMain->setCurrentIndex(0);
        PAGrid->setVisible(true);
        command.setCommandText(commandText());
        command.Execute();
        clearMessages();
        const TADOErrors& errors = dm().ADOConnMain->Errors();
        for (int i = 0; i < errors.Count(); ++i)
            addMessage(errors.Description(i));
        const TParameters& params = command.Parameters();
        for (int i = 0; i < params.Count(); ++i)
            addMessage(params.Name(i) + QStringLiteral(": ") + variantDisplayText(params.Value(i)));
    } catch (...) {
        dm().ADOConnMain->Close();
        throw;
    }
}

void TFMMain::LBTablesDblClick() {
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
    try {
        runQuery(built);
    } catch (...) {
    }
}
