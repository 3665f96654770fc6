#pragma once
// The bar below the query editor for finding (Ctrl+F), replacing (Ctrl+H) and
// going to a line (Ctrl+G). Enter finds the next match, Shift+Enter the
// previous one, every match is marked in the text; "Alle ersetzen" is one
// step of undo. Escape closes the bar and gives the keys back to the editor.

#include "app/editor/textsearch.h"

#include <QTimer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TextPane;

namespace editor {

class FindBar : public QWidget {
    Q_OBJECT
public:
    enum Mode { Find, Replace, GotoLine };

    explicit FindBar(TextPane* editor);

    void open(Mode mode);
    void close();
    Mode mode() const { return m_mode; }

    SearchOptions options() const;
    // Selects the next (previous) match from the caret; false when none.
    bool findNext(bool forward = true);
    // Replaces the selected match and selects the next one.
    bool replaceOne();
    // Replaces every match as one step of undo; returns how many.
    int replaceAll();
    // Puts the caret at the start of line `line` (1-based, clamped).
    void gotoLine(int line);
    // The matches marked now (also when the bar has not yet refreshed them).
    int markedCount() const;

    QLineEdit* findEdit() const { return m_find; }
    QLineEdit* replaceEdit() const { return m_replace; }
    QLineEdit* lineEdit() const { return m_line; }
    QCheckBox* matchCaseBox() const { return m_case; }
    QCheckBox* wholeWordBox() const { return m_word; }
    QCheckBox* regexBox() const { return m_regex; }
    QLabel* statusLabel() const { return m_status; }

    // At most this many matches are marked.
    static constexpr int kMaxMarks = 100000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const QString& text() const;
    // Whether the search can run; says why not in the status line.
    bool usable(const TextSearch& search);
    void remark();
    void showStatus(const QString& text);

    TextPane* m_editor;
    Mode m_mode = Find;
    QWidget* m_findRow;
    QWidget* m_replaceRow;
    QWidget* m_lineRow;
    QLineEdit* m_find;
    QLineEdit* m_replace;
    QLineEdit* m_line;
    QCheckBox* m_case;
    QCheckBox* m_word;
    QCheckBox* m_regex;
    QLabel* m_status;
    QTimer m_remark; // marks again a moment after the text or the search changed
    mutable QString m_text;
    mutable bool m_textStale = true;
};

} // namespace editor
