#include "app/logic/sqlbatches.h"

#include "app/logic/sqlscanner.h"

#include <algorithm>
#include <climits>

namespace {

// Whether a line that starts outside any literal, name or comment may leave
// one open. Without quoted names, brackets and comment marks only string
// literals can, and then only with an odd number of quotes: each quote
// opens or closes one, and a doubled quote inside closes and opens again.
bool mayOpen(QStringView line) {
    bool open = false;
    for (const QChar c : line)
        switch (c.unicode()) {
        case u'\'':
            open = !open;
            break;
        case u'"':
        case u'[':
        case u'-':
        case u'/':
            return true;
        default:
            break;
        }
    return open;
}

bool onlyBlanks(QStringView line) {
    return std::all_of(line.begin(), line.end(), [](QChar c) { return c.isSpace(); });
}

} // namespace

int goLineCount(QStringView line) {
    // A GO line begins with blanks and block comments, then GO: any other
    // first character rules it out without scanning the line.
    const auto first = std::find_if(line.begin(), line.end(), [](QChar c) { return !c.isSpace(); });
    if (first == line.end() || (*first != u'g' && *first != u'G' && *first != u'/'))
        return 0;
    SqlScanner scanner(line);
    SqlToken token;
    bool go = false;
    int count = 0;
    while (scanner.next(token)) {
        const QStringView piece = line.mid(token.start, token.length);
        switch (token.kind) {
        case SqlTokenKind::Whitespace:
        case SqlTokenKind::LineComment:
        case SqlTokenKind::BlockComment:
            break;
        case SqlTokenKind::Keyword:
            if (go || piece.compare(u"go", Qt::CaseInsensitive) != 0)
                return 0;
            go = true;
            break;
        case SqlTokenKind::Number:
            if (!go || count != 0)
                return 0;
            for (const QChar c : piece) {
                if (c < u'0' || c > u'9' || count > (INT_MAX - 9) / 10)
                    return 0; // a dot, a digit of another script, or too large
                count = count * 10 + (c.unicode() - u'0');
            }
            if (count == 0)
                return 0;
            break;
        default:
            return 0;
        }
    }
    // A block comment opened on the line and left open makes the next lines
    // a comment, which is nothing a GO line may do.
    if (!go || scanner.state().open != SqlScanState::Nothing)
        return 0;
    return count == 0 ? 1 : count;
}

QList<SqlBatch> splitBatches(const QString& text) {
    QList<SqlBatch> batches;
    const qsizetype n = text.size();
    SqlScanState state;       // at the start of the current line
    qsizetype batchStart = 0; // where the current batch begins
    qsizetype batchEnd = 0;   // the end of its last line so far, line break excluded
    int batchLine = 0;
    bool content = false; // the current batch holds more than blanks and comments
    auto finish = [&](int repeat) {
        if (content)
            batches.append({text.mid(batchStart, batchEnd - batchStart), batchLine, repeat});
        content = false;
    };

    qsizetype lineStart = 0;
    for (int lineNo = 0;; ++lineNo) {
        qsizetype lineEnd = lineStart;
        while (lineEnd < n && text[lineEnd] != u'\n' && text[lineEnd] != u'\r')
            ++lineEnd;
        const QStringView line = QStringView(text).mid(lineStart, lineEnd - lineStart);
        qsizetype next = lineEnd; // the start of the next line
        if (next < n && text[next++] == u'\r' && next < n && text[next] == u'\n')
            ++next;
        const int count = state.open == SqlScanState::Nothing ? goLineCount(line) : 0;
        if (count > 0) {
            finish(count);
            batchStart = next;
            batchLine = lineNo + 1;
        } else if (state.open == SqlScanState::Nothing && !mayOpen(line)) {
            // Most lines of a long script: nothing opens, only whether the
            // line holds more than blanks counts.
            content = content || !onlyBlanks(line);
            batchEnd = lineEnd;
        } else {
            SqlScanner scanner(line, state);
            scanner.setKeywords(false);
            SqlToken token;
            while (scanner.next(token))
                if (token.kind != SqlTokenKind::Whitespace &&
                    token.kind != SqlTokenKind::LineComment &&
                    token.kind != SqlTokenKind::BlockComment)
                    content = true;
            state = scanner.state();
            batchEnd = lineEnd;
        }
        if (lineEnd >= n)
            break;
        lineStart = next;
    }
    finish(1);
    return batches;
}
