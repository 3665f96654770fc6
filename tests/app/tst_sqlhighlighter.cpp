// The query editor's colouring: each kind of stretch is recognised, stretches
// carry over line ends, and the text itself is never touched.

#include "app/sqlhighlighter.h"

#include <QPlainTextDocumentLayout>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

class TestSqlHighlighter : public QObject {
    Q_OBJECT

    // The kind the highlighter gave the character at `pos` of line `line`.
    static int kindAt(const SqlHighlighter& h, const QTextDocument& doc, int line, int pos) {
        const QTextBlock block = doc.findBlockByNumber(line);
        for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
            if (pos >= r.start && pos < r.start + r.length) {
                for (int k = SqlHighlighter::Comment; k <= SqlHighlighter::Number; ++k)
                    if (r.format == h.format(SqlHighlighter::Kind(k)))
                        return k;
            }
        }
        return SqlHighlighter::Plain;
    }

private slots:
    void kinds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("pos");
        QTest::addColumn<int>("kind");
        QTest::newRow("keyword") << "select a from t" << 0 << 0 << int(SqlHighlighter::Keyword);
        QTest::newRow("keyword any case") << "SeLeCt a" << 0 << 3 << int(SqlHighlighter::Keyword);
        QTest::newRow("plain name") << "select abc" << 0 << 8 << int(SqlHighlighter::Plain);
        QTest::newRow("keyword inside name") << "selected" << 0 << 0 << int(SqlHighlighter::Plain);
        QTest::newRow("string") << "x = 'from'" << 0 << 6 << int(SqlHighlighter::String);
        QTest::newRow("doubled quote stays in string")
            << "'it''s from'" << 0 << 8 << int(SqlHighlighter::String);
        QTest::newRow("after string") << "'a' from" << 0 << 5 << int(SqlHighlighter::Keyword);
        QTest::newRow("unicode literal") << "N'abc'" << 0 << 0 << int(SqlHighlighter::String);
        QTest::newRow("line comment") << "a -- select" << 0 << 6 << int(SqlHighlighter::Comment);
        QTest::newRow("comment marker in string")
            << "'--' from" << 0 << 5 << int(SqlHighlighter::Keyword);
        QTest::newRow("block comment")
            << "/* select */ from" << 0 << 4 << int(SqlHighlighter::Comment);
        QTest::newRow("after block comment")
            << "/* x */ from" << 0 << 9 << int(SqlHighlighter::Keyword);
        QTest::newRow("slash star slash is open")
            << "/*/ select" << 0 << 5 << int(SqlHighlighter::Comment);
        QTest::newRow("block comment over lines")
            << "/* a\nselect */ from" << 1 << 2 << int(SqlHighlighter::Comment);
        QTest::newRow("line after block comment")
            << "/* a\n*/ from" << 1 << 4 << int(SqlHighlighter::Keyword);
        QTest::newRow("string over lines")
            << "'a\nselect' from" << 1 << 2 << int(SqlHighlighter::String);
        QTest::newRow("bracketed") << "[from]" << 0 << 2 << int(SqlHighlighter::Bracketed);
        QTest::newRow("doubled bracket")
            << "[a]]from] x" << 0 << 5 << int(SqlHighlighter::Bracketed);
        QTest::newRow("number") << "top 50" << 0 << 4 << int(SqlHighlighter::Number);
        QTest::newRow("digits in name") << "t50" << 0 << 1 << int(SqlHighlighter::Plain);
    }

    void kinds() {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, pos);
        QFETCH(int, kind);
        QTextDocument doc;
        doc.setDocumentLayout(new QPlainTextDocumentLayout(&doc));
        SqlHighlighter h(&doc);
        doc.setPlainText(text);
        QCOMPARE(kindAt(h, doc, line, pos), kind);
    }

    void textUntouched() {
        const QString text = QStringLiteral("select 'a''b' -- x\r\n/* y */ [z]]] from t\n\n1");
        QTextDocument doc;
        doc.setDocumentLayout(new QPlainTextDocumentLayout(&doc));
        doc.setPlainText(text);
        const QString before = doc.toPlainText();
        const int blocks = doc.blockCount();
        SqlHighlighter h(&doc);
        h.rehighlight();
        QCOMPARE(doc.toPlainText(), before);
        QCOMPARE(doc.blockCount(), blocks);
        QVERIFY(!doc.isUndoAvailable());
    }
};

QTEST_MAIN(TestSqlHighlighter)
#include "tst_sqlhighlighter.moc"
