#pragma once
// SQL script files: plain text, one editor line per text line.
//
// Reading takes UTF-8 when the file starts with its byte-order mark or is
// valid UTF-8, Windows-1252 otherwise, and treats CR, LF and CR LF each as one
// line break. Writing puts CR LF after every line, the last one too, in
// Windows-1252, or as UTF-8 with a byte-order mark when a character does not
// fit (see export/values.h), into a temporary file
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
