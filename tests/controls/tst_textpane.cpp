// The plain-text control: the document is never laid out, positions and
// points map onto each other, vertical moves keep the column, edits of a long
// line show the same as the edited text set afresh, and the keys edit.

#include "controls/textpane.h"

#include <QClipboard>
#include <QMimeData>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

namespace {

// Words of varying length, some longer than a screen line.
QString words(int chars) {
    static const char* list[] = {
        "alpha", "be", "gamma",    "delta_epsilon_zeta_eta_theta_iota_kappa",   "mu",
        "nu\t",  "xi", "omicron,", "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"};
    QString s;
    for (int i = 0; s.size() < chars; ++i) {
        s += QLatin1String(list[i % 9]);
        s += u' ';
    }
    s.truncate(chars);
    return s;
}

void setUp(TextPane& pane, TextPane::LineWrapMode mode = TextPane::WidgetWidth) {
    pane.setLineWrapMode(mode);
    pane.setCursorWidth(0); // no caret in the pictures
    pane.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane.resize(300, 200);
    pane.show();
}

// Shows the pane with `text`; false when its window never appeared.
bool shown(TextPane& pane, const QString& text) {
    setUp(pane);
    pane.setPlainText(text);
    return QTest::qWaitForWindowExposed(&pane);
}

// The middle of the caret at `position`, in viewport coordinates.
QPoint pointAt(const TextPane& pane, int position) {
    QTextCursor at(pane.document());
    at.setPosition(position);
    return pane.cursorRect(at).center();
}

} // namespace

