// Script files ("Neu", "Öffnen...", "Speichern..."), the print button and
// the connection information.

#include "app/uMain.h"

#include "app/editor/editortools.h"
#include "app/editor/workkeeper.h"
#include "app/logic/scriptfile.h"
#include "app/uDM.h"
#include "modal/modal.h"

#include <QPlainTextEdit>
#include <QTabWidget>

void TFMMain::ACNewExecute() {
    editorTextReplaced(QString());
    MEQuery->clear();
    clearMessages();
}

void TFMMain::ACOpenExecute() {
    modal::FileRequest request;
    request.parent = this;
    request.save = false;
    request.mustExist = false; // a missing file is reported by the loading
    request.caption = QStringLiteral("Script öffnen");
    request.directory = OpenDialogSQLFileName;
    request.filter = QStringLiteral("SQL-Script (*.sql);;Alle Dateien (*.*)");
    request.defaultSuffix = QStringLiteral("sql");
    const QString chosen = withDefaultExtension(modal::fileName(request), false);
    if (chosen.isEmpty())
        return;
    OpenDialogSQLFileName = chosen;
    loadScript(chosen);
    clearMessages();
}

void TFMMain::ACSaveExecute() {
    modal::FileRequest request;
    request.parent = this;
    request.save = true;
    request.caption = QStringLiteral("SQL Scripts speichern");
    request.directory = SaveDialogSQLFileName;
    request.filter = QStringLiteral("SQL-Scripts (*.sql);;Alle Dateien (*.*)");
    request.defaultSuffix = QStringLiteral("sql");
    const QString chosen = withDefaultExtension(modal::fileName(request), true);
    if (chosen.isEmpty())
        return;
    SaveDialogSQLFileName = chosen;
    saveScript(chosen);
    // The text now belongs to the file saved: the work kept names it, and
    // the tab shows it as after opening it.
    m_editorTools->keeper()->setFileName(chosen);
    PageControl1->setTabToolTip(0, chosen);
}

void TFMMain::ACPrintExecute() {
    // The print button is present and enabled but prints nothing.
}

void TFMMain::loadScript(const QString& fileName) {
    const QString text = readScriptFile(fileName); // throws before the editor changes
    editorTextReplaced(fileName);
    MEQuery->setPlainText(text);
}

void TFMMain::saveScript(const QString& fileName) const {
    writeScriptFile(fileName, editorLines());
}

void TFMMain::AcInfoExecute() {
    clearMessages();
    const TADOProperties& properties = dm().ADOConnMain->Properties();
    const int count = properties.Count();
    for (int i = 0; i < count; ++i) {
        // A property whose value cannot be read, or has none, is left out.
        try {
            const QVariant value = properties.Value(i);
            if (!value.isValid() || value.isNull())
                continue;
            addMessage(properties.Name(i) + QStringLiteral(": ") + variantDisplayText(value));
        } catch (...) {
        }
    }
    PCMain->setCurrentIndex(1);
}
