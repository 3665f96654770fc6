// What assistive tools see of the plain-text control, asked the way they ask:
// through the accessible interface Qt hands out for a real pane in this
// process, and through the events it sends while the user types and moves.

#include "controls/textpane.h"
#include "controls/textpaneaccessible.h"

#include <QAccessible>
#include <QScrollBar>
#include <QtTest>

namespace {

struct Heard {
    QAccessible::Event type;
    int position = -1;
    QString text;
};
std::vector<Heard> heard;

void listen(QAccessibleEvent* event) {
    Heard h{event->type(), -1, {}};
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        h.position = e->changePosition();
        h.text = e->textInserted();
        break;
    }
    case QAccessible::TextRemoved: {
        auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
        h.position = e->changePosition();
        h.text = e->textRemoved();
        break;
    }
    case QAccessible::TextUpdated: {
        auto* e = static_cast<QAccessibleTextUpdateEvent*>(event);
        h.position = e->changePosition();
        h.text = e->textInserted();
        break;
    }
    case QAccessible::TextCaretMoved:
        h.position = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
        break;
    case QAccessible::TextSelectionChanged: {
        auto* e = static_cast<QAccessibleTextSelectionEvent*>(event);
        h.position = e->selectionStart();
        h.text = QString::number(e->selectionEnd());
        break;
    }
    default:
        return;
    }
    heard.push_back(h);
}

bool heardOf(QAccessible::Event type, int position, const QString& text = QString()) {
    return std::any_of(heard.begin(), heard.end(), [&](const Heard& h) {
        return h.type == type && h.position == position && (text.isNull() || h.text == text);
    });
}

QAccessibleInterface* accessible(TextPane& pane) {
    return QAccessible::queryAccessibleInterface(&pane);
}

} // namespace

class TestTextPaneAccessible : public QObject {
    Q_OBJECT
private slots:
    // Qt passes events to its update handler only while a platform bridge
    // is active, which a headless test has none of: the pane's tap sees them.
    void initTestCase() { TextPaneAccessible::setTap(listen); }
    void init() { heard.clear(); }

    // Qt hands out the pane's own interface: an editable multi-line text
    // with the name and description the program gave it.
    void describesItself() {
        TextPane pane;
        pane.setAccessibleName(QStringLiteral("Abfrage"));
        pane.setAccessibleDescription(QStringLiteral("Abfrage oder Kommando eingeben"));
        QAccessibleInterface* a = accessible(pane);
        QVERIFY(a);
        QCOMPARE(a->role(), QAccessible::EditableText);
        QVERIFY(a->textInterface());
        QVERIFY(a->editableTextInterface());
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Abfrage"));
        QCOMPARE(a->text(QAccessible::Description),
                 QStringLiteral("Abfrage oder Kommando eingeben"));
        QAccessible::State s = a->state();
        QVERIFY(s.multiLine && s.editable && s.focusable && !s.readOnly);
        pane.setReadOnly(true);
        s = a->state();
        QVERIFY(s.readOnly && !s.editable);
        // A read-only pane takes no edits from a tool either.
        a->editableTextInterface()->insertText(0, QStringLiteral("x"));
        QCOMPARE(pane.toPlainText(), QString());
    }

    // Typed text, the caret, and the text by characters, words, lines as
    // shown (a wrapped line gives several) and paragraphs.
    void textAndItems() {
        TextPane pane;
        pane.resize(160, 200);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.setFocus();
        QAccessibleTextInterface* t = accessible(pane)->textInterface();
        const QString first = QStringLiteral("select name, value, unit from Messwerte where 1 = 1");
        QTest::keyClicks(&pane, first);
        QTest::keyClick(&pane, Qt::Key_Return);
        QTest::keyClicks(&pane, QStringLiteral("go"));
        const QString all = first + QStringLiteral("\ngo");
        QCOMPARE(t->characterCount(), int(all.size()));
        QCOMPARE(t->text(0, t->characterCount()), all);
        QCOMPARE(t->cursorPosition(), int(all.size()));
        QCOMPARE(accessible(pane)->text(QAccessible::Value), all);

        int start = 0, end = 0;
        QCOMPARE(t->textAtOffset(8, QAccessible::WordBoundary, &start, &end),
                 QStringLiteral("name"));
        QCOMPARE(start, 7);
        QCOMPARE(t->textAfterOffset(8, QAccessible::WordBoundary, &start, &end),
                 QStringLiteral(","));
        QCOMPARE(t->textBeforeOffset(8, QAccessible::WordBoundary, &start, &end),
                 QStringLiteral(" "));
        QCOMPARE(t->textAtOffset(1, QAccessible::CharBoundary, &start, &end), QStringLiteral("e"));
        QCOMPARE(t->textAtOffset(3, QAccessible::ParagraphBoundary, &start, &end), first);
        QCOMPARE(t->textAfterOffset(3, QAccessible::ParagraphBoundary, &start, &end),
                 QStringLiteral("go"));

        // The first paragraph is wrapped: its screen lines, one after the
        // other, give it back.
        QString lines;
        int at = 0, count = 0;
        QString line = t->textAtOffset(0, QAccessible::LineBoundary, &start, &end);
        while (!line.isEmpty() && count < 20) {
            QCOMPARE(start, at);
            lines += line;
            ++count;
            at = end;
            line = t->textAfterOffset(start, QAccessible::LineBoundary, &start, &end);
            if (start > at) { // the line break between paragraphs
                lines += u'\n';
                at = start;
            }
        }
        QVERIFY(count > 2);
        QCOMPARE(lines, all);
        line = t->textBeforeOffset(int(first.size()) + 1, QAccessible::LineBoundary, &start, &end);
        QCOMPARE(end, int(first.size()));
        QVERIFY(start > 0);
        QCOMPARE(line, first.mid(start));
    }

