#pragma once
// T-SQL syntax colouring for the query editor, over the scanner the comment
// filter and the batch splitting use too. Presentation only: it sets
// character formats on the document's layout and never changes the text,
// its lines or the selection.
//
// A very long line (a script saved as one line, a generated insert) can be
// left without colour formats (or all lines are, see scan()): every format range splits the line's
// layout into more pieces, which makes laying out such a line several times slower than laying out
// its plain text, and setting formats after the text has been laid out lays it out a second time.
// An editor that draws such a line itself asks for its coloured stretches where it shows them
// (stretches()); the scan of a long line keeps resume points so that this costs only the part asked
// for.

#include <QList>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

class QTextBlock;
class QTextDocument;

class SqlHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    // What a stretch of text is. The lexical rules are those of SqlScanner
    // (app/logic/sqlscanner.h); a line's user state is the SqlScanState it
    // hands to the next line, as SqlScanState::toInt(). Names in double quotes
    // are coloured as bracketed names.
    enum Kind { Plain = 0, Comment = 1, String = 2, Bracketed = 3, Keyword = 4, Number = 5 };

    // Lines of at least this many characters count as very long.
    static constexpr int kLongLine = 10000;

    // A coloured stretch of a line, in positions of the line.
    struct Stretch {
        int start;
        int length;
        Kind kind;
        bool operator==(const Stretch&) const = default;
    };

    // Colours the document's lines with character formats.
    explicit SqlHighlighter(QTextDocument* document);
    // Attached to no document: an editor that colours every line while
    // drawing calls scan() on its changes and asks for stretches().
    explicit SqlHighlighter(QObject* parent);

    // Brings the lines' states and resume points up to date after a change
    // of the document's text at `position`, `added` characters long: the
    // changed lines, and the lines after them as long as the state a line
    // hands on changes. Sets no formats.
    void scan(QTextDocument* document, int position, int added);

    const QTextCharFormat& format(Kind kind) const { return m_formats[kind]; }

    // Whether very long lines are left without character formats, for an
    // editor that colours them while drawing. Off by default.
    void setLongLinesDrawnByEditor(bool on);
    bool longLinesDrawnByEditor() const { return m_longLinesDrawn; }
    // Whether the block is such a line.
    bool drawnByEditor(const QTextBlock& block) const;

    // The coloured stretches of the block that overlap its characters from
    // `from` up to `to`, as its character formats would give them, cut to
    // that range.
    QList<Stretch> stretches(const QTextBlock& block, int from, int to) const;

protected:
    void highlightBlock(const QString& text) override;

private:
    void setUpFormats();

    // The text of the block asked for last: a line of megabytes is asked
    // for once per screen line painted, and is copied only when it changed.
    const QString& blockText(const QTextBlock& block) const;

    QTextCharFormat m_formats[6];
    bool m_longLinesDrawn = false;
    mutable int m_textBlock = -1;
    mutable int m_textRevision = -1;
    mutable const void* m_textDocument = nullptr;
    mutable QString m_text;
};
