#include "data/odbc/odbctranslate.h"

#include "data/dataerror.h"

#include <QFileInfo>
#include <QtGlobal>

namespace data::odbc {

DriverSettings settingsFromEnvironment() {
    DriverSettings s;
    const QString driver = qEnvironmentVariable("TARNWICK_ODBC_DRIVER").trimmed();
    if (!driver.isEmpty())
        s.driver = driver;
    s.encryption = qEnvironmentVariable("TARNWICK_ODBC_ENCRYPTION").trimmed().toLower();
    const QString tds = qEnvironmentVariable("TARNWICK_TDS_VERSION").trimmed();
    if (!tds.isEmpty())
        s.tdsVersion = tds;
    const QString caFile = qEnvironmentVariable("TARNWICK_ODBC_CAFILE").trimmed();
    // "system": the authorities the system trusts, as FreeTDS spells it.
    if (!caFile.isEmpty())
        s.caFile =
            caFile == QLatin1String("system") ? caFile : QFileInfo(caFile).absoluteFilePath();
    return s;
}

bool isFreeTdsDriver(const QString& driver) {
    return driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive) ||
           driver.contains(QLatin1String("tdsodbc"), Qt::CaseInsensitive);
}

bool driverHandsRawBytes(const QString& driver, const QString& driverVersion) {
    if (!isFreeTdsDriver(driver))
        return false;
    const QStringList parts = driverVersion.trimmed().split(QLatin1Char('.'));
    bool majorOk = false, minorOk = false;
    const int major = parts.value(0).toInt(&majorOk);
    const int minor = parts.value(1).toInt(&minorOk);
    return majorOk && minorOk && (major > 1 || (major == 1 && minor >= 3));
}

bool isTrue(const QString& value) {
    const QString v = value.trimmed().toLower();
    return v == QLatin1String("true") || v == QLatin1String("yes") || v == QLatin1String("1") ||
           v == QLatin1String("sspi") || v == QLatin1String("on");
}

ServerAddress parseDataSource(const QString& dataSource) {
    ServerAddress a;
    QString s = dataSource.trimmed();
    if (s.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        s = s.mid(4);
    const qsizetype comma = s.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        bool ok = false;
        const int port = s.mid(comma + 1).trimmed().toInt(&ok);
        if (ok && port > 0 && port < 65536)
            a.port = port;
        s = s.left(comma).trimmed();
    }
    const qsizetype slash = s.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        a.instance = s.mid(slash + 1).trimmed();
        s = s.left(slash).trimmed();
    }
    if (s == QLatin1String(".") || s.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0 ||
        s.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        s = QStringLiteral("127.0.0.1");
    a.host = s;
    return a;
}

QString odbcValue(const QString& value, bool freetds) {
    const bool plain = !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
                       !value.contains(QLatin1Char('}')) && !value.contains(QLatin1Char('=')) &&
                       value.trimmed() == value;
    if (plain)
        return value;
    QString v = value;
    if (freetds) {
        // The FreeTDS driver ends a value in braces at the first "}" that a ";"
        // follows and takes everything before it as it stands: a "}" is
        // written once, and a value holding "};" cannot be given at all.
        if (v.contains(QLatin1String("};")))
            throw DataError(QStringLiteral("Der ODBC-Treiber kann keinen Wert übernehmen, der "
                                           "\"};\" enthält"));
    } else {
        v.replace(QLatin1Char('}'), QStringLiteral("}}"));
    }
    return QLatin1Char('{') + v + QLatin1Char('}');
}