    // The selection made with keys shows through the interface, and one set
    // through the interface is the pane's.
    void selection() {
        TextPane pane;
        pane.show();
        pane.setFocus();
        QAccessibleTextInterface* t = accessible(pane)->textInterface();
        QTest::keyClicks(&pane, QStringLiteral("select name"));
        QCOMPARE(t->selectionCount(), 0);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(&pane, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(t->selectionCount(), 1);
        int start = 0, end = 0;
        t->selection(0, &start, &end);
        QCOMPARE(start, 7);
        QCOMPARE(end, 11);
        QVERIFY(heardOf(QAccessible::TextSelectionChanged, 7, QStringLiteral("11")));
        QVERIFY(heardOf(QAccessible::TextCaretMoved, 7));

        t->setSelection(0, 0, 6);
        QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("select"));
        t->addSelection(1, 3);
        QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("el"));
        t->removeSelection(0);
        QVERIFY(!pane.textCursor().hasSelection());
        t->setCursorPosition(4);
        QCOMPARE(pane.textCursor().position(), 4);
        t->setCursorPosition(1000); // past the end: at the end
        QCOMPARE(pane.textCursor().position(), 11);
    }

    // Text inserted, removed and replaced through the interface lands in the
    // pane; edits by keys are heard as insertions, removals and updates.
    void editsAndEvents() {
        TextPane pane;
        pane.show();
        pane.setFocus();
        QAccessibleEditableTextInterface* e = accessible(pane)->editableTextInterface();
        QTest::keyClicks(&pane, QStringLiteral("ab"));
        QVERIFY(heardOf(QAccessible::TextInserted, 0, QStringLiteral("a")));
        QVERIFY(heardOf(QAccessible::TextInserted, 1, QStringLiteral("b")));
        QVERIFY(heardOf(QAccessible::TextCaretMoved, 2));
        heard.clear();
        QTest::keyClick(&pane, Qt::Key_Backspace);
        QVERIFY(heardOf(QAccessible::TextRemoved, 1, QStringLiteral(" ")));
        QVERIFY(heardOf(QAccessible::TextCaretMoved, 1));
        QTest::keyClick(&pane, Qt::Key_Left, Qt::ShiftModifier);
        heard.clear();
        QTest::keyClicks(&pane, QStringLiteral("x"));
        QVERIFY(heardOf(QAccessible::TextUpdated, 0, QStringLiteral("x")));

        e->insertText(1, QStringLiteral(" from t"));
        QCOMPARE(pane.toPlainText(), QStringLiteral("x from t"));
        e->insertText(0, QStringLiteral("select "));
        QCOMPARE(pane.toPlainText(), QStringLiteral("select x from t"));
        e->replaceText(7, 8, QStringLiteral("name"));
        QCOMPARE(pane.toPlainText(), QStringLiteral("select name from t"));
        e->deleteText(11, 18);
        QCOMPARE(pane.toPlainText(), QStringLiteral("select name"));
        QVERIFY(heardOf(QAccessible::TextRemoved, 11));
        e->deleteText(5, 500); // past the end: to the end
        QCOMPARE(pane.toPlainText(), QStringLiteral("selec"));
    }

    // Character boxes are in screen coordinates inside the pane, lead back
    // to their offsets, and a far substring is scrolled into view.
    void geometry() {
        TextPane pane;
        pane.resize(300, 120);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.setPlainText(QStringLiteral("select name from t\n").repeated(200));
        QAccessibleTextInterface* t = accessible(pane)->textInterface();
        const QRect inside(pane.viewport()->mapToGlobal(QPoint(0, 0)), pane.viewport()->size());
        for (int offset : {0, 7, 12, 19, 25}) {
            const QRect r = t->characterRect(offset);
            QVERIFY2(inside.contains(r), qPrintable(QString::number(offset)));
            QVERIFY(r.width() > 0 && r.height() > 0);
            QCOMPARE(t->offsetAtPoint(r.center() - QPoint(r.width() / 4, 0)), offset);
        }
        QVERIFY(t->characterRect(8).left() > t->characterRect(7).left());
        QVERIFY(t->characterRect(19).top() > t->characterRect(7).top());

        const int far = 19 * 150 + 7;
        QVERIFY(!inside.contains(t->characterRect(far)));
        t->scrollToSubstring(far, far + 4);
        QVERIFY(pane.verticalScrollBar()->value() > 0);
        QVERIFY(inside.contains(t->characterRect(far)));
        int start = -2, end = -2;
        QVERIFY(t->attributes(3, &start, &end).isEmpty());
        QVERIFY(start <= 3 && end >= 3);
    }
};

QTEST_MAIN(TestTextPaneAccessible)
#include "tst_textpaneaccessible.moc"
