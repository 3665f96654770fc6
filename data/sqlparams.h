#pragma once
// ":name" parameter markers in SQL text.

#include <QString>
#include <QStringList>

namespace data {

struct ParsedParameters {
    QString text;      // the text with every marker replaced by "?"
    QStringList names; // marker names in order of appearance (repeats kept)
};

// A marker is ":" followed by a letter, digit or "_" and runs over letters,
// digits and "_". Not markers: anything inside '...' or "..." literals,
// [bracketed] names, "--" and "/* */" comments (the driver does not count a
// "?" there either), and "::".
ParsedParameters parseParameters(const QString& sql);

} // namespace data
