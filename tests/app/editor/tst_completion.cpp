// Completion without a server: what the context at the caret is, how aliases
// resolve, how names are written, and the popup driven by keys alone.

#include "app/editor/completer.h"
#include "app/editor/completion.h"
#include "app/scripteditor.h"

#include <QListView>
#include <QTest>

using namespace editor;

namespace {

std::shared_ptr<data::Catalog> sampleCatalog() {
    auto c = std::make_shared<data::Catalog>();
    c->defaultSchema = QStringLiteral("dbo");
    c->schemas = {QStringLiteral("dbo"), QStringLiteral("Vertrieb")};
    c->objects = {
        {QStringLiteral("dbo"), QStringLiteral("Kunden"), data::CatalogObject::Table, 1},
        {QStringLiteral("Vertrieb"), QStringLiteral("Kunden"), data::CatalogObject::Table, 2},
        {QStringLiteral("dbo"), QStringLiteral("Order Details"), data::CatalogObject::Table, 3},
        {QStringLiteral("dbo"), QStringLiteral("KundenListe"), data::CatalogObject::View, 4},
        {QStringLiteral("dbo"), QStringLiteral("KundeAnlegen"), data::CatalogObject::Procedure, 5}};
    c->columns[1] = {QStringLiteral("KundenNr"), QStringLiteral("Firma")};
    c->columns[2] = {QStringLiteral("Gebiet"), QStringLiteral("Umsatz")};
    c->columns[3] = {QStringLiteral("Unit Price"), QStringLiteral("Quantity")};
    c->index();
    return c;
}

QStringList texts(const QList<Candidate>& list) {
    QStringList out;
    for (const Candidate& c : list)
        out << c.text;
    return out;
}

// `|` marks the caret.
std::pair<QString, qsizetype> at(const QString& marked) {
    const qsizetype caret = marked.indexOf(u'|');
    return {QString(marked).remove(caret, 1), caret};
}

} // namespace

class TestCompletion : public QObject {
    Q_OBJECT
private slots:
    void context_data();
    void context();
    void aliasesResolve_data();
    void aliasesResolve();
    void namesAreWrittenAsTheyMustBe();
    void wordsAreQualifiedOutsideTheDefaultSchema();
    void popupIsDrivenByKeys();
};

void TestCompletion::context_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("qualifier");
    QTest::newRow("word") << "SELECT * FROM Ku|" << int(CompletionContext::Words) << "Ku"
                          << QStringList();
    QTest::newRow("after dot") << "SELECT k.| FROM Kunden k" << int(CompletionContext::Members)
                               << "" << QStringList{"k"};
    QTest::newRow("after dot, typed")
        << "SELECT k.Fi|" << int(CompletionContext::Members) << "Fi" << QStringList{"k"};
    QTest::newRow("schema and table")
        << "SELECT Vertrieb.Kunden.G|" << int(CompletionContext::Members) << "G"
        << QStringList{"Vertrieb", "Kunden"};
    QTest::newRow("bracketed qualifier")
        << "SELECT [Order Details].|" << int(CompletionContext::Members) << ""
        << QStringList{"Order Details"};
    QTest::newRow("open bracket") << "SELECT * FROM [Ord|" << int(CompletionContext::Words) << "Ord"
                                  << QStringList();
    QTest::newRow("exec") << "EXEC Kunde|" << int(CompletionContext::Procedures) << "Kunde"
                          << QStringList();
    QTest::newRow("in a string") << "SELECT 'Ku|" << int(CompletionContext::None) << ""
                                 << QStringList();
    QTest::newRow("in a comment") << "SELECT 1 -- Ku|" << int(CompletionContext::None) << ""
                                  << QStringList();
    QTest::newRow("in a number") << "SELECT 12|" << int(CompletionContext::None) << ""
                                 << QStringList();
}

void TestCompletion::context() {
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(QString, prefix);
    QFETCH(QStringList, qualifier);
    const auto [plain, caret] = at(text);
    const CompletionContext c = completionContextAt(plain, caret);
    QCOMPARE(int(c.kind), kind);
    if (kind == CompletionContext::None)
        return;
    QCOMPARE(c.prefix, prefix);
    QCOMPARE(c.qualifier, qualifier);
}

void TestCompletion::aliasesResolve_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("columns");
    const QStringList kunden{"Firma", "KundenNr"}, vertrieb{"Gebiet", "Umsatz"};
    QTest::newRow("alias after the caret") << "SELECT k.| FROM Kunden k" << kunden;
    QTest::newRow("AS") << "SELECT x.| FROM dbo.Kunden AS x" << kunden;
    QTest::newRow("join, other schema")
        << "SELECT v.| FROM Kunden k JOIN Vertrieb.Kunden v ON v.Gebiet = k.Firma" << vertrieb;
    QTest::newRow("comma list") << "SELECT v.| FROM Kunden k, Vertrieb.Kunden v" << vertrieb;
    QTest::newRow("bracketed") << "SELECT o.| FROM [Order Details] o"
                               << QStringList{"Quantity", "Unit Price"};
    QTest::newRow("table name itself") << "SELECT Kunden.| FROM Kunden" << kunden;
    QTest::newRow("alias of another statement")
        << "SELECT k.| FROM Kunden k\nSELECT * FROM Vertrieb.Kunden k" << kunden;
    QTest::newRow("unknown alias") << "SELECT z.| FROM Kunden k" << QStringList();
}

void TestCompletion::aliasesResolve() {
    QFETCH(QString, text);
    QFETCH(QStringList, columns);
    const auto [plain, caret] = at(text);
    CompletionModel model;
    model.setCatalog(sampleCatalog());
    QStringList found = texts(model.candidates(completionContextAt(plain, caret), plain, caret));
    found.sort();
    QCOMPARE(found, columns);
}

