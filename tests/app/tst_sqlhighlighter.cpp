// The query editor's colouring: each kind of stretch is recognised, stretches
// carry over line ends, the text itself is never touched, and very long lines,
// coloured while drawn, get the same colours in the same places.

#include "app/scripteditor.h"
#include "app/sqlhighlighter.h"

#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
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

    // A line holding every kind of stretch, closed within itself.
    static QString sample() {
        return QStringLiteral("select N'it''s', [a]]b], 12.5 /* c */ from t; ");
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
        QTest::newRow("quoted name") << "\"from\"" << 0 << 2 << int(SqlHighlighter::Bracketed);
        QTest::newRow("comment marker in quoted name")
            << "\"a--\" from" << 0 << 7 << int(SqlHighlighter::Keyword);
        QTest::newRow("quoted name over lines")
            << "\"a\nfrom\" from" << 1 << 1 << int(SqlHighlighter::Bracketed);
        QTest::newRow("nested block comment")
            << "/* /* */ from */ x" << 0 << 10 << int(SqlHighlighter::Comment);
        QTest::newRow("nested block comment over lines")
            << "/* /*\n*/ from\n*/ from" << 1 << 4 << int(SqlHighlighter::Comment);
        QTest::newRow("line after nested block comment")
            << "/* /*\n*/ from\n*/ from" << 2 << 4 << int(SqlHighlighter::Keyword);
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

    // A long line is scanned for its state and resume points only; the
    // stretches asked for anywhere in it, and the state it hands on, are
    // those the same text gets in short lines.
    void longLineStretchesMatchShortLines() {
        QTextDocument shortDoc;
        shortDoc.setDocumentLayout(new QPlainTextDocumentLayout(&shortDoc));
        SqlHighlighter reference(&shortDoc);
        shortDoc.setPlainText("/* x\ny */ \n" + sample());

        const int copies = 3 * SqlHighlighter::kLongLine / int(sample().size());
        const QString head = QStringLiteral("y */ ");
        QTextDocument doc;
        doc.setDocumentLayout(new QPlainTextDocumentLayout(&doc));
        SqlHighlighter h(&doc);
        h.setLongLinesDrawnByEditor(true);
        doc.setPlainText("/* x\n" + head + sample().repeated(copies) + "'open\nstill' from");
        const QTextBlock line = doc.findBlockByNumber(1);
        QVERIFY(h.drawnByEditor(line));
        QVERIFY(!h.drawnByEditor(doc.findBlockByNumber(2)));

        // The kind of each character as the short lines' formats give it.
        auto expected = [&](int pos) {
            if (pos < head.size())
                return kindAt(reference, shortDoc, 1, pos);
            const int inSample = int((pos - head.size()) % sample().size());
            return kindAt(reference, shortDoc, 2, inSample);
        };
        const int n = line.length() - 1;
        for (int from : {0, 4000, 4096 * 2 + 7, n - 600}) {
            const int to = from + 500;
            QList<int> kinds(to - from, SqlHighlighter::Plain);
            for (const SqlHighlighter::Stretch& s : h.stretches(line, from, to)) {
                QVERIFY(s.start >= from && s.start + s.length <= to);
                for (int i = s.start; i < s.start + s.length; ++i)
                    kinds[i - from] = s.kind;
            }
            for (int pos = from; pos < to && pos < n - 5; ++pos)
                QVERIFY2(kinds[pos - from] == expected(pos), qPrintable(QString::number(pos)));
        }
        QCOMPARE(kindAt(h, doc, 2, 0), int(SqlHighlighter::String));
        QCOMPARE(kindAt(h, doc, 2, 8), int(SqlHighlighter::Keyword));
    }

    // The editor colours a long line as it colours the same text on a short
    // line, also where a scan of the long line resumes further on.
    void editorColoursLongLineAsShort() {
        const QString text = sample().repeated(4);
        ScriptEditor editor, shortEditor;
        for (ScriptEditor* e : {&editor, &shortEditor}) {
            e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            e->setCursorWidth(0);
            e->resize(400, 200);
            e->show();
        }
        editor.setPlainText(sample().repeated(2 * SqlHighlighter::kLongLine / sample().size()));
        shortEditor.setPlainText(text);
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QVERIFY(editor.highlighter()->drawnByEditor(editor.document()->firstBlock()));
        QVERIFY(!shortEditor.highlighter()->drawnByEditor(shortEditor.document()->firstBlock()));
        // All screen lines of the short text but its last look the same.
        QTextCursor end(shortEditor.document());
        end.movePosition(QTextCursor::End);
        const QRect band(0, 0, shortEditor.viewport()->width(), shortEditor.cursorRect(end).top());
        QVERIFY(band.height() > 2 * shortEditor.fontMetrics().height());
        QCOMPARE(editor.viewport()->grab(band).toImage(),
                 shortEditor.viewport()->grab(band).toImage());
        for (int value : {0, editor.verticalScrollBar()->maximum() / 2}) {
            editor.verticalScrollBar()->setValue(value);
            const QImage shot = editor.viewport()->grab().toImage();
            QSet<QRgb> colours;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    colours.insert(shot.pixel(x, y) | 0xff000000);
            for (int k = SqlHighlighter::Comment; k <= SqlHighlighter::Number; ++k)
                QVERIFY(colours.contains(editor.highlighter()
                                             ->format(SqlHighlighter::Kind(k))
                                             .foreground()
                                             .color()
                                             .rgb()));
        }
        // Selected letters are drawn in the selection's colour.
        QTextCursor all(editor.document());
        all.select(QTextCursor::Document);
        editor.setTextCursor(all);
        const QImage selected = editor.viewport()->grab().toImage();
        const QRgb keyword =
            editor.highlighter()->format(SqlHighlighter::Keyword).foreground().color().rgb();
        for (int y = 0; y < selected.height(); ++y)
            for (int x = 0; x < selected.width(); ++x)
                QVERIFY(selected.pixel(x, y) != keyword);
    }
};

QTEST_MAIN(TestSqlHighlighter)
#include "tst_sqlhighlighter.moc"
