// What an input method asks the plain-text control and what it tells it:
// the text around the caret (only a window of a huge line), positions,
// rectangles and hints; composed text with its own formats, a caret shown
// or hidden inside it, and a selection set by the method.

#include "controls/textpane.h"

#include <QInputMethodEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

namespace {

QVariant ask(TextPane& pane, Qt::InputMethodQuery query) {
    QInputMethodQueryEvent event(query);
    QApplication::sendEvent(&pane, &event);
    return event.value(query);
}

void send(TextPane& pane, const QString& preedit,
          const QList<QInputMethodEvent::Attribute>& attributes) {
    QInputMethodEvent event(preedit, attributes);
    QApplication::sendEvent(&pane, &event);
}

void select(TextPane& pane, int anchor, int position) {
    QTextCursor c(pane.document());
    c.setPosition(anchor);
    c.setPosition(position, QTextCursor::KeepAnchor);
    pane.setTextCursor(c);
}

int countColour(const QImage& image, QColor colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

} // namespace

class TestTextPaneInput : public QObject {
    Q_OBJECT
private slots:
    // The answers about the caret's line, its positions and rectangles.
    void queries() {
        TextPane pane;
        pane.resize(300, 200);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.setPlainText(QStringLiteral("go\nselect name from t\nsecond"));
        select(pane, 10, 14); // "name", the caret after it
        QCOMPARE(ask(pane, Qt::ImEnabled).toBool(), true);
        QCOMPARE(ask(pane, Qt::ImSurroundingText).toString(), QStringLiteral("select name from t"));
        QCOMPARE(ask(pane, Qt::ImCursorPosition).toInt(), 11);
        QCOMPARE(ask(pane, Qt::ImAnchorPosition).toInt(), 7);
        QCOMPARE(ask(pane, Qt::ImAbsolutePosition).toInt(), 14);
        QCOMPARE(ask(pane, Qt::ImTextBeforeCursor).toString(), QStringLiteral("select name"));
        QCOMPARE(ask(pane, Qt::ImTextAfterCursor).toString(), QStringLiteral(" from t"));
        QCOMPARE(ask(pane, Qt::ImCurrentSelection).toString(), QStringLiteral("name"));
        QCOMPARE(ask(pane, Qt::ImCursorRectangle).toRect(), pane.cursorRect());
        QTextCursor anchor(pane.document());
        anchor.setPosition(10);
        QCOMPARE(ask(pane, Qt::ImAnchorRectangle).toRect(), pane.cursorRect(anchor));
        QVERIFY(ask(pane, Qt::ImAnchorRectangle).toRect().left() < pane.cursorRect().left());
        QVERIFY(Qt::InputMethodHints(ask(pane, Qt::ImHints).toInt()) & Qt::ImhMultiLine);
        QCOMPARE(qvariant_cast<QFont>(ask(pane, Qt::ImFont)), pane.font());
        QVERIFY(!ask(pane, Qt::ImMaximumTextLength).isValid()); // no limit
        // A selection over a line break reads with '\n'.
        select(pane, 0, 5);
        QCOMPARE(ask(pane, Qt::ImCurrentSelection).toString(), QStringLiteral("go\nse"));
        pane.setReadOnly(true);
        QCOMPARE(ask(pane, Qt::ImEnabled).toBool(), false);
    }