void TestCompletion::namesAreWrittenAsTheyMustBe() {
    QCOMPARE(quotedName(QStringLiteral("Kunden")), QStringLiteral("Kunden"));
    QCOMPARE(quotedName(QStringLiteral("Order Details")), QStringLiteral("[Order Details]"));
    QCOMPARE(quotedName(QStringLiteral("a]b")), QStringLiteral("[a]]b]"));
    QCOMPARE(quotedName(QStringLiteral("select")), QStringLiteral("[select]"));
    QCOMPARE(quotedName(QStringLiteral("1st")), QStringLiteral("[1st]"));
    QCOMPARE(quotedName(QStringLiteral("Straße")), QStringLiteral("[Straße]"));
}

void TestCompletion::wordsAreQualifiedOutsideTheDefaultSchema() {
    CompletionModel model;
    model.setCatalog(sampleCatalog());
    const QString text = QStringLiteral("SELECT * FROM Kund");
    const QStringList found =
        texts(model.candidates(completionContextAt(text, text.size()), text, text.size()));
    // Both tables named Kunden, the one outside dbo with its schema; the view.
    QVERIFY(found.contains(QStringLiteral("Kunden")));
    QVERIFY(found.contains(QStringLiteral("Vertrieb.Kunden")));
    QVERIFY(found.contains(QStringLiteral("KundenListe")));
    // A name that needs brackets is found by its name and inserted in them.
    const QString order = QStringLiteral("SELECT * FROM ord");
    QList<Candidate> orders =
        model.candidates(completionContextAt(order, order.size()), order, order.size());
    orders.removeIf([](const Candidate& c) { return c.kind != Candidate::Table; });
    QCOMPARE(orders.size(), 1);
    QCOMPARE(orders.front().text, QStringLiteral("Order Details"));
    QCOMPARE(orders.front().insert, QStringLiteral("[Order Details]"));
    // The other schema's objects after "Vertrieb.".
    const QString schema = QStringLiteral("SELECT * FROM Vertrieb.");
    QCOMPARE(
        texts(model.candidates(completionContextAt(schema, schema.size()), schema, schema.size())),
        QStringList{"Kunden"});
    // A changed default schema changes what is qualified.
    auto other = sampleCatalog();
    other->defaultSchema = QStringLiteral("Vertrieb");
    other->index();
    model.setCatalog(other);
    const QStringList again =
        texts(model.candidates(completionContextAt(text, text.size()), text, text.size()));
    QVERIFY(again.contains(QStringLiteral("dbo.Kunden")));
    QVERIFY(again.contains(QStringLiteral("Kunden")));
    // A bare name now means the default schema's table.
    const QString alias = QStringLiteral("SELECT k.| FROM Kunden k");
    const auto [plain, caret] = at(alias);
    QCOMPARE(texts(model.candidates(completionContextAt(plain, caret), plain, caret)),
             (QStringList{"Gebiet", "Umsatz"}));
}

void TestCompletion::popupIsDrivenByKeys() {
    QWidget window;
    window.resize(600, 400);
    auto* editor = new ScriptEditor(&window);
    editor->setGeometry(0, 0, 600, 400);
    Completer completer(editor);
    completer.setCatalog(sampleCatalog());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    editor->setFocus();

    // "o." names nothing yet: no list.
    QTest::keyClicks(editor, QStringLiteral("SELECT o."));
    QVERIFY(!completer.isActive());
    // A word begun opens it; Escape closes it and the text stays.
    QTest::keyClicks(editor, QStringLiteral(" Ku"));
    QVERIFY(completer.isActive());
    QCOMPARE(completer.popup()->accessibleName(), QStringLiteral("Vorschläge"));
    QTest::keyClick(editor, Qt::Key_Escape);
    QVERIFY(!completer.isActive());
    QCOMPARE(editor->toPlainText(), QStringLiteral("SELECT o. Ku"));

    editor->setPlainText(QStringLiteral(" FROM [Order Details] o"));
    QTextCursor c = editor->textCursor();
    c.setPosition(0);
    editor->setTextCursor(c);
    QTest::keyClicks(editor, QStringLiteral("SELECT o."));
    QVERIFY(completer.isActive());
    QCOMPARE(completer.popup()->model()->rowCount(), 2);
    // Typing narrows; Enter inserts the name in brackets.
    QTest::keyClick(editor, Qt::Key_U);
    QCOMPARE(completer.popup()->model()->rowCount(), 1);
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(!completer.isActive());
    QCOMPARE(editor->toPlainText(), QStringLiteral("SELECT o.[Unit Price] FROM [Order Details] o"));

    // Ctrl+Space with nothing typed; Down and Tab choose the second entry.
    editor->setPlainText(QStringLiteral("EXEC "));
    editor->moveCursor(QTextCursor::End);
    QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
    QVERIFY(completer.isActive());
    const QString second = completer.popup()->model()->index(1, 0).data().toString();
    QTest::keyClick(editor, Qt::Key_Down);
    QTest::keyClick(editor, Qt::Key_Tab);
    QCOMPARE(editor->toPlainText(), QStringLiteral("EXEC ") + second);
    QVERIFY(editor->hasFocus());

    // A space ends the word: the list goes without inserting anything.
    editor->setPlainText(QString());
    QTest::keyClicks(editor, QStringLiteral("sel"));
    QVERIFY(completer.isActive());
    QTest::keyClick(editor, Qt::Key_Space);
    QVERIFY(!completer.isActive());
    QCOMPARE(editor->toPlainText(), QStringLiteral("sel "));
}

QTEST_MAIN(TestCompletion)
#include "tst_completion.moc"