namespace {

// The freetds.conf section that names the server and the certificate check.
QString freeTdsSection(const ServerAddress& address, const QString& caFile) {
    // One setting per line: a line break in a value would start another.
    for (const QString& v : {address.host, address.instance, caFile})
        if (v.contains(QLatin1Char('\n')) || v.contains(QLatin1Char('\r')))
            throw DataError(QStringLiteral("Ungültige Angabe \"%1\": Zeilenumbruch").arg(v));
    QStringList conf{QLatin1Char('[') + QLatin1String(kFreeTdsSection) + QLatin1Char(']'),
                     QStringLiteral("host = ") + address.host};
    if (address.instance.isEmpty())
        conf << QStringLiteral("port = %1").arg(address.port ? address.port : 1433);
    else
        conf << QStringLiteral("instance = ") + address.instance;
    conf << QStringLiteral("ca file = ") + caFile
         << QStringLiteral("check certificate hostname = yes");
    return conf.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

OdbcTarget translate(const ConnectionString& ado, int connectionTimeout,
                     const DriverSettings& settings) {
    const bool freetds = isFreeTdsDriver(settings.driver);
    QStringList parts;
    auto add = [&](const char* key, const QString& value) {
        parts.append(QLatin1String(key) + QLatin1Char('=') + odbcValue(value, freetds));
    };
    parts.append(QStringLiteral("DRIVER={") +
                 QString(settings.driver).replace(QLatin1Char('}'), QStringLiteral("}}")) +
                 QLatin1Char('}'));

    QString dataSource = ado.value(u"Data Source");
    if (dataSource.isEmpty())
        dataSource = ado.value(u"Server");
    if (dataSource.isEmpty())
        dataSource = ado.value(u"Network Address");
    const ServerAddress address = parseDataSource(dataSource);
    if (address.port && !address.instance.isEmpty() && freetds)
        throw DataError(QStringLiteral("Ungültige Serverangabe \"%1\": Port und Instanzname "
                                       "schließen sich aus")
                            .arg(dataSource));
    QString freetdsConf;
    if (freetds) {
        if (settings.caFile.isEmpty()) {
            add("Server", address.instance.isEmpty()
                              ? address.host
                              : address.host + QLatin1Char('\\') + address.instance);
            if (address.instance.isEmpty())
                add("Port", QString::number(address.port ? address.port : 1433));
        } else {
            freetdsConf = freeTdsSection(address, settings.caFile);
            add("Servername", QLatin1String(kFreeTdsSection));
        }
        add("TDS_Version", settings.tdsVersion);
        add("ClientCharset", QStringLiteral("UTF-8"));
    } else {
        QString server = address.host;
        if (!address.instance.isEmpty())
            server += QLatin1Char('\\') + address.instance;
        else if (address.port)
            server += QLatin1Char(',') + QString::number(address.port);
        add("Server", server);
    }

    QString database = ado.value(u"Initial Catalog");
    if (database.isEmpty())
        database = ado.value(u"Database");
    if (!database.isEmpty())
        add("Database", database);

    const bool integrated =
        isTrue(ado.value(u"Integrated Security")) || isTrue(ado.value(u"Trusted_Connection"));
    if (integrated) {
        // The Kerberos ticket of the user (kinit) logs in.
        add("Trusted_Connection", QStringLiteral("Yes"));
    } else {
        QString user = ado.value(u"User ID");
        if (!ado.contains(u"User ID"))
            user = ado.value(u"UID");
        QString password = ado.value(u"Password");
        if (!ado.contains(u"Password"))
            password = ado.value(u"PWD");
        add("UID", user);
        add("PWD", password);
    }

    // Encryption: asked for by the string, by the environment, or requested
    // whenever the server offers it. A CA file asks for a checked server;
    // a server that offers no TLS at all would slip past that check, so it
    // is refused unless the environment says otherwise.
    QString encryption = settings.encryption;
    if (isTrue(ado.value(u"Use Encryption for Data")) || isTrue(ado.value(u"Encrypt")))
        encryption = QStringLiteral("require");
    if (encryption.isEmpty())
        encryption =
            settings.caFile.isEmpty() ? QStringLiteral("request") : QStringLiteral("require");
    const bool trust = isTrue(ado.value(u"Trust Server Certificate"));
    if (freetds) {
        add("Encryption", encryption);
    } else {
        const QString mode = encryption == QLatin1String("require")  ? QStringLiteral("yes")
                             : encryption == QLatin1String("strict") ? QStringLiteral("strict")
                             : encryption == QLatin1String("off")    ? QStringLiteral("no")
                                                                     : QStringLiteral("optional");
        add("Encrypt", mode);
        if (trust)
            add("TrustServerCertificate", QStringLiteral("yes"));
    }

    const QString app = ado.value(u"Application Name");
    if (!app.isEmpty())
        add("APP", app);
    const QString wsid = ado.value(u"Workstation ID");
    if (!wsid.isEmpty())
        add("WSID", wsid);
    const QString packet = ado.value(u"Packet Size");
    if (!packet.isEmpty() && freetds) {
        bool ok = false;
        const int size = packet.trimmed().toInt(&ok);
        if (ok && size >= 512 && size <= 32767)
            add("PacketSize", QString::number(size));
    }

    OdbcTarget t;
    t.connectionString = parts.join(QLatin1Char(';'));
    // A value in braces ends at a "}" that a ";" follows; at the very end of
    // the string the FreeTDS driver would keep the "}" as part of the value.
    if (t.connectionString.endsWith(QLatin1Char('}')))
        t.connectionString += QLatin1Char(';');
    t.integrated = integrated;
    t.host = address.host;
    if (address.instance.isEmpty())
        t.port = address.port ? address.port : 1433;
    t.freetdsConf = freetdsConf;
    t.address = address;
    t.encryption = encryption;
    t.loginTimeout = connectionTimeout;
    const QString timeout = ado.contains(u"Connect Timeout") ? ado.value(u"Connect Timeout")
                                                             : ado.value(u"Connection Timeout");
    bool ok = false;
    const int fromString = timeout.trimmed().toInt(&ok);
    if (ok && fromString >= 0)
        t.loginTimeout = fromString;
    return t;
}

} // namespace data::odbc
