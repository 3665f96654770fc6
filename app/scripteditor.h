#pragma once
// The query editor: a plain-text editor with T-SQL colouring. Lines of any
// length stay quick to open and edit: the editor shapes only the part of a
// line it shows and asks the highlighter for the colours of just that part.

#include "controls/textpane.h"

class SqlHighlighter;

class ScriptEditor : public TextPane {
    Q_OBJECT
public:
    explicit ScriptEditor(QWidget* parent = nullptr);

    SqlHighlighter* highlighter() const { return m_highlighter; }

protected:
    QList<QTextLayout::FormatRange> formats(const QTextBlock& block, int from,
                                            int to) const override;

private:
    SqlHighlighter* m_highlighter;
};
