// The find bar: finding forward and back with its options, the matches
// marked, replacing one and all (one step of undo), going to a line.

#include "app/editor/findbar.h"
#include "app/editor/textsearch.h"
#include "app/scripteditor.h"
#include "controls/textpaneaccessible.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextBlock>

using namespace editor;

namespace {
// The text as assistive tools follow it: each text event told applied to
// the text they knew before.
QString s_toldText;
void follow(QAccessibleEvent* event) {
    if (event->type() == QAccessible::TextUpdated) {
        auto* e = static_cast<QAccessibleTextUpdateEvent*>(event);
        s_toldText.replace(e->changePosition(), e->textRemoved().size(), e->textInserted());
    } else if (event->type() == QAccessible::TextInserted) {
        auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        s_toldText.insert(e->changePosition(), e->textInserted());
    } else if (event->type() == QAccessible::TextRemoved) {
        auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
        s_toldText.remove(e->changePosition(), e->textRemoved().size());
    }
}
} // namespace

class TestFindBar : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void searchOptions_data();
    void searchOptions();
    void findsForwardAndBackRoundTheEnd();
    void marksEveryMatch();
    void replaceAllIsOneUndoStep();
    void replaceAllInALongLineAndAcrossLines();
    void replaceOneThenNext();
    void regexReplacementUsesCaptures();
    void gotoLineAndKeys();

private:
    QWidget* m_window = nullptr;
    ScriptEditor* m_editor = nullptr;
    FindBar* m_bar = nullptr;
};

