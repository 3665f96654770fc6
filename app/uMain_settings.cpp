// The main window's settings: the settings dialog, and the values kept in the
// settings store (loaded at the first activation, written when the window
// closes).

#include "app/uMain.h"

#include "app/uDM.h"
#include "app/windows.h"
#include "settings/registry.h"
#include "structure/globals.h"
#include "structure/setup.h"

#include <QSpinBox>

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
