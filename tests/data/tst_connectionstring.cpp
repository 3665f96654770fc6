// Connection strings: parsing the strings the application builds (values
// may hold ";" and "=" unquoted), the round trip through toString(), and the
// translation into ODBC connection strings for the SQL Server driver.

#include "data/connectionstring.h"
#include "data/dataerror.h"
#include "data/odbc/odbctranslate.h"

#include <QtTest>

using data::ConnectionString;
using namespace data::odbc;

class TestConnectionString : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void roundTrip_data();
    void roundTrip();
    void setValueKeepsOrder();
    void dataSource_data();
    void dataSource();
    void translate_data();
    void translate();
    void translateOtherDriver();
    void rawBytesDriver_data();
    void rawBytesDriver();
    void closingBraceBeforeSemicolonIsRefused();
    void portWithInstanceIsRefused();
    void caFileGoesToAFreeTdsSection();
    void loginTimeout();
};

void TestConnectionString::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    const QString sql = QStringLiteral(
        "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=%1;Password=%2;Initial "
        "Catalog=%3;Data Source=%4");
    QTest::newRow("user") << sql.arg("sa", "pw", "Musterfirma", "srv") << "User ID"
                          << "sa";
    QTest::newRow("plain password") << sql.arg("sa", "pw", "db", "srv") << "Password"
                                    << "pw";
    QTest::newRow("password with ;") << sql.arg("sa", "a;b", "db", "srv") << "Password"
                                     << "a;b";
    QTest::newRow("password with ;x=y") << sql.arg("sa", "a;x=y", "db", "srv") << "Password"
                                        << "a;x=y";
    QTest::newRow("password with =") << sql.arg("sa", "a=b", "db", "srv") << "Password"
                                     << "a=b";
    QTest::newRow("password ending in ;") << sql.arg("sa", "ab;", "db", "srv") << "Password"
                                          << "ab;";
    QTest::newRow("catalog after odd password")
        << sql.arg("sa", "a;b=c", "Muster", "srv") << "Initial Catalog"
        << "Muster";
    QTest::newRow("database with ;") << sql.arg("sa", "pw", "a;b", "srv") << "Initial Catalog"
                                     << "a;b";
    QTest::newRow("empty catalog") << sql.arg("sa", "pw", "", "srv") << "Data Source"
                                   << "srv";
    QTest::newRow("empty catalog value") << sql.arg("sa", "pw", "", "srv") << "Initial Catalog"
                                         << "";
    QTest::newRow("instance") << sql.arg("sa", "pw", "db", "host\\INST1") << "Data Source"
                              << "host\\INST1";
    QTest::newRow("sspi")
        << "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial "
           "Catalog=master;Data Source=(local)"
        << "Integrated Security"
        << "SSPI";
    QTest::newRow("case-insensitive key") << "provider=X;data source=h"
                                          << "Data Source"
                                          << "h";
    QTest::newRow("quoted") << "Password=\"a;b\"\"c\";Data Source=h"
                            << "Password"
                            << "a;b\"c";
    QTest::newRow("single quoted") << "Password='x;y';Data Source=h"
                                   << "Password"
                                   << "x;y";
    QTest::newRow("blanks around") << " Data Source = h ; User ID=u"
                                   << "Data Source"
                                   << "h";
    QTest::newRow("missing") << "Data Source=h"
                             << "User ID"
                             << "";
}

void TestConnectionString::parse() {
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(ConnectionString::parse(text).value(key), value);
}

void TestConnectionString::roundTrip_data() {
    QTest::addColumn<QString>("password");
    for (const char* pw : {"plain", "a;b", "a=b", "a;Data Source=evil", "\"q\"", "'s'", " lead",
                           "trail ", "{}", ";", "=", ""})
        QTest::newRow(pw) << QString::fromUtf8(pw);
}

// Setting the string that was read back reaches the same server, database
// and credentials: parse -> toString -> parse keeps every value.
void TestConnectionString::roundTrip() {
    QFETCH(QString, password);
    ConnectionString cs;
    cs.setValue("Provider", "SQLOLEDB.1");
    cs.setValue("User ID", "u;1");
    cs.setValue("Password", password);
    cs.setValue("Initial Catalog", "d=b");
    cs.setValue("Data Source", "h,1433");
    const ConnectionString back = ConnectionString::parse(cs.toString());
    QCOMPARE(back.items().size(), cs.items().size());
    for (const auto& item : cs.items())
        QCOMPARE(back.value(item.key), item.value);
}

void TestConnectionString::setValueKeepsOrder() {
    ConnectionString cs = ConnectionString::parse("Provider=A;Data Source=h;User ID=u");
    cs.setValue("data source", "other");
    cs.setValue("Password", "p");
    QCOMPARE(cs.toString(), QStringLiteral("Provider=A;Data Source=other;User ID=u;Password=p"));
    cs.remove(u"USER ID");
    QVERIFY(!cs.contains(u"User ID"));
}

