// ":name" parameter markers of command texts.

#include "data/sqlparams.h"

#include <QtTest>

class TestSqlParams : public QObject {
    Q_OBJECT
private slots:
    void markers_data();
    void markers();
};

void TestSqlParams::markers_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("none") << "select 1"
                          << "select 1" << QStringList{};
    QTest::newRow("one") << "select * from t where id = :id"
                         << "select * from t where id = ?" << QStringList{"id"};
    QTest::newRow("two, repeat kept")
        << "update t set a=:a, b=:b where a=:a"
        << "update t set a=?, b=? where a=?" << QStringList{"a", "b", "a"};
    QTest::newRow("digits and underscore") << "values(:p_1,:2x)"
                                           << "values(?,?)" << QStringList{"p_1", "2x"};
    QTest::newRow("umlaut name") << "where x=:Größe"
                                 << "where x=?" << QStringList{"Größe"};
    QTest::newRow("in literal") << "select ':x', :y"
                                << "select ':x', ?" << QStringList{"y"};
    QTest::newRow("doubled quote in literal") << "select 'it''s :x', :y"
                                              << "select 'it''s :x', ?" << QStringList{"y"};
    QTest::newRow("double-quoted name") << "select \"a:b\" from t"
                                        << "select \"a:b\" from t" << QStringList{};
    QTest::newRow("bracketed name") << "select [a:b], [c]]:d] from t"
                                    << "select [a:b], [c]]:d] from t" << QStringList{};
    QTest::newRow("double colon") << "select a::b, ::c"
                                  << "select a::b, ::c" << QStringList{};
    QTest::newRow("lone colon") << "select a : b, x:"
                                << "select a : b, x:" << QStringList{};
    QTest::newRow("line comment") << "select 1 -- :x\n, :y"
                                  << "select 1 -- :x\n, ?" << QStringList{"y"};
    QTest::newRow("block comment") << "select /* :x */ :y"
                                   << "select /* :x */ ?" << QStringList{"y"};
    QTest::newRow("unclosed literal") << "select ':x"
                                      << "select ':x" << QStringList{};
    QTest::newRow("marker at end") << "exec p :last"
                                   << "exec p ?" << QStringList{"last"};
}

void TestSqlParams::markers() {
    QFETCH(QString, sql);
    const data::ParsedParameters p = data::parseParameters(sql);
    QTEST(p.text, "sent");
    QTEST(p.names, "names");
}

QTEST_APPLESS_MAIN(TestSqlParams)
#include "tst_sqlparams.moc"
