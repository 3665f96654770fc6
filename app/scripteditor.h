#pragma once
// The query editor: a plain-text editor with T-SQL colouring. Lines of any
// length stay quick to open and edit: very long lines are laid out as plain
// text and coloured while they are drawn, only where they are shown.

#include <QPlainTextEdit>

class SqlHighlighter;

class ScriptEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit ScriptEditor(QWidget* parent = nullptr);

    SqlHighlighter* highlighter() const { return m_highlighter; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Draws the shown lines of a long block in their colours, with the
    // selection and the cursor as the editor draws them.
    void drawLongBlock(QPainter& painter, const QTextBlock& block, const QPointF& offset,
                       const QRect& area);

    SqlHighlighter* m_highlighter;
};
