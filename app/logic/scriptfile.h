#pragma once
// SQL script files: plain text, one editor line per text line.
//
// Reading takes UTF-8 (a byte-order mark is skipped; bytes that are not
// UTF-8 are read as Latin-1, as older 8-bit scripts are) and treats CR, LF
// and CR LF each as one line break. Writing puts CR LF after every line, the
// last one too, as UTF-8 without a byte-order mark, into a temporary file
// that replaces the target only once it is complete: a failed save leaves an
// existing file as it was.

#include <QString>
#include <QStringList>
#include <stdexcept>

class ScriptFileError : public std::runtime_error {
public:
    explicit ScriptFileError(const QString& message);
};

// The file's text with every line break as "\n". Throws ScriptFileError
// "Datei NAME kann nicht geöffnet werden. REASON".
QString readScriptFile(const QString& fileName);

// Writes lines, each followed by CR LF. Throws ScriptFileError
// "Datei "NAME" kann nicht erstellt werden. REASON".
void writeScriptFile(const QString& fileName, const QStringList& lines);

// Line breaks of any kind (CR LF, CR, LF) become "\n".
QString normalizeLineBreaks(const QString& text);

// A name typed without an extension gets the default extension, ".sql"
// unless another is given (for opening only when no file of the typed name
// exists).
QString withDefaultExtension(const QString& fileName, bool forSaving,
                             const QString& extension = QStringLiteral("sql"));
