#pragma once
// What the pieces of the plain-text control (textpane*.cpp) share: the
// space around the text, how far around what is shown a long line is shaped,
// and the kinds of characters word moves and double clicks go by.

#include <QChar>

namespace textpane {

constexpr int kMargin = 4;         // space around the text, as a document's margin
constexpr qreal kPadding = 64;     // shaped beyond the visible edges of a windowed line
constexpr int kAroundCursor = 256; // characters shaped either side of a position

// Kinds of characters for word moves: blanks, letters and digits, the rest.
inline int charClass(QChar c) {
    if (c.isSpace())
        return 0;
    return c.isLetterOrNumber() || c == u'_' ? 1 : 2;
}

} // namespace textpane
