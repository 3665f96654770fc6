#include "tests/support/tlsmatrix.h"

#include <QtGlobal>

const std::vector<EncryptionCase>& encryptionMatrix() {
    using S = ServerTls;
    using O = Outcome;
    static const std::vector<EncryptionCase> cases = {
        {"default / no TLS", "", CaChoice::None, S::None, O::Clear},
        {"default / off", "", CaChoice::None, S::Off, O::LoginOnly},
        {"default / on", "", CaChoice::None, S::On, O::Full},
        {"default / required", "", CaChoice::None, S::Required, O::Full},
        {"default / wrong name", "", CaChoice::None, S::WrongName, O::Full},
        {"off / no TLS", "off", CaChoice::None, S::None, O::Clear},
        {"off / off", "off", CaChoice::None, S::Off, O::Clear},
        {"off / on", "off", CaChoice::None, S::On, O::Full},
        {"off / required", "off", CaChoice::None, S::Required, O::Full},
        {"require / no TLS", "require", CaChoice::None, S::None, O::NoTls},
        {"require / off", "require", CaChoice::None, S::Off, O::Full},
        {"require / on", "require", CaChoice::None, S::On, O::Full},
        {"require / required", "require", CaChoice::None, S::Required, O::Full},
        {"CA file / no TLS", "", CaChoice::Issuer, S::None, O::NoTls},
        {"CA file / off", "", CaChoice::Issuer, S::Off, O::Full},
        {"CA file / on", "", CaChoice::Issuer, S::On, O::Full},
        {"CA file / required", "", CaChoice::Issuer, S::Required, O::Full},
        {"CA file / wrong name", "", CaChoice::Issuer, S::WrongName, O::BadCert},
        {"foreign CA / no TLS", "", CaChoice::Foreign, S::None, O::NoTls},
        {"foreign CA / off", "", CaChoice::Foreign, S::Off, O::BadCert},
        {"foreign CA / on", "", CaChoice::Foreign, S::On, O::BadCert},
        {"foreign CA / required", "", CaChoice::Foreign, S::Required, O::BadCert},
    };
    return cases;
}

EncryptionLab::EncryptionLab() {
    const std::pair<ServerTls, std::vector<std::string>> setups[] = {
        {ServerTls::None, {}},
        {ServerTls::Off, m_certs.serverArgs("off")},
        {ServerTls::On, m_certs.serverArgs("on")},
        {ServerTls::Required, m_certs.serverArgs("required")},
        {ServerTls::WrongName, m_certs.serverArgs("on", true)},
    };
    for (const auto& [setting, args] : setups) {
        m_servers[setting] = std::make_unique<TestServer>(args);
        m_relays[setting] = std::make_unique<TcpRelay>(m_servers[setting]->port());
    }
}

EncryptionLab::~EncryptionLab() {
    qunsetenv("TARNWICK_ODBC_ENCRYPTION");
    qunsetenv("TARNWICK_ODBC_CAFILE");
}

void EncryptionLab::applyClientSettings(const EncryptionCase& c) const {
    if (*c.encryption)
        qputenv("TARNWICK_ODBC_ENCRYPTION", c.encryption);
    else
        qunsetenv("TARNWICK_ODBC_ENCRYPTION");
    if (c.ca == CaChoice::None)
        qunsetenv("TARNWICK_ODBC_CAFILE");
    else
        qputenv("TARNWICK_ODBC_CAFILE",
                QByteArray::fromStdString(c.ca == CaChoice::Issuer ? m_certs.caFile
                                                                   : m_certs.otherCaFile));
}

QString EncryptionLab::verifyWire(const EncryptionCase& c, const TcpRelay& relay,
                                  const std::string& password, const std::string& marker) {
    const std::string sent = relay.fromClients();
    if (sent.empty())
        return QStringLiteral("nothing crossed the relay");
    const bool passwordInClear = containsPassword(sent, password);
    const bool markerInClear = containsText(sent, marker);
    switch (c.outcome) {
    case Outcome::Clear:
        // The password crosses in clear here, which shows the check can see it.
        if (!passwordInClear || !markerInClear)
            return QStringLiteral("expected a login and a query in clear");
        break;
    case Outcome::LoginOnly:
        if (passwordInClear)
            return QStringLiteral("the password crossed in clear");
        if (!markerInClear)
            return QStringLiteral("expected the query in clear after an encrypted login");
        break;
    case Outcome::Full:
        if (passwordInClear || markerInClear)
            return QStringLiteral("bytes crossed in clear on an encrypted connection");
        if (containsText(relay.toClients(), marker))
            return QStringLiteral("the server's reply crossed in clear");
        break;
    case Outcome::NoTls:
    case Outcome::BadCert:
        if (passwordInClear)
            return QStringLiteral("the password crossed in clear to a refused server");
        break;
    }
    return {};
}

QString EncryptionLab::verifyRefusal(const EncryptionCase& c, const QString& message) {
    const char* expected = c.outcome == Outcome::NoTls ? "bietet keine verschlüsselte Verbindung"
                                                       : "wurde nicht anerkannt";
    if (!message.contains(QString::fromUtf8(expected)))
        return QStringLiteral("unexpected message: ") + message;
    return {};
}
