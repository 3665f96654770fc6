// The T-SQL scanner: tokens of every kind and where they end, the state a line
// hands to the next, the same tokens line by line as for the whole text, and
// the UTF-8 scanner agreeing with the UTF-16 one.

#include "app/logic/sqlscanner.h"

#include <QRegularExpression>
#include <QTest>

class TestSqlScanner : public QObject {
    Q_OBJECT

    // The tokens as "kind:text" joined with blanks; blanks themselves show as "ws".
    static QString render(QStringView text, const QList<SqlToken>& tokens) {
        static const char* names[] = {"ws", "br", "kw", "id", "num", "str",
                                      "qn", "bn", "lc", "bc", "op"};
        QStringList parts;
        for (const SqlToken& t : tokens) {
            const QString name = QString::fromLatin1(names[int(t.kind)]);
            if (t.kind == SqlTokenKind::Whitespace || t.kind == SqlTokenKind::LineBreak)
                parts << name;
            else
                parts << name + u':' + text.mid(t.start, t.length).toString();
        }
        return parts.join(u' ');
    }

    static SqlScanState state(int open, int depth = 0) { return {SqlScanState::Open(open), depth}; }

private slots:
    void tokens_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("openIn");
        QTest::addColumn<int>("depthIn");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("openOut");
        QTest::addColumn<int>("depthOut");
        const int none = SqlScanState::Nothing, block = SqlScanState::BlockComment,
                  string = SqlScanState::String, quoted = SqlScanState::QuotedName,
                  bracketed = SqlScanState::BracketedName;

        QTest::newRow("words") << "SeLeCt @a,#t from x1" << none << 0
                               << "kw:SeLeCt ws id:@a op:, id:#t ws kw:from ws id:x1" << none << 0;
        QTest::newRow("keyword needs the whole word")
            << "selected goto go1" << none << 0 << "id:selected ws kw:goto ws id:go1" << none << 0;
        QTest::newRow("long word is no keyword")
            << "uniqueidentifiers" << none << 0 << "id:uniqueidentifiers" << none << 0;
        QTest::newRow("non-ASCII word")
            << "größe=1" << none << 0 << "id:größe op:= num:1" << none << 0;
        QTest::newRow("numbers") << "12.5+3 t50" << none << 0 << "num:12.5 op:+ num:3 ws id:t50"
                                 << none << 0;
        QTest::newRow("string with doubled quote")
            << "'it''s' x" << none << 0 << "str:'it''s' ws id:x" << none << 0;
        QTest::newRow("empty strings")
            << "'''' ''" << none << 0 << "str:'''' ws str:''" << none << 0;
        QTest::newRow("unicode string")
            << "N'a' n'b'" << none << 0 << "str:N'a' ws str:n'b'" << none << 0;
        QTest::newRow("N ending a word is no prefix")
            << "xN'a'" << none << 0 << "id:xN str:'a'" << none << 0;
        QTest::newRow("markers inside string")
            << "'--/*' x" << none << 0 << "str:'--/*' ws id:x" << none << 0;
        QTest::newRow("quoted name")
            << "\"a\"\"--\" x" << none << 0 << "qn:\"a\"\"--\" ws id:x" << none << 0;
        QTest::newRow("bracketed name")
            << "[a]]/*] x" << none << 0 << "bn:[a]]/*] ws id:x" << none << 0;
        QTest::newRow("quote inside bracketed name")
            << "[it's] x" << none << 0 << "bn:[it's] ws id:x" << none << 0;
        QTest::newRow("line comment")
            << "a--b 'c\nd" << none << 0 << "id:a lc:--b 'c br id:d" << none << 0;
        QTest::newRow("block comment")
            << "a/*b*/c" << none << 0 << "id:a bc:/*b*/ id:c" << none << 0;
        QTest::newRow("quote inside block comment")
            << "/* it's */ x" << none << 0 << "bc:/* it's */ ws id:x" << none << 0;
        QTest::newRow("nested block comments")
            << "/* /* */ x */ y" << none << 0 << "bc:/* /* */ x */ ws id:y" << none << 0;
        QTest::newRow("slash star slash stays open")
            << "/*/ x" << none << 0 << "bc:/*/ x" << block << 1;
        QTest::newRow("star slash star") << "/**/*" << none << 0 << "bc:/**/ op:*" << none << 0;
        QTest::newRow("operators and minus")
            << "a-b<>-c" << none << 0 << "id:a op:- id:b op:< op:> op:- id:c" << none << 0;
        QTest::newRow("CR LF is one break") << "a\r\nb\rc\n"
                                            << none << 0 << "id:a br id:b br id:c br" << none << 0;

