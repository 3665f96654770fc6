#include "connection/VelADOMSSQLConnect.h"

#include "connection/uFMADOMSSQLConnect.h"
#include "data/adoconnection.h"
#include "modal/modal.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>

namespace {

constexpr char kServerValue[] = "MSSQLServer";
constexpr char kDatabaseValue[] = "MSSQLDatabase";
constexpr char kUserValue[] = "MSSQLUser";
constexpr char kAuthenticationValue[] = "MSSQLAuthentification";

} // namespace

TVelADOMSSQLConnect::TVelADOMSSQLConnect(QObject* owner) : QObject(owner) {}

QString TVelADOMSSQLConnect::valuePath(const char* valueName) const {
    return m_registryKey + u'\\' + QLatin1String(valueName);
}

void TVelADOMSSQLConnect::presetFromRegistry(TFMADOMSSQLConnect& dialog) const {
    const QString server = ReadRegistryString(m_registryRoot, valuePath(kServerValue));
    dialog.PresetServer = m_server.isEmpty() ? server : m_server;
    const QString database = ReadRegistryString(m_registryRoot, valuePath(kDatabaseValue));
    dialog.PresetDatabase = m_database.isEmpty() ? database : m_database;
    dialog.EDUser->setText(ReadRegistryString(m_registryRoot, valuePath(kUserValue)));
    // Exactly "0" means SQL Server authentication; anything else, missing
    // included, Windows NT. The dialog starts on Windows NT, so only "0"
    // changes a button and runs the click handler.
    if (ReadRegistryString(m_registryRoot, valuePath(kAuthenticationValue)) == u"0")
        dialog.RBsql->setChecked(true);
    else
        dialog.RBnt->setChecked(true);
}

void TVelADOMSSQLConnect::takeConfirmed(const TFMADOMSSQLConnect& dialog) {
    const bool sql = dialog.RBsql->isChecked();
    m_server = dialog.EDServer->currentText();
    m_database = dialog.CBDatabase->currentText();
    m_connectionString = dialog.ADOConnDB->ConnectionString();
    m_user = sql ? dialog.EDUser->text() : QString();
    m_password = sql ? dialog.EDPassword->text() : QString();
    m_ntAuthentification = dialog.RBnt->isChecked();
}

void TVelADOMSSQLConnect::writeToRegistry(const TFMADOMSSQLConnect& dialog) const {
    WriteRegistryString(m_registryRoot, valuePath(kServerValue), m_server);
    WriteRegistryString(m_registryRoot, valuePath(kDatabaseValue), m_database);
    // The box's text, under Windows NT authentication too.
    WriteRegistryString(m_registryRoot, valuePath(kUserValue), dialog.EDUser->text());
    WriteRegistryString(m_registryRoot, valuePath(kAuthenticationValue),
                        dialog.RBnt->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TVelADOMSSQLConnect::open() {
    QWidget* owner = qobject_cast<QWidget*>(parent());
    TFMADOMSSQLConnect dialog(owner ? owner->window() : QApplication::activeWindow());
    if (!m_registryKey.isEmpty())
        presetFromRegistry(dialog);
    dialog.PAauthentification->setHidden(!m_showAuthentification);
    dialog.PADatabase->setHidden(!m_showDatabases);
    // Presets, upper-casing and height are in place before the dialog is
    // handed over, also when it is answered without being shown.
    dialog.FormActivate();

    if (modal::exec(&dialog) != QDialog::Accepted)
        return false;
    // OK is the only way to accept; build its connection string if the
    // dialog was accepted without its button being pressed.
    if (!dialog.okHandled())
        dialog.BTOkClick();
    takeConfirmed(dialog);
    if (!m_registryKey.isEmpty())
        writeToRegistry(dialog);
    return true;
}