    // In a huge line the method sees a window around the caret, and the
    // positions it is told agree with that window.
    void hugeLineWindow() {
        TextPane pane;
        pane.show();
        QString text;
        for (int i = 0; text.size() < 200'000; ++i)
            text += QString::number(i % 10);
        pane.setPlainText(text);
        select(pane, 100'000, 100'000);
        const QString around = ask(pane, Qt::ImSurroundingText).toString();
        const int at = ask(pane, Qt::ImCursorPosition).toInt();
        QVERIFY(around.size() <= 1000 && around.size() > 500);
        QCOMPARE(around.mid(at, 20), text.mid(100'000, 20));
        QCOMPARE(ask(pane, Qt::ImTextBeforeCursor).toString(), around.left(at));
        QCOMPARE(ask(pane, Qt::ImTextAfterCursor).toString(), around.mid(at));
        QCOMPARE(ask(pane, Qt::ImAbsolutePosition).toInt(), 100'000);
        // A selection the method sets is in positions of that window.
        send(pane, QString(), {{QInputMethodEvent::Selection, at - 3, 6, {}}});
        QCOMPARE(pane.textCursor().selectionStart(), 99'997);
        QCOMPARE(pane.textCursor().selectionEnd(), 100'003);
    }

    // Composed text: the caret inside it where the method puts it, hidden
    // when it says so; its formats as given; a selection set in the line.
    void composing() {
        TextPane pane;
        pane.resize(300, 100);
        pane.setCursorWidth(2);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.activateWindow();
        pane.setFocus();
        QTRY_VERIFY(pane.hasFocus());
        pane.setPlainText(QStringLiteral("select  from t"));
        select(pane, 7, 7);
        const QRect plain = ask(pane, Qt::ImCursorRectangle).toRect();

        using A = QInputMethodEvent::Attribute;
        send(pane, QStringLiteral("nihao"), {A(QInputMethodEvent::Cursor, 2, 1)});
        const QRect atTwo = ask(pane, Qt::ImCursorRectangle).toRect();
        send(pane, QStringLiteral("nihao"), {A(QInputMethodEvent::Cursor, 5, 1)});
        const QRect atFive = ask(pane, Qt::ImCursorRectangle).toRect();
        QVERIFY(plain.left() < atTwo.left());
        QVERIFY(atTwo.left() < atFive.left());
        QCOMPARE(pane.toPlainText(), QStringLiteral("select  from t"));

        const QImage shown = pane.viewport()->grab().toImage();
        send(pane, QStringLiteral("nihao"), {A(QInputMethodEvent::Cursor, 5, 0)});
        const QImage hidden = pane.viewport()->grab().toImage();
        QVERIFY(shown != hidden);

        QTextCharFormat marked;
        marked.setBackground(QColor(255, 0, 0));
        send(pane, QStringLiteral("nihao"),
             {A(QInputMethodEvent::Cursor, 5, 0), A(QInputMethodEvent::TextFormat, 0, 2, marked)});
        const QImage formatted = pane.viewport()->grab().toImage();
        QVERIFY(countColour(formatted, QColor(255, 0, 0)) > 20);
        QCOMPARE(countColour(hidden, QColor(255, 0, 0)), 0);

        // The method selects "select" in the caret's line, then commits.
        send(pane, QString(), {A(QInputMethodEvent::Selection, 0, 6, {})});
        QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("select"));
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("SELECT"));
        QApplication::sendEvent(&pane, &commit);
        QCOMPARE(pane.toPlainText(), QStringLiteral("SELECT  from t"));
    }

    // Left and Right move on screen: through right-to-left text against
    // the order of its characters, across mixed text one step a press, and
    // off a line's edge the way its text runs.
    void rightToLeft_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("oneRun"); // where runs meet a position has two places
        QTest::newRow("Hebrew") << QStringLiteral("שלום עולם") << true;
        QTest::newRow("Arabic") << QStringLiteral("مرحبا بالعالم") << true;
        QTest::newRow("mixed") << QStringLiteral("select שלום עולם from t") << false;
        QTest::newRow("Hebrew with digits") << QStringLiteral("שורה 12 מתוך 345") << false;
    }
    void rightToLeft() {
        QFETCH(QString, text);
        QFETCH(bool, oneRun);
        TextPane pane;
        pane.resize(400, 100);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.setFocus();
        pane.setPlainText(text + QStringLiteral("\nnext"));
        const int n = int(text.size());
        // From the line's left edge on screen, Right goes through every
        // position of a single run once, each press further right.
        const int y = pane.cursorRect().center().y();
        const int leftmost = pane.cursorForPosition(QPoint(0, y)).position();
        select(pane, leftmost, leftmost);
        QSet<int> seen{leftmost};
        int x = pane.cursorRect().left();
        for (int i = 0; i < n; ++i) {
            QTest::keyClick(&pane, Qt::Key_Right);
            const int p = pane.textCursor().position();
            QVERIFY2(p <= n, qPrintable(QString::number(i)));
            QVERIFY2(!oneRun || pane.cursorRect().left() > x, qPrintable(QString::number(p)));
            x = pane.cursorRect().left();
            seen.insert(p);
        }
        // Inside a number QTextLayout steps over the digits.
        QVERIFY(!oneRun || seen.size() == n + 1);
        // It ends at the right edge, and Left goes back to the left edge,
        // each press further left.
        const int rightmost = pane.cursorForPosition(QPoint(pane.width(), y)).position();
        QCOMPARE(pane.textCursor().position(), rightmost);
        QVERIFY(pane.viewport()->rect().contains(pane.cursorRect().center())); // shown, not off
        for (int i = 0; i < 2 * n && pane.textCursor().position() != leftmost; ++i) {
            QTest::keyClick(&pane, Qt::Key_Left);
            QVERIFY(!oneRun || pane.cursorRect().left() < x);
            x = pane.cursorRect().left();
        }
        QCOMPARE(pane.textCursor().position(), leftmost);
    }

    void rightToLeftEdges() {
        TextPane pane;
        pane.resize(400, 100);
        pane.show();
        pane.setFocus();
        pane.setPlainText(QStringLiteral("שלום\nעולם\nabc"));
        select(pane, 0, 0); // the start of a right-to-left line: its right edge
        QTest::keyClick(&pane, Qt::Key_Left);
        QCOMPARE(pane.textCursor().position(), 1);
        QTest::keyClick(&pane, Qt::Key_Right);
        QCOMPARE(pane.textCursor().position(), 0);
        select(pane, 4, 4); // its end, shown at the left: Left goes on to the next line
        QTest::keyClick(&pane, Qt::Key_Left);
        QCOMPARE(pane.textCursor().position(), 5);
        QTest::keyClick(&pane, Qt::Key_Right);
        QCOMPARE(pane.textCursor().position(), 4);
        select(pane, 10, 10); // a left-to-right line as ever
        QTest::keyClick(&pane, Qt::Key_Left);
        QCOMPARE(pane.textCursor().position(), 9);
        QTest::keyClick(&pane, Qt::Key_Right); // into the right-to-left line above
        QCOMPARE(pane.textCursor().position(), 8);
        select(pane, 10, 10);
        QTest::keyClick(&pane, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("a"));
        // Text at the right of the line is further into a right-to-left line.
        QTextCursor c(pane.document());
        c.setPosition(1);
        const int one = pane.cursorRect(c).left();
        c.setPosition(3);
        QVERIFY(pane.cursorRect(c).left() < one);
    }
};

QTEST_MAIN(TestTextPaneInput)
#include "tst_textpaneinput.moc"
