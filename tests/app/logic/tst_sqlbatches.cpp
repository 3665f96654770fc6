// Splitting a script into batches at its GO lines: which lines are GO lines,
// which batches are left out, and the line each batch starts at.

#include "app/logic/sqlbatches.h"
#include "app/logic/sqlscanner.h"

#include <QTest>

class TestSqlBatches : public QObject {
    Q_OBJECT

    // The batches as "firstLine*repeat:text", text with "\n" shown as "|".
    static QStringList render(const QList<SqlBatch>& batches) {
        QStringList out;
        for (const SqlBatch& b : batches)
            out << QStringLiteral("%1*%2:%3")
                       .arg(b.firstLine)
                       .arg(b.repeat)
                       .arg(QString(b.text).replace(u'\n', u'|'));
        return out;
    }

private slots:
    void split_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("no GO") << "select 1\nselect 2" << QStringList{"0*1:select 1|select 2"};
        QTest::newRow("two batches") << "select 1\nGO\nselect 2\n"
                                     << QStringList{"0*1:select 1", "2*1:select 2|"};
        QTest::newRow("any case, blanks and tabs")
            << "a\n \tgO\t \nb" << QStringList{"0*1:a", "2*1:b"};
        QTest::newRow("count") << "a\ngo 3\nb" << QStringList{"0*3:a", "2*1:b"};
        QTest::newRow("count with zeros in front") << "a\nGO 007" << QStringList{"0*7:a"};
        QTest::newRow("line comment after GO")
            << "a\nGO -- end of a\nb" << QStringList{"0*1:a", "2*1:b"};
        QTest::newRow("line comment right after GO")
            << "a\nGO--x\nb" << QStringList{"0*1:a", "2*1:b"};
        QTest::newRow("count and comment") << "a\nGO 2 -- twice" << QStringList{"0*2:a"};
        QTest::newRow("closed block comment on GO line")
            << "a\nGO /* x */\nb" << QStringList{"0*1:a", "2*1:b"};
        QTest::newRow("CR LF line ends")
            << "a\r\nGO\r\nb\r\nc" << QStringList{"0*1:a", "2*1:b\r|c"};
        QTest::newRow("CR line ends") << "a\rGO\rb" << QStringList{"0*1:a", "2*1:b"};

        // Empty batches and those of comments only are left out; line numbers
        // still count every line of the script.
        QTest::newRow("GO first and last") << "GO\na\nGO\n" << QStringList{"1*1:a"};
        QTest::newRow("GO twice") << "a\nGO\nGO\nb" << QStringList{"0*1:a", "3*1:b"};
        QTest::newRow("blank batch") << "a\nGO\n  \n\t\nGO\nb" << QStringList{"0*1:a", "5*1:b"};
        QTest::newRow("comment-only batch")
            << "a\nGO\n-- x\n/* y\n*/\nGO 5\nb" << QStringList{"0*1:a", "6*1:b"};
        QTest::newRow("leading blank lines kept")
            << "a\nGO\n\n  b" << QStringList{"0*1:a", "2*1:|  b"};
        QTest::newRow("empty text") << "" << QStringList{};
        QTest::newRow("only GO") << "GO" << QStringList{};

        // GO anywhere else is text of the batch.
        QTest::newRow("GO as a name") << "select 1 as go\ngo" << QStringList{"0*1:select 1 as go"};
        QTest::newRow("GO with semicolon") << "a\nGO;\nb" << QStringList{"0*1:a|GO;|b"};
        QTest::newRow("GO 0") << "a\nGO 0\nb" << QStringList{"0*1:a|GO 0|b"};
        QTest::newRow("GO negative") << "a\nGO -1\nb" << QStringList{"0*1:a|GO -1|b"};
        QTest::newRow("GO junk") << "a\nGO 2x\nb" << QStringList{"0*1:a|GO 2x|b"};
        QTest::newRow("GO two counts") << "a\nGO 2 3" << QStringList{"0*1:a|GO 2 3"};
        QTest::newRow("GO fraction") << "a\nGO 1.5" << QStringList{"0*1:a|GO 1.5"};
        QTest::newRow("GO count too large")
            << "a\nGO 99999999999" << QStringList{"0*1:a|GO 99999999999"};
        QTest::newRow("GO glued to a word") << "a\nGO1\ngoto x" << QStringList{"0*1:a|GO1|goto x"};
        QTest::newRow("GO in a string")
            << "select 'a\nGO\nb'\nGO" << QStringList{"0*1:select 'a|GO|b'"};
        QTest::newRow("GO in a bracketed name")
            << "select [a\nGO\n]\nGO" << QStringList{"0*1:select [a|GO|]"};
        QTest::newRow("GO in a quoted name")
            << "select \"a\ngo\n\"" << QStringList{"0*1:select \"a|go|\""};
        QTest::newRow("GO in a block comment")
            << "a /*\nGO\n*/ b\nGO\nc" << QStringList{"0*1:a /*|GO|*/ b", "4*1:c"};
        QTest::newRow("GO in a nested block comment")
            << "/* /* */\nGO\n*/ a" << QStringList{"0*1:/* /* */|GO|*/ a"};
        QTest::newRow("GO opening a block comment")
            << "a\nGO /* x\n*/ b" << QStringList{"0*1:a|GO /* x|*/ b"};
        QTest::newRow("GO after a closed string")
            << "select 'x'\nGO\nb" << QStringList{"0*1:select 'x'", "2*1:b"};
    }

    void split() {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(render(splitBatches(text)), expected);
    }

    // The server's line n of a batch is the script's line firstLine + n - 1,
    // also after the comments are removed.
    void linesOfStrippedBatches() {
        const QString text = QStringLiteral(
            "-- head\nselect 1\nGO\n/* a\nb */ select 'x\ny'\nselect 2 -- c\nGO 2\nselect 3");
        const QStringList lines = text.split(u'\n');
        const QList<SqlBatch> batches = splitBatches(text);
        QCOMPARE(batches.size(), 3);
        QCOMPARE(batches[1].repeat, 2);
        const QList<int> lineCounts{2, 4, 1};
        for (int i = 0; i < batches.size(); ++i) {
            const SqlBatch& b = batches[i];
            const QStringList stripped = stripComments(b.text).split(u'\n');
            QCOMPARE(stripped.size(), lineCounts[i]);
            for (int n = 0; n < stripped.size(); ++n)
                QVERIFY2(lines[b.firstLine + n].contains(stripped[n].trimmed()),
                         qPrintable(stripped[n]));
        }
        QCOMPARE(batches[1].firstLine, 3);
        QCOMPARE(stripComments(batches[1].text), QStringLiteral("\n select 'x\ny'\nselect 2 "));
        QCOMPARE(stripComments(batches[2].text), QStringLiteral("select 3"));
        QCOMPARE(batches[2].firstLine, 8);
    }
};

QTEST_GUILESS_MAIN(TestSqlBatches)
#include "tst_sqlbatches.moc"
