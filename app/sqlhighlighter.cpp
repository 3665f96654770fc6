#include "app/sqlhighlighter.h"

#include "app/logic/sqlscanner.h"

#include <QTextBlock>
#include <algorithm>
#include <climits>

namespace {

// Where a scan of a long line may start again: token boundaries outside any
// stretch, about every kResumeStep characters.
constexpr int kResumeStep = 4096;

class ResumePoints : public QTextBlockUserData {
public:
    QList<int> positions;
};

// The colour a token of the scanner gets; Plain for none.
SqlHighlighter::Kind kindOf(SqlTokenKind token) {
    switch (token) {
    case SqlTokenKind::Keyword:
        return SqlHighlighter::Keyword;
    case SqlTokenKind::Number:
        return SqlHighlighter::Number;
    case SqlTokenKind::String:
        return SqlHighlighter::String;
    case SqlTokenKind::QuotedName:
    case SqlTokenKind::BracketedName:
        return SqlHighlighter::Bracketed;
    case SqlTokenKind::LineComment:
    case SqlTokenKind::BlockComment:
        return SqlHighlighter::Comment;
    default:
        return SqlHighlighter::Plain;
    }
}

// Scans `text` from `i`, which is at a token boundary in `state` (what the
// line before left open, as SqlScanState::toInt()). Calls paint(start,
// length, kind) for every coloured stretch and stops at the first token
// boundary at or after `stop`. Keywords are looked up only when `words` is
// set. Returns the state at the end of the text
// (meaningful only when the scan ran to the end). With `resumes`, records
// resume points.
template <typename Paint>
int scanLine(const QString& text, int i, int state, int stop, bool words, const Paint& paint,
             QList<int>* resumes) {
    SqlScanner scanner(text, SqlScanState::fromInt(state), i);
    scanner.setKeywords(words);
    int nextResume = i + kResumeStep;
    SqlToken token;
    while (scanner.position() < stop) {
        const bool boundary = scanner.state().open == SqlScanState::Nothing;
        if (!scanner.next(token))
            break;
        if (resumes && boundary && token.start >= nextResume) {
            resumes->append(int(token.start));
            nextResume = int(token.start) + kResumeStep;
        }
        const SqlHighlighter::Kind kind = kindOf(token.kind);
        if (kind != SqlHighlighter::Plain)
            paint(int(token.start), int(token.length), kind);
    }
    return scanner.state().toInt();
}

int stateBefore(const QTextBlock& block) {
    const QTextBlock previous = block.previous();
    return previous.isValid() ? SqlScanState::fromInt(previous.userState()).toInt() : 0;
}

} // namespace

SqlHighlighter::SqlHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    setUpFormats();
}

SqlHighlighter::SqlHighlighter(QObject* parent) : QSyntaxHighlighter(parent) {
    m_longLinesDrawn = true;
    setUpFormats();
}

void SqlHighlighter::setUpFormats() {
    m_formats[Comment].setForeground(QColor(0x00, 0x80, 0x00));
    m_formats[Comment].setFontItalic(true);
    m_formats[String].setForeground(QColor(0xA0, 0x00, 0x00));
    m_formats[Bracketed].setForeground(QColor(0x80, 0x40, 0x00));
    m_formats[Keyword].setForeground(QColor(0x00, 0x00, 0xC0));
    m_formats[Keyword].setFontWeight(QFont::Bold);
    m_formats[Number].setForeground(QColor(0x80, 0x00, 0x80));
}

void SqlHighlighter::setLongLinesDrawnByEditor(bool on) {
    if (m_longLinesDrawn == on)
        return;
    m_longLinesDrawn = on;
    rehighlight();
}

bool SqlHighlighter::drawnByEditor(const QTextBlock& block) const {
    // Only a line scanned as long carries resume points.
    return dynamic_cast<const ResumePoints*>(block.userData()) != nullptr;
}

void SqlHighlighter::highlightBlock(const QString& text) {
    const int start = SqlScanState::fromInt(previousBlockState()).toInt();
    if (m_longLinesDrawn && text.size() >= kLongLine) {
        // No formats, only the state for the next line and the resume points.
        auto* points = new ResumePoints;
        const int state = scanLine(
            text, 0, start, INT_MAX, false, [](int, int, Kind) {}, &points->positions);
        setCurrentBlockUserData(points);
        setCurrentBlockState(state);
        return;
    }
    setCurrentBlockUserData(nullptr);
    const int state = scanLine(
        text, 0, start, INT_MAX, true,
        [this](int from, int length, Kind kind) { setFormat(from, length, m_formats[kind]); },
        nullptr);
    setCurrentBlockState(state);
}

void SqlHighlighter::scan(QTextDocument* document, int position, int added) {
    QTextBlock block = document->findBlock(position);
    const int end = position + added;
    bool next = false; // the line before handed on another state
    while (block.isValid() && (block.position() <= end || next)) {
        const int before = block.userState();
        const QString text = block.text();
        if (text.size() >= kLongLine) {
            auto* points = new ResumePoints;
            block.setUserState(scanLine(
                text, 0, stateBefore(block), INT_MAX, false, [](int, int, Kind) {},
                &points->positions));
            block.setUserData(points);
        } else {
            block.setUserData(nullptr);
            block.setUserState(scanLine(
                text, 0, stateBefore(block), INT_MAX, false, [](int, int, Kind) {}, nullptr));
        }
        next = block.userState() != before;
        block = block.next();
    }
}

const QString& SqlHighlighter::blockText(const QTextBlock& block) const {
    if (block.blockNumber() != m_textBlock || block.revision() != m_textRevision ||
        block.document() != m_textDocument || block.length() != m_text.size() + 1) {
        m_text = block.text();
        m_textBlock = block.blockNumber();
        m_textRevision = block.revision();
        m_textDocument = block.document();
    }
    return m_text;
}

QList<SqlHighlighter::Stretch> SqlHighlighter::stretches(const QTextBlock& block, int from,
                                                         int to) const {
    QList<Stretch> found;
    if (!block.isValid() || from >= to)
        return found;
    int i = 0;
    int state = stateBefore(block);
    if (const auto* points = dynamic_cast<const ResumePoints*>(block.userData())) {
        const auto after =
            std::upper_bound(points->positions.begin(), points->positions.end(), from);
        if (after != points->positions.begin()) {
            i = *(after - 1);
            state = 0; // nothing open
        }
    }
    scanLine(
        blockText(block), i, state, to, true,
        [&](int start, int length, Kind kind) {
            const int a = std::max(start, from);
            const int b = std::min(start + length, to);
            if (a < b)
                found.append({a, b - a, kind});
        },
        nullptr);
    return found;
}
