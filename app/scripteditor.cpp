#include "app/scripteditor.h"

#include "app/sqlhighlighter.h"

#include <QTextBlock>

ScriptEditor::ScriptEditor(QWidget* parent)
    : TextPane(parent), m_highlighter(new SqlHighlighter(document())) {
    // Long lines carry no formats, only the points a scan can resume from.
    m_highlighter->setLongLinesDrawnByEditor(true);
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