void TestConnectionString::dataSource_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("instance");
    QTest::newRow("host") << "db.example"
                          << "db.example" << 0 << "";
    QTest::newRow("host,port") << "db.example,14330"
                               << "db.example" << 14330 << "";
    QTest::newRow("host, port") << "db.example, 14330"
                                << "db.example" << 14330 << "";
    QTest::newRow("instance") << "db.example\\INST1"
                              << "db.example" << 0 << "INST1";
    QTest::newRow("(local)") << "(local)"
                             << "127.0.0.1" << 0 << "";
    QTest::newRow("(LOCAL)\\inst") << "(LOCAL)\\inst"
                                   << "127.0.0.1" << 0 << "inst";
    QTest::newRow("dot") << "."
                         << "127.0.0.1" << 0 << "";
    QTest::newRow("dot instance") << ".\\SQLEXPRESS"
                                  << "127.0.0.1" << 0 << "SQLEXPRESS";
    QTest::newRow("localhost") << "localhost,1500"
                               << "127.0.0.1" << 1500 << "";
    QTest::newRow("empty names no server") << ""
                                           << "" << 0 << "";
    QTest::newRow("tcp prefix") << "tcp:h,99"
                                << "h" << 99 << "";
    QTest::newRow("bad port") << "h,abc"
                              << "h" << 0 << "";
}

void TestConnectionString::dataSource() {
    QFETCH(QString, text);
    const ServerAddress a = parseDataSource(text);
    QTEST(a.host, "host");
    QTEST(a.port, "port");
    QTEST(a.instance, "instance");
}

void TestConnectionString::translate_data() {
    QTest::addColumn<QString>("ado");
    QTest::addColumn<QStringList>("expected"); // items that must be in the ODBC string
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("sql login")
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=pw;Initial "
           "Catalog=Musterfirma;Data Source=srv,1500"
        << QStringList{"DRIVER={FreeTDS}",
                       "Server=srv",
                       "Port=1500",
                       "Database=Musterfirma",
                       "UID=sa",
                       "PWD=pw",
                       "TDS_Version=7.4",
                       "ClientCharset=UTF-8",
                       "Encryption=request"}
        << QStringList{"Trusted_Connection"};
    QTest::newRow("default port") << "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=srv"
                                  << QStringList{"Server=srv", "Port=1433"} << QStringList{};
    QTest::newRow("instance: browser lookup, no port")
        << "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=srv\\INST1"
        << QStringList{"Server=srv\\INST1"} << QStringList{"Port="};
    QTest::newRow("sspi")
        << "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial "
           "Catalog=master;Data Source=(local)"
        << QStringList{"Trusted_Connection=Yes", "Server=127.0.0.1", "Database=master"}
        << QStringList{"UID=", "PWD="};
    // The FreeTDS driver takes a "}" inside braces as it stands.
    QTest::newRow("password quoted in braces")
        << "Provider=SQLOLEDB.1;User ID=sa;Password=a;b}c;Initial Catalog=db;Data Source=h"
        << QStringList{"PWD={a;b}c}", "Database=db"} << QStringList{};
    QTest::newRow("blanks and braces in the user name")
        << "Provider=SQLOLEDB.1;User ID=\" {u} \";Password=p;Data Source=h"
        << QStringList{";UID={ {u} };"} << QStringList{};
    QTest::newRow("a braced value last is still ended")
        << "Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=h;Application Name=a;b"
        << QStringList{";APP={a;b};"} << QStringList{};
    QTest::newRow("empty catalog omitted")
        << "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Initial Catalog=;Data Source=h"
        << QStringList{"Server=h"} << QStringList{"Database="};
    QTest::newRow("encryption required by the string")
        << "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=h;Use Encryption for Data=True"
        << QStringList{"Encryption=require"} << QStringList{"Encryption=request"};
    QTest::newRow("packet size")
        << "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=h;Packet Size=32767"
        << QStringList{"PacketSize=32767"} << QStringList{};
    QTest::newRow("packet size out of range")
        << "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=h;Packet Size=100000"
        << QStringList{} << QStringList{"PacketSize"};
    QTest::newRow("application name")
        << "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=h;Application Name=tw"
        << QStringList{"APP=tw"} << QStringList{};
}

void TestConnectionString::translate() {
    QFETCH(QString, ado);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, absent);
    const QString odbc =
        data::odbc::translate(ConnectionString::parse(ado), 15, DriverSettings{}).connectionString;
    const QStringList items = odbc.split(QLatin1Char(';'));
    for (const QString& e : expected) {
        if (e.contains(QLatin1Char('{')))
            QVERIFY2(odbc.contains(e), qPrintable(odbc));
        else
            QVERIFY2(items.contains(e), qPrintable(odbc + " lacks " + e));
    }
    for (const QString& a : absent)
        QVERIFY2(!odbc.contains(a), qPrintable(odbc + " has " + a));
}