        // What lines leave open, and how the next line goes on with it.
        QTest::newRow("string open at end")
            << "x 'ab" << none << 0 << "id:x ws str:'ab" << string << 0;
        QTest::newRow("string goes on") << "cd' y" << string << 0 << "str:cd' ws id:y" << none << 0;
        QTest::newRow("string goes on, doubled quote")
            << "c''d" << string << 0 << "str:c''d" << string << 0;
        QTest::newRow("string over a line break")
            << "'a\nb' c" << none << 0 << "str:'a br str:b' ws id:c" << none << 0;
        QTest::newRow("block comment goes on at depth 2")
            << "a */ b */ c" << block << 2 << "bc:a */ b */ ws id:c" << none << 0;
        QTest::newRow("block comment deeper") << "/* x" << block << 1 << "bc:/* x" << block << 2;
        QTest::newRow("block comment over lines")
            << "/* a\n/* b */\n*/x" << none << 0 << "bc:/* a br bc:/* b */ br bc:*/ id:x" << none
            << 0;
        QTest::newRow("quoted name goes on")
            << "b\" x" << quoted << 0 << "qn:b\" ws id:x" << none << 0;
        QTest::newRow("bracketed name goes on")
            << "b]]" << bracketed << 0 << "bn:b]]" << bracketed << 0;
        QTest::newRow("empty line keeps the state") << "" << block << 3 << "" << block << 3;
    }

    void tokens() {
        QFETCH(QString, text);
        QFETCH(int, openIn);
        QFETCH(int, depthIn);
        QFETCH(QString, expected);
        QFETCH(int, openOut);
        QFETCH(int, depthOut);
        SqlScanState s = state(openIn, depthIn);
        const QList<SqlToken> tokens = scanSql(text, s);
        QCOMPARE(render(text, tokens), expected);
        QCOMPARE(s, state(openOut, depthOut));
        // The tokens cover the text without gaps or overlaps.
        qsizetype at = 0;
        for (const SqlToken& t : tokens) {
            QCOMPARE(t.start, at);
            QVERIFY(t.length > 0);
            at += t.length;
        }
        QCOMPARE(at, text.size());

        // The UTF-8 scanner finds the same stretches (positions differ only with non-ASCII).
        const QByteArray utf8 = text.toUtf8();
        Utf8SqlScanner scanner(std::string_view(utf8.constData(), size_t(utf8.size())),
                               state(openIn, depthIn));
        QList<SqlTokenKind> kinds8;
        SqlToken t;
        while (scanner.next(t))
            kinds8 << t.kind;
        QList<SqlTokenKind> kinds16;
        for (const SqlToken& token : tokens)
            kinds16 << token.kind;
        QCOMPARE(kinds8, kinds16);
        QCOMPARE(scanner.state(), state(openOut, depthOut));
    }

    // Scanning line by line, each line from the state the line before left,
    // gives the tokens of scanning the whole text.
    void linesMatchWholeText() {
        const QString text = QStringLiteral(
            "select 'a\n--b' /* c\n/* d */ 'e\n*/ [f\ng]], \"h\n\" -- i\n\n/*/ x */ N'j'\r\nk");
        SqlScanState whole;
        QList<SqlToken> expected;
        for (const SqlToken& t : scanSql(text, whole))
            if (t.kind != SqlTokenKind::LineBreak)
                expected << t;

        QList<SqlToken> pieces;
        SqlScanState s;
        qsizetype lineStart = 0;
        for (const QString& line : text.split(QRegularExpression("\r\n|\n"))) {
            for (SqlToken t : scanSql(line, s)) {
                t.start += lineStart;
                pieces << t;
            }
            lineStart += line.size() + (text.mid(lineStart + line.size(), 2) == "\r\n" ? 2 : 1);
        }
        QCOMPARE(pieces, expected);
        QCOMPARE(s, whole);
    }

    // A scan may start in the middle of a line, at a token boundary, and
    // leave words unclassified.
    void startsAtPosition() {
        const QString text = QStringLiteral("from 'x' 12");
        SqlScanner scanner(text, {}, 5);
        SqlToken t;
        QVERIFY(scanner.next(t));
        QCOMPARE(t, (SqlToken{5, 3, SqlTokenKind::String}));
        QCOMPARE(scanner.position(), 8);
        QVERIFY(scanner.next(t));
        QVERIFY(scanner.next(t));
        QCOMPARE(t, (SqlToken{9, 2, SqlTokenKind::Number}));
        QVERIFY(!scanner.next(t));

        SqlScanner words(text);
        words.setKeywords(false);
        QVERIFY(words.next(t));
        QCOMPARE(t.kind, SqlTokenKind::Identifier);
    }

    void stateAsInt() {
        for (const SqlScanState& s :
             {state(SqlScanState::Nothing), state(SqlScanState::String),
              state(SqlScanState::QuotedName), state(SqlScanState::BracketedName),
              state(SqlScanState::BlockComment, 1), state(SqlScanState::BlockComment, 40)}) {
            QVERIFY(s.toInt() >= 0);
            QCOMPARE(SqlScanState::fromInt(s.toInt()), s);
        }
        QCOMPARE(SqlScanState().toInt(), 0);
        QCOMPARE(SqlScanState::fromInt(-1), SqlScanState());
        // A line never scanned has a negative state; no depth may look like that.
        const int deep = state(SqlScanState::BlockComment, INT_MAX).toInt();
        QVERIFY(deep > 0);
        QCOMPARE(SqlScanState::fromInt(deep).open, SqlScanState::BlockComment);
    }

    void keywords() {
        QVERIFY(isSqlKeyword(u"select"));
        QVERIFY(isSqlKeyword(u"UNIQUEIDENTIFIER"));
        QVERIFY(isSqlKeyword(u"Go"));
        QVERIFY(!isSqlKeyword(u"selects"));
        QVERIFY(!isSqlKeyword(u""));
        QVERIFY(!isSqlKeyword(u"@select"));
    }

    // The comment filter over a whole text: every line break and every
    // string stays, so line n of the result is what is left of line n.
    void stripWholeText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("string with markers") << "select 'a--b' as x -- c"
                                             << "select 'a--b' as x ";
        QTest::newRow("block comment over lines keeps breaks") << "a /* b\nc\r\nd */ e\nf"
                                                               << "a \n\r\n e\nf";
        QTest::newRow("string over lines kept") << "x = 'a -- b\n/* c */' -- d\ny"
                                                << "x = 'a -- b\n/* c */' \ny";
        QTest::newRow("comment between words across lines") << "a/*\n*/b"
                                                            << "a\nb";
        QTest::newRow("nested comment") << "/* /* */ drop */ go"
                                        << " go";
        QTest::newRow("names kept") << "[--]/**/\"/*\""
                                    << "[--] \"/*\"";
        QTest::newRow("unclosed comment removed to the end") << "a /* b\nc"
                                                             << "a \n";
    }

    void stripWholeText() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QString stripped = stripComments(text);
        QCOMPARE(stripped, expected);
        QCOMPARE(stripped.count(u'\n'), text.count(u'\n'));
    }
};

QTEST_GUILESS_MAIN(TestSqlScanner)
#include "tst_sqlscanner.moc"
