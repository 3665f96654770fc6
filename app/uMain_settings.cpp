// The main window's settings: the settings dialog, and the values kept in the
// settings store (loaded at the first activation, written when the window
// closes); the editor's work kept between runs and the history of runs.

#include "app/uMain.h"

#include "app/application.h"
#include "app/connectprompt.h"
#include "app/editor/editortools.h"
#include "app/editor/workkeeper.h"
#include "app/uDM.h"
#include "app/windows.h"
#include "settings/registry.h"
#include "structure/globals.h"
#include "structure/setup.h"

#include <QSpinBox>
#include <QTabWidget>

namespace {
const QString kKey = QString::fromLatin1(settings::kSettingsKey);

QString shortcutValueName(int slot) {
    return QStringLiteral("shortcut") + QString::number(slot);
}
} // namespace

void TFMMain::readfromreg() {
    settings::Registry registry(settings::RootKey::CurrentUser);
    if (!registry.keyExists(kKey))
        return;
    registry.openKeyReadOnly(kKey);
    SavedServer = registry.readString(QStringLiteral("MSSQLServer"));
    SavedDatabase = registry.readString(QStringLiteral("MSSQLDatabase"));
    EDMaxRec->setValue(settingToInt(registry.readString(QStringLiteral("maxds"))));
    for (int slot = 1; slot <= 10; ++slot)
        ShortcutTexts[std::size_t(slot - 1)] = registry.readString(shortcutValueName(slot));
    QueryTimeout = settingToInt(registry.readString(QStringLiteral("ADOTimeout")));
    if (m_dm)
        m_dm->ADOdsQuery->setCommandTimeout(QueryTimeout);
    registry.closeKey();
}

void TFMMain::writetoreg(const QString& /*server: owned by the connection component*/,
                         const QString& database) {
    settings::Registry registry(settings::RootKey::CurrentUser);
    // The placement store has created the key just before; a key that cannot
    // be opened makes the first write fail with the store's error.
    registry.openKey(kKey, false);
    registry.writeString(QStringLiteral("MSSQLDatabase"), database);
    registry.writeString(QStringLiteral("maxds"), QString::number(EDMaxRec->value()));
    for (int slot = 1; slot <= 10; ++slot)
        registry.writeString(shortcutValueName(slot), ShortcutTexts[std::size_t(slot - 1)]);
    registry.writeString(QStringLiteral("ADOTimeout"), QString::number(QueryTimeout));
    registry.closeKey();
}

void TFMMain::ACSetupExecute() {
    auto* dialog = qobject_cast<TFMsetup*>(FMsetup);
    if (!dialog)
        return;
    ::ACSetupExecute(*dialog, ShortcutTexts,
                     [this](int timeout) { dm().ADOdsQuery->setCommandTimeout(timeout); });
}

// ---- the editor's work and the history of runs ---------------------------------

void TFMMain::startEditorTools() {
    if (m_dm)
        m_editorTools->watchConnection(m_dm->ADOConnMain);
    // What the editor held when the window last closed (or when the program
    // last wrote it before it ended unexpectedly).
    editor::WorkKeeper& keeper = *m_editorTools->keeper();
    if (MEQuery->document()->isEmpty())
        keeper.restore();
    const QString file = keeper.fileName();
    if (!file.isEmpty()) {
        OpenDialogSQLFileName = SaveDialogSQLFileName = file;
        PageControl1->setTabToolTip(0, file);
    }
}

void TFMMain::keepEditorWork() {
    runGuarded([this] { m_editorTools->keeper()->save(); });
}

void TFMMain::editorTextReplaced(const QString& fileName) {
    m_editorTools->textReplaced(MEQuery->toPlainText());
    m_editorTools->keeper()->setFileName(fileName);
    PageControl1->setTabToolTip(0, fileName);
}

void TFMMain::recordRunStart(const std::optional<QString>& exactText) {
    const QString text = exactText                              ? *exactText
                         : MEQuery->textCursor().hasSelection() ? editorSelection()
                                                                : MEQuery->toPlainText();
    m_editorTools->runStarted(text, m_connect ? m_connect->Server() : QString(),
                              CBDatabase->currentText());
}

void TFMMain::recordRunEnd(const ScriptRun& run) {
    qint64 rows = -1;
    const TADODataSet* result = currentResult();
    if (run.query && result && result->Active()) {
        rows = result->RecordCount();
    } else if (m_dm) {
        for (const data::DiagRecord& r : m_dm->ADOConnMain->Messages())
            if (r.kind == data::MessageKind::RowCount)
                rows = std::max<qint64>(rows, 0) + r.rows;
    }
    m_editorTools->runFinished(rows, run.lastError ? exceptionMessage(run.lastError) : QString(),
                               run.cancelled);
}