void TestConnectionString::translateOtherDriver() {
    DriverSettings s;
    s.driver = QStringLiteral("ODBC Driver 18 for SQL Server");
    s.encryption = QStringLiteral("require");
    const QString odbc =
        data::odbc::translate(ConnectionString::parse(
                                  "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=h,1500"),
                              15, s)
            .connectionString;
    QVERIFY2(odbc.startsWith("DRIVER={ODBC Driver 18 for SQL Server};"), qPrintable(odbc));
    QVERIFY2(odbc.contains(";Server=h,1500;"), qPrintable(odbc));
    QVERIFY2(odbc.contains(";Encrypt=yes"), qPrintable(odbc));
    QVERIFY(!odbc.contains("TDS_Version"));
}

void TestConnectionString::closingBraceBeforeSemicolonIsRefused() {
    // The FreeTDS driver ends a braced value at "};": such a password cannot be given to it.
    QVERIFY_THROWS_EXCEPTION(
        data::DataError,
        data::odbc::translate(ConnectionString::parse("User ID=a;Password=\"x};y\";Data Source=h"),
                              15, DriverSettings{}));
    DriverSettings other;
    other.driver = QStringLiteral("ODBC Driver 18 for SQL Server");
    QVERIFY(data::odbc::translate(
                ConnectionString::parse("User ID=a;Password=\"x};y\";Data Source=h"), 15, other)
                .connectionString.contains(";PWD={x}};y};"));
}

void TestConnectionString::portWithInstanceIsRefused() {
    QVERIFY_THROWS_EXCEPTION(
        data::DataError,
        data::odbc::translate(ConnectionString::parse("User ID=a;Data Source=h\\I,1500"), 15,
                              DriverSettings{}));
}

void TestConnectionString::caFileGoesToAFreeTdsSection() {
    DriverSettings s;
    s.caFile = QStringLiteral("/etc/ca.pem");
    const auto ado = ConnectionString::parse("User ID=a;Password=p;Data Source=h\\INST");
    const data::odbc::OdbcTarget t = data::odbc::translate(ado, 15, s);
    QVERIFY2(t.connectionString.contains(";Servername=tarnwick;"), qPrintable(t.connectionString));
    QVERIFY(!t.connectionString.contains(";Server="));
    QVERIFY(t.connectionString.contains(";Encryption=require"));
    QCOMPARE(t.freetdsConf, QStringLiteral("[tarnwick]\nhost = h\ninstance = INST\n"
                                           "ca file = /etc/ca.pem\n"
                                           "check certificate hostname = yes\n"));
    // Asked for explicitly, a server without TLS is let in (and nothing checked).
    s.encryption = QStringLiteral("request");
    QVERIFY(data::odbc::translate(ado, 15, s).connectionString.contains(";Encryption=request"));
    // A line break would smuggle a setting of its own into the file.
    s.caFile = QStringLiteral("/tmp/x.pem\nca file = system");
    QVERIFY_THROWS_EXCEPTION(data::DataError, data::odbc::translate(ado, 15, s));
}

void TestConnectionString::loginTimeout() {
    QCOMPARE(data::odbc::translate(ConnectionString::parse("Data Source=h"), 15, {}).loginTimeout,
             15);
    QCOMPARE(data::odbc::translate(ConnectionString::parse("Data Source=h"), 5, {}).loginTimeout,
             5);
    QCOMPARE(
        data::odbc::translate(ConnectionString::parse("Data Source=h;Connect Timeout=3"), 15, {})
            .loginTimeout,
        3);
}

void TestConnectionString::rawBytesDriver_data() {
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("raw");
    QTest::newRow("FreeTDS 1.3") << "FreeTDS"
                                 << "01.03.0017" << true;
    QTest::newRow("FreeTDS 1.4") << "FreeTDS"
                                 << "01.04.0001" << true;
    QTest::newRow("FreeTDS 2") << "FreeTDS"
                               << "02.00.0000" << true;
    QTest::newRow("FreeTDS 1.2") << "FreeTDS"
                                 << "01.02.0011" << false;
    QTest::newRow("FreeTDS 0.95") << "FreeTDS"
                                  << "00.95.0081" << false;
    QTest::newRow("no version") << "FreeTDS"
                                << "" << false;
    QTest::newRow("garbage") << "FreeTDS"
                             << "x.y" << false;
    QTest::newRow("by library name") << "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"
                                     << "01.03.0017" << true;
    QTest::newRow("other driver") << "ODBC Driver 18 for SQL Server"
                                  << "18.03.0001" << false;
}

void TestConnectionString::rawBytesDriver() {
    QFETCH(QString, driver);
    QFETCH(QString, version);
    QTEST(driverHandsRawBytes(driver, version), "raw");
}

QTEST_APPLESS_MAIN(TestConnectionString)
#include "tst_connectionstring.moc"
