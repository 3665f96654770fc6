#pragma once
// T-SQL syntax colouring for the query editor. Presentation only: it sets
// character formats on the document's layout and never changes the text,
// its lines or the selection.

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

class QTextDocument;

class SqlHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    // What a stretch of text is; also the state a line hands to the next.
    enum Kind { Plain = 0, Comment = 1, String = 2, Bracketed = 3, Keyword = 4, Number = 5 };

    explicit SqlHighlighter(QTextDocument* document);

    const QTextCharFormat& format(Kind kind) const { return m_formats[kind]; }

protected:
    void highlightBlock(const QString& text) override;

private:
    QTextCharFormat m_formats[6];
};
