#include "app/scripteditor.h"

#include "app/sqlhighlighter.h"

#include <QTextBlock>
#include <QTextDocument>

ScriptEditor::ScriptEditor(QWidget* parent)
    : TextPane(parent), m_highlighter(new SqlHighlighter(static_cast<QObject*>(this))) {
    // No line carries character formats: they would cost a format per
    // character of a changed line. The highlighter keeps the state each line
    // hands on and, in long lines, the points its scan can resume from.
    connect(document(), &QTextDocument::contentsChange, this, [this](int position, int, int added) {
        m_highlighter->scan(document(), position, added);
    });
}

QList<QTextLayout::FormatRange> ScriptEditor::formats(const QTextBlock& block, int from,
                                                      int to) const {
    // Colours only: every line is measured in the plain font, so a bold or
    // italic stretch would no longer fit the width its line was broken at.
    QList<QTextLayout::FormatRange> ranges;
    for (const SqlHighlighter::Stretch& s : m_highlighter->stretches(block, from, to)) {
        QTextCharFormat format;
        format.setForeground(m_highlighter->format(s.kind).foreground());
        ranges.append({s.start, s.length, format});
    }
    return ranges;
}