class TestTextPane : public QObject {
    Q_OBJECT
private slots:
    // A long line is shown, edited and moved through without the document
    // laying out anything.
    void documentNeverLaidOut() {
        TextPane pane;
        setUp(pane);
        pane.setPlainText(words(1'000'000));
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.setFocus();
        QTest::keyClick(&pane, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(&pane, QStringLiteral("xy"));
        QTest::keyClick(&pane, Qt::Key_Backspace);
        QTest::keyClick(&pane, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(&pane, Qt::Key_Up);
        pane.repaint();
        QVERIFY(!qobject_cast<QPlainTextDocumentLayout*>(pane.document()->documentLayout()));
        QCOMPARE(pane.document()->firstBlock().layout()->lineCount(), 0);
        QVERIFY(pane.toPlainText().endsWith(QStringLiteral("x")));
        QCOMPARE(pane.toPlainText().size(), 1'000'001);
    }

    // Every position's caret rectangle leads back to the position, wrapped
    // and unwrapped, in short lines and in a line shaped only around what is
    // shown.
    void positionPointRoundTrip_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("around");
        QTest::newRow("wrapped") << int(TextPane::WidgetWidth) << 0;
        QTest::newRow("wrapped, far into the line") << int(TextPane::WidgetWidth) << 30'000;
        QTest::newRow("unwrapped, far into the line") << int(TextPane::NoWrap) << 30'000;
    }
    void positionPointRoundTrip() {
        QFETCH(int, mode);
        QFETCH(int, around);
        TextPane pane;
        setUp(pane, TextPane::LineWrapMode(mode));
        pane.setPlainText(QStringLiteral("short\n\n") + words(40'000) + QStringLiteral("\nend"));
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        for (int pos = around; pos < around + 400; ++pos) {
            QTextCursor c(pane.document());
            c.setPosition(pos);
            pane.setTextCursor(c); // scrolls it into view
            const QRect r = pane.cursorRect();
            QVERIFY(pane.viewport()->rect().contains(r.center()));
            QCOMPARE(pane.cursorForPosition(QPoint(r.left() + 1, r.center().y())).position(), pos);
        }
    }

    // A long text is broken at once where it is shown and the rest in
    // slices while the window goes on: the view is right at once, the scroll
    // range grows to the full count, and after a width change the line at
    // the top stays there.
    void breaksInTheBackground() {
        const QString text = (words(300) + u'\n').repeated(20'000);
        TextPane pane, whole;
        setUp(pane);
        setUp(whole);
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QVERIFY(QTest::qWaitForWindowExposed(&whole));
        whole.setPlainText(text);
        const int lines = whole.visualLineCount(); // waits for every line
        TextPane one;
        setUp(one);
        one.setPlainText(words(300));
        QCOMPARE(lines, 20'000 * one.visualLineCount() + 1); // and the empty last line
        pane.setPlainText(text);
        QCOMPARE(pane.viewport()->grab().toImage(), whole.viewport()->grab().toImage());
        QVERIFY(pane.verticalScrollBar()->maximum() < whole.verticalScrollBar()->maximum());
        // A caret sent far ahead of the breaking shows in its line as broken.
        QTextCursor far(pane.document());
        far.setPosition(301 * 15'000 + 290);
        pane.setTextCursor(far);
        QVERIFY(pane.viewport()->rect().contains(pane.cursorRect().center()));
        QCOMPARE(pane.cursorForPosition(pane.cursorRect().center()).position(), far.position());
        QTRY_COMPARE(pane.verticalScrollBar()->maximum(), whole.verticalScrollBar()->maximum());
        QCOMPARE(pane.visualLineCount(), lines);

        pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum() / 2);
        const int top = pane.cursorForPosition(QPoint(8, 8)).blockNumber();
        pane.resize(200, 200);
        QCOMPARE(pane.cursorForPosition(QPoint(8, 8)).blockNumber(), top);
        QTRY_VERIFY(pane.verticalScrollBar()->maximum() > whole.verticalScrollBar()->maximum());
        QCOMPARE(pane.cursorForPosition(QPoint(8, 8)).blockNumber(), top);
        QVERIFY(pane.visualLineCount() > lines);
    }

    // Up and Down move by screen lines and keep the column, also across a
    // shorter line.
    void upDownKeepColumn() {
        TextPane pane;
        setUp(pane);
        const QString line = QStringLiteral("abcdefghij abcdefghij abc");
        pane.setPlainText(line + QStringLiteral("\nab\n") + line.repeated(20));
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.setFocus();
        QTextCursor c = pane.textCursor();
        c.setPosition(20);
        pane.setTextCursor(c);
        const QRect start = pane.cursorRect();
        QTest::keyClick(&pane, Qt::Key_Down);
        QCOMPARE(pane.textCursor().position(), int(line.size()) + 3); // end of "ab"
        QTest::keyClick(&pane, Qt::Key_Down);
        const int columnWidth = pane.fontMetrics().horizontalAdvance(u'W');
        QVERIFY(std::abs(pane.cursorRect().left() - start.left()) < columnWidth);
        const int y = pane.cursorRect().top();
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(&pane, Qt::Key_Down);
        QVERIFY(pane.cursorRect().top() > y);
        QVERIFY(std::abs(pane.cursorRect().left() - start.left()) < columnWidth);
        for (int i = 0; i < 7; ++i)
            QTest::keyClick(&pane, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(pane.textCursor().position(), 20);
        QVERIFY(pane.textCursor().anchor() > 20);
    }

    // Edits in a long line break and draw it exactly as the edited text set
    // afresh: lines rebroken only from the change are the right ones.
    void editedLongLineShowsAsNew() {
        TextPane edited, fresh;
        setUp(edited);
        setUp(fresh);
        edited.setPlainText(words(200'000));
        QVERIFY(QTest::qWaitForWindowExposed(&edited));
        edited.setFocus();
        QTextCursor c = edited.textCursor();
        c.setPosition(100);
        edited.setTextCursor(c);
        QTest::keyClick(&edited, Qt::Key_Return); // two lines, then one again
        QTest::keyClick(&edited, Qt::Key_Backspace);
        for (int at : {150'000, 1'000, 199'990}) {
            c.setPosition(at);
            edited.setTextCursor(c);
            QTest::keyClicks(&edited, QStringLiteral("Zusatz "));
            QTest::keyClick(&edited, Qt::Key_Backspace, Qt::ControlModifier);
            QTest::keyClick(&edited, Qt::Key_Delete);
            QTest::keyClicks(&edited, QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"));
        }
        fresh.setPlainText(edited.toPlainText());
        QCOMPARE(edited.visualLineCount(), fresh.visualLineCount());
        edited.clearFocus();
        for (int at : {150'000, 1'000, 199'990}) {
            c.setPosition(at);
            edited.setTextCursor(c);
            fresh.verticalScrollBar()->setValue(edited.verticalScrollBar()->value());
            QCOMPARE(edited.viewport()->grab().toImage(), fresh.viewport()->grab().toImage());
        }
        // Undone, the text is the one loaded.
        for (int i = 0; i < 100 && edited.document()->isUndoAvailable(); ++i)
            edited.document()->undo();
        QCOMPARE(edited.toPlainText(), words(200'000));
    }

    // Typing on where it stopped is one step of undo, a line break or a
    // move elsewhere starts another; moving the caret changes no text.
    void typingUndoStepsInALongLine() {
        TextPane pane;
        const QString text = words(20'000);
        QVERIFY(shown(pane, text));
        pane.setFocus();
        QSignalSpy changed(&pane, &TextPane::textChanged);
        QTest::keyClick(&pane, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(&pane, Qt::Key_Home);
        QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&pane, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(changed.count(), 0);
        QTest::keyClicks(&pane, QStringLiteral("abc"));
        QTest::keyClick(&pane, Qt::Key_Return);
        QTest::keyClicks(&pane, QStringLiteral("de"));
        QTest::keyClick(&pane, Qt::Key_Left);
        QTest::keyClicks(&pane, QStringLiteral("f"));
        QCOMPARE(changed.count(), 7);
        const QStringList steps{text + QStringLiteral("abc\ndfe"), text + QStringLiteral("abc\nde"),
                                text + QStringLiteral("abc\n"), text + QStringLiteral("abc"), text};
        QCOMPARE(pane.toPlainText(), steps[0]);
        for (qsizetype i = 1; i < steps.size(); ++i) {
            QTest::keyClick(&pane, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(pane.toPlainText(), steps[i]);
        }
        QVERIFY(!pane.document()->isUndoAvailable());
        for (qsizetype i = steps.size() - 1; i-- > 0;) {
            QTest::keyClick(&pane, Qt::Key_Y, Qt::ControlModifier);
            QCOMPARE(pane.toPlainText(), steps[i]);
        }
    }

    // The keys of a plain-text editor: selection by keys, clipboard, undo,
    // read-only, and Tab moving the focus when set to.
    void editingKeys() {
        QWidget window;
        auto* pane = new TextPane(&window);
        auto* next = new TextPane(&window);
        pane->setGeometry(0, 0, 300, 100);
        next->setGeometry(0, 100, 300, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        pane->setFocus();
        QSignalSpy changed(pane, &TextPane::textChanged);
        QTest::keyClicks(pane, QStringLiteral("one two"));
        QTest::keyClick(pane, Qt::Key_Tab);
        QCOMPARE(pane->toPlainText(), QStringLiteral("one two\t"));
        QTest::keyClick(pane, Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("one two\t"));
        QTest::keyClick(pane, Qt::Key_Right, Qt::ControlModifier);
        QTest::keyClick(pane, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(pane->textCursor().selectedText(), QStringLiteral("one "));
        QTest::keyClick(pane, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(pane->toPlainText(), QStringLiteral("two\t"));
        QTest::keyClick(pane, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(pane, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(pane->toPlainText(), QStringLiteral("two\tone "));
        QTest::keyClick(pane, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane->toPlainText(), QStringLiteral("two\t"));
        QTest::keyClick(pane, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(pane->toPlainText(), QStringLiteral("two\tone "));
        QVERIFY(changed.count() > 0);
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("ä"));
        QApplication::sendEvent(pane, &commit);
        QVERIFY(pane->toPlainText().endsWith(QStringLiteral("ä")));

        pane->setReadOnly(true);
        QTest::keyClicks(pane, QStringLiteral("zz"));
        QTest::keyClick(pane, Qt::Key_Backspace);
        QVERIFY(pane->toPlainText().endsWith(QStringLiteral("ä")));
        pane->setReadOnly(false);
        pane->setTabChangesFocus(true);
        QTest::keyClick(pane, Qt::Key_Tab);
        QVERIFY(next->hasFocus());
        QVERIFY(!pane->toPlainText().endsWith(u'\t'));
    }

    // Mouse: a click places the caret, a drag selects, a double click
    // selects a word; the wheel scrolls.
    void mouse() {
        TextPane pane;
        setUp(pane);
        pane.setPlainText(QStringLiteral("select name from t\n").repeated(50));
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QTextCursor at(pane.document());
        at.setPosition(7);
        const QPoint name = pane.cursorRect(at).center() + QPoint(2, 0);
        QTest::mouseDClick(pane.viewport(), Qt::LeftButton, {}, name);
        QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("name"));
        at.setPosition(19 + 12);
        const QPoint below = pane.cursorRect(at).center();
        pane.moveCursor(QTextCursor::Start); // a press inside a selection would drag it
        QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, name);
        QTest::mouseMove(pane.viewport(), below);
        QTest::mouseRelease(pane.viewport(), Qt::LeftButton, {}, below);
        QCOMPARE(pane.textCursor().selectionStart(), 7);
        QCOMPARE(pane.textCursor().selectionEnd(), 31);
        QWheelEvent wheel(QPointF(10, 10), pane.mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pane.viewport(), &wheel);
        QVERIFY(pane.verticalScrollBar()->value() > 0);
    }

    // A selection dragged out of the view goes on growing and scrolling
    // while the button is held still outside, above, below and to the
    // sides, and stops when it is released.
    void selectionScrollsOutside() {
        TextPane pane;
        setUp(pane, TextPane::NoWrap);
        pane.setPlainText(
            (QStringLiteral("select name from t ").repeated(20) + u'\n').repeated(300));
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QScrollBar* v = pane.verticalScrollBar();
        v->setValue(100);
        QWidget* view = pane.viewport();
        const QPoint start(20, view->height() / 2);
        QTest::mousePress(view, Qt::LeftButton, {}, start);
        const int anchor = pane.textCursor().position();
        QTest::mouseMove(view, QPoint(20, view->height() + 40));
        const int firstEnd = pane.textCursor().position();
        QTRY_VERIFY(v->value() > 110);
        QVERIFY(pane.textCursor().position() > firstEnd);
        QCOMPARE(pane.textCursor().anchor(), anchor);
        QVERIFY(view->rect().contains(pane.cursorRect().center()));

        QTest::mouseMove(view, QPoint(20, -40));
        const int below = v->value();
        QTRY_VERIFY(v->value() < below - 10);
        QVERIFY(pane.textCursor().position() < anchor);

        QTest::mouseMove(view, QPoint(view->width() + 40, view->height() / 2));
        QTRY_VERIFY(pane.horizontalScrollBar()->value() > 100);
        QTest::mouseMove(view, QPoint(-40, view->height() / 2));
        QTRY_COMPARE(pane.horizontalScrollBar()->value(), 0);

        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(-40, view->height() / 2));
        const int at = v->value();
        const int position = pane.textCursor().position();
        QTest::qWait(200);
        QCOMPARE(v->value(), at);
        QCOMPARE(pane.textCursor().position(), position);
    }

    // Where the system has a primary selection (X11), a selection made with
    // the mouse is offered there and the middle button pastes it.
    void primarySelection() {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard->supportsSelection())
            QSKIP("this platform has no primary selection");
        TextPane pane;
        QVERIFY(shown(pane, QStringLiteral("select name from t")));
        QTest::mouseDClick(pane.viewport(), Qt::LeftButton, {}, pointAt(pane, 8));
        QTRY_COMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("name"));
        QTest::mouseClick(pane.viewport(), Qt::MiddleButton, {}, pointAt(pane, 18));
        QCOMPARE(pane.toPlainText(), QStringLiteral("select name from tname"));
    }

    // Text an input method composes shows at the caret without entering the
    // document; what it commits is typed.
    void composedText() {
        TextPane pane;
        QVERIFY(shown(pane, QStringLiteral("select  from t")));
        pane.setFocus();
        QTextCursor at(pane.document());
        at.setPosition(7);
        pane.setTextCursor(at);
        auto picture = [&] { return pane.viewport()->grab().toImage(); };
        const QImage plain = picture();
        QInputMethodEvent composing(QStringLiteral("nam"), {});
        QApplication::sendEvent(&pane, &composing);
        QCOMPARE(pane.toPlainText(), QStringLiteral("select  from t"));
        QVERIFY(picture() != plain);
        QInputMethodEvent done;
        done.setCommitString(QStringLiteral("name"));
        QApplication::sendEvent(&pane, &done);
        QCOMPARE(pane.toPlainText(), QStringLiteral("select name from t"));
        QCOMPARE(pane.textCursor().position(), 11);
    }

    // Text dropped on the pane lands where it is dropped and is selected; a
    // read-only pane takes none.
    void drops() {
        TextPane pane;
        QVERIFY(shown(pane, QStringLiteral("select  from t")));
        const QPointF point = pointAt(pane, 7);
        QMimeData data;
        data.setText(QStringLiteral("name"));
        QDragEnterEvent enter(point.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(pane.viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(pane.viewport(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(pane.toPlainText(), QStringLiteral("select name from t"));
        QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("name"));
        pane.setReadOnly(true);
        QDragEnterEvent refused(point.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(pane.viewport(), &refused);
        QVERIFY(!refused.isAccepted());
    }
};

QTEST_MAIN(TestTextPane)
#include "tst_textpane.moc"
