#include "data/sqlparams.h"

namespace data {

namespace {
bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}
} // namespace

ParsedParameters parseParameters(const QString& sql) {
    ParsedParameters out;
    // Only a colon can begin a parameter: a text without one goes as it is
    // (every batch of a script passes through here).
    if (!sql.contains(QLatin1Char(':'))) {
        out.text = sql;
        return out;
    }
    out.text.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto copyUntil = [&](qsizetype end) {
        out.text += QStringView(sql).mid(i, end - i);
        i = end;
    };
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[')) {
            // Literal or quoted name up to its closing character; a doubled
            // closing character stands for one and does not close it.
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            qsizetype j = i + 1;
            while (j < n) {
                if (sql.at(j) == close) {
                    if (j + 1 < n && sql.at(j + 1) == close) {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
            copyUntil(j);
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            qsizetype j = i + 2;
            while (j < n && sql.at(j) != QLatin1Char('\n') && sql.at(j) != QLatin1Char('\r'))
                ++j;
            copyUntil(j);
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            copyUntil(end < 0 ? n : end + 2);
        } else if (c == QLatin1Char(':') && next == QLatin1Char(':')) {
            qsizetype j = i;
            while (j < n && sql.at(j) == QLatin1Char(':'))
                ++j;
            copyUntil(j);
        } else if (c == QLatin1Char(':') && isNameChar(next)) {
            qsizetype j = i + 1;
            while (j < n && isNameChar(sql.at(j)))
                ++j;
            out.names.append(sql.mid(i + 1, j - i - 1));
            out.text += QLatin1Char('?');
            i = j;
        } else {
            out.text += c;
            ++i;
        }
    }
    return out;
}

} // namespace data
