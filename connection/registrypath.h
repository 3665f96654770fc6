#pragma once
// Reading and writing single string values of the registry by full path
// ("Key\Path\ValueName"), the way the connection component keeps its values:
// reads never fail visibly, writes never report.

#include <QString>
#include <utility>

enum TRegistryRoot { rrClassesRoot, rrCurrentUser, rrLocalMachine };

// Longest key path, value name or text the writer stores.
inline constexpr int kMaxRegistryText = 254;

// (key path, value name): the value name is the text after the last
// backslash, the key path the text before it. Without a backslash the key
// path is empty and the whole text is the value name.
std::pair<QString, QString> SplitRegistryPath(const QString& path);

// The value's text; empty when the value is missing, is not a string value,
// or its key cannot be opened.
QString ReadRegistryString(TRegistryRoot root, const QString& path);

// Writes the value as a string value, creating its key when missing.
// Writes nothing when the key cannot be created or the value cannot be
// stored, and refuses (writes nothing) when the key path, the value name or
// the text is longer than kMaxRegistryText characters: a shortened server
// or user name would be worse than none. Returns whether it was written.
bool WriteRegistryString(TRegistryRoot root, const QString& path, const QString& text);