void TestFindBar::init() {
    m_window = new QWidget;
    m_window->resize(700, 400);
    m_editor = new ScriptEditor(m_window);
    m_editor->setGeometry(0, 0, 700, 400);
    m_bar = new FindBar(m_editor);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestFindBar::cleanup() {
    delete m_window;
}

void TestFindBar::searchOptions_data() {
    QTest::addColumn<QString>("needle");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<bool>("word");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<int>("count");
    QTest::newRow("plain, any case") << "kunden" << false << false << false << 4;
    QTest::newRow("case") << "Kunden" << true << false << false << 3;
    QTest::newRow("whole word") << "kunden" << false << true << false << 3;
    QTest::newRow("case and word") << "Kunden" << true << true << false << 2;
    QTest::newRow("dot is plain") << "a.b" << false << false << false << 1;
    QTest::newRow("regex") << "kunden\\w+" << false << false << true << 1;
    QTest::newRow("regex dot") << "a.b" << false << false << true << 1;
    QTest::newRow("bad regex") << "(" << false << false << true << 0;
    QTest::newRow("empty") << "" << false << false << false << 0;
}

void TestFindBar::searchOptions() {
    QFETCH(QString, needle);
    QFETCH(bool, matchCase);
    QFETCH(bool, word);
    QFETCH(bool, regex);
    QFETCH(int, count);
    const QString hay = QStringLiteral("select Kunden, kunden, KundenNr from Kunden -- a.b");
    const TextSearch search({needle, matchCase, word, regex});
    QCOMPARE(int(search.findAll(hay).size()), count);
}

void TestFindBar::findsForwardAndBackRoundTheEnd() {
    m_editor->setPlainText(QStringLiteral("ab x ab\nab"));
    m_bar->open(FindBar::Find);
    QTest::keyClicks(m_bar->findEdit(), QStringLiteral("ab"));
    QTest::keyClick(m_bar->findEdit(), Qt::Key_Return);
    QCOMPARE(m_editor->textCursor().selectionStart(), 0);
    QTest::keyClick(m_bar->findEdit(), Qt::Key_Return);
    QCOMPARE(m_editor->textCursor().selectionStart(), 5);
    QTest::keyClick(m_bar->findEdit(), Qt::Key_Return);
    QCOMPARE(m_editor->textCursor().selectionStart(), 8);
    QTest::keyClick(m_bar->findEdit(), Qt::Key_Return); // round the end
    QCOMPARE(m_editor->textCursor().selectionStart(), 0);
    QTest::keyClick(m_bar->findEdit(), Qt::Key_Return, Qt::ShiftModifier); // back round
    QCOMPARE(m_editor->textCursor().selectionStart(), 8);
    QCOMPARE(m_editor->textCursor().selectedText(), QStringLiteral("ab"));

    m_bar->findEdit()->setText(QStringLiteral("zz"));
    QVERIFY(!m_bar->findNext());
    QCOMPARE(m_bar->statusLabel()->text(), QStringLiteral("Nicht gefunden."));
}

void TestFindBar::marksEveryMatch() {
    m_editor->setPlainText(QStringLiteral("a1 a2 a3\nb a4"));
    m_bar->open(FindBar::Find);
    m_bar->findEdit()->setText(QStringLiteral("a"));
    QTRY_COMPARE(m_bar->markedCount(), 4);
    QCOMPARE(m_editor->marks().at(3), TextPane::Mark(11, 1));
    // The marks follow the text.
    m_editor->moveCursor(QTextCursor::End);
    m_editor->insertPlainText(QStringLiteral(" a5"));
    QTRY_COMPARE(m_bar->markedCount(), 5);
    // Closing takes them away and gives the keys back to the editor.
    QTest::keyClick(m_bar->findEdit(), Qt::Key_Escape);
    QVERIFY(m_bar->isHidden());
    QCOMPARE(m_bar->markedCount(), 0);
    QVERIFY(m_editor->hasFocus());
}

void TestFindBar::replaceAllIsOneUndoStep() {
    const QString text = QStringLiteral("update t set a = 1\nwhere a = 2 and aa = 3\n");
    m_editor->setPlainText(text);
    m_bar->open(FindBar::Replace);
    m_bar->findEdit()->setText(QStringLiteral("a"));
    m_bar->wholeWordBox()->setChecked(true);
    m_bar->replaceEdit()->setText(QStringLiteral("[Anzahl]"));
    QCOMPARE(m_bar->replaceAll(), 2);
    QCOMPARE(m_editor->toPlainText(),
             QStringLiteral("update t set [Anzahl] = 1\nwhere [Anzahl] = 2 and aa = 3\n"));
    QCOMPARE(m_bar->statusLabel()->text(), QStringLiteral("2 Stellen ersetzt."));
    // One Ctrl+Z brings the whole text back, one Ctrl+Y does it again.
    m_editor->setFocus();
    QTest::keyClick(m_editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_editor->toPlainText(), text);
    QTest::keyClick(m_editor, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(m_editor->toPlainText(),
             QStringLiteral("update t set [Anzahl] = 1\nwhere [Anzahl] = 2 and aa = 3\n"));
    // Nothing found: nothing changes.
    m_bar->findEdit()->setText(QStringLiteral("nirgends"));
    QCOMPARE(m_bar->replaceAll(), 0);
    QVERIFY(m_editor->document()->isUndoAvailable());
}

void TestFindBar::replaceAllInALongLineAndAcrossLines() {
    // A line long enough to be shaped only where shown, with matches all
    // along it, then short lines with matches, one of them twice.
    QString longLine;
    for (int i = 0; i < 600; ++i)
        longLine += QStringLiteral("insert into t values (%1, 'Ziel'); ").arg(i);
    const QString text = longLine + QStringLiteral("\nselect 'Ziel'\n\nZiel und Ziel\n");
    QString replaced = text;
    replaced.replace(QStringLiteral("Ziel"), QStringLiteral("Ersatz"));
    m_editor->setPlainText(text);
    // The same text set anew in an editor of the same width: how its lines
    // are to be broken.
    ScriptEditor fresh(m_window);
    fresh.setGeometry(m_editor->geometry());
    fresh.show();
    for (TextPane* pane : {static_cast<TextPane*>(m_editor), static_cast<TextPane*>(&fresh)})
        pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto screenLines = [&](const QString& t) {
        fresh.setPlainText(t);
        return fresh.visualLineCount();
    };
    const int before = screenLines(text), after = screenLines(replaced);
    QVERIFY(after > before); // the long line wraps onto more screen lines
    QCOMPARE(m_editor->visualLineCount(), before);

    s_toldText = text;
    TextPaneAccessible::setTap(follow);
    m_bar->open(FindBar::Replace);
    m_bar->findEdit()->setText(QStringLiteral("Ziel"));
    m_bar->replaceEdit()->setText(QStringLiteral("Ersatz"));
    QCOMPARE(m_bar->replaceAll(), 603);
    QCOMPARE(m_editor->toPlainText(), replaced);
    QCOMPARE(s_toldText, replaced);
    QCOMPARE(m_editor->visualLineCount(), after);
    // One step back gives the exact text, one step on the replaced one.
    m_editor->setFocus();
    QTest::keyClick(m_editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_editor->toPlainText(), text);
    QCOMPARE(s_toldText, text);
    QCOMPARE(m_editor->visualLineCount(), before);
    QTest::keyClick(m_editor, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(m_editor->toPlainText(), replaced);
    QCOMPARE(s_toldText, replaced);
    QCOMPARE(m_editor->visualLineCount(), after);
    TextPaneAccessible::setTap(nullptr);
}

void TestFindBar::replaceOneThenNext() {
    m_editor->setPlainText(QStringLiteral("x y x y x"));
    m_bar->open(FindBar::Replace);
    m_bar->findEdit()->setText(QStringLiteral("x"));
    m_bar->replaceEdit()->setText(QStringLiteral("zz"));
    // The first Enter in the replace field finds, the next ones replace.
    QTest::keyClick(m_bar->replaceEdit(), Qt::Key_Return);
    QCOMPARE(m_editor->toPlainText(), QStringLiteral("x y x y x"));
    QTest::keyClick(m_bar->replaceEdit(), Qt::Key_Return);
    QCOMPARE(m_editor->toPlainText(), QStringLiteral("zz y x y x"));
    QCOMPARE(m_editor->textCursor().selectionStart(), 5); // the next one is selected
    QTest::keyClick(m_bar->replaceEdit(), Qt::Key_Return);
    QCOMPARE(m_editor->toPlainText(), QStringLiteral("zz y zz y x"));
}

void TestFindBar::regexReplacementUsesCaptures() {
    m_editor->setPlainText(QStringLiteral("dbo.Kunden, dbo.Artikel"));
    m_bar->open(FindBar::Replace);
    m_bar->regexBox()->setChecked(true);
    m_bar->findEdit()->setText(QStringLiteral("dbo\\.(\\w+)"));
    m_bar->replaceEdit()->setText(QStringLiteral("[\\1]"));
    QCOMPARE(m_bar->replaceAll(), 2);
    QCOMPARE(m_editor->toPlainText(), QStringLiteral("[Kunden], [Artikel]"));
    // An expression that does not compile says why and changes nothing.
    m_bar->findEdit()->setText(QStringLiteral("(["));
    QCOMPARE(m_bar->replaceAll(), 0);
    QVERIFY(m_bar->statusLabel()->text().startsWith(QStringLiteral("Ungültiger Ausdruck")));
}

void TestFindBar::gotoLineAndKeys() {
    QStringList lines;
    for (int i = 1; i <= 200; ++i)
        lines << QStringLiteral("select %1").arg(i);
    m_editor->setPlainText(lines.join(u'\n'));
    m_bar->open(FindBar::GotoLine);
    QVERIFY(m_bar->lineEdit()->hasFocus());
    m_bar->lineEdit()->setText(QStringLiteral("150"));
    QTest::keyClick(m_bar->lineEdit(), Qt::Key_Return);
    QCOMPARE(m_editor->textCursor().blockNumber(), 149);
    QVERIFY(m_bar->isHidden());
    QVERIFY(m_editor->hasFocus());
    m_bar->gotoLine(100000); // beyond the end: the last line
    QCOMPARE(m_editor->textCursor().blockNumber(), 199);
}

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
