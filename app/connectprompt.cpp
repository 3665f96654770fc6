#include "app/connectprompt.h"

#include "connection/VelADOMSSQLConnect.h"
#include "settings/registry.h"

#include <QWidget>

namespace {

// The main window's connection component: no database choice in its dialog,
// its values kept under the program's settings key.
class ConnectionComponent : public ConnectPrompt {
public:
    explicit ConnectionComponent(QWidget* owner) : m_component(owner) {
        m_component.setObjectName(QStringLiteral("VelADOMSSQLConnect"));
        m_component.setShowDatabases(false);
        m_component.setRegistryRoot(rrCurrentUser);
        m_component.setRegistryKey(QString::fromLatin1(settings::kSettingsKey));
    }
    bool open() override { return m_component.open(); }
    QString Server() const override { return m_component.Server(); }
    QString User() const override { return m_component.User(); }
    QString Password() const override { return m_component.Password(); }
    bool NTAuthentification() const override { return m_component.NTAuthentification(); }

private:
    TVelADOMSSQLConnect m_component;
};

} // namespace

std::unique_ptr<ConnectPrompt> createConnectionComponent(QWidget* owner) {
    return std::make_unique<ConnectionComponent>(owner);
}
