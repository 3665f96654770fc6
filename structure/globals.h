#pragma once
// Process-wide settings values shared by the main window, the settings dialog
// and the printouts. They live for the whole run; the main window loads
// QueryTimeout from the settings store at start and writes it back at close,
// PrintFontSize is never stored and starts at 10 in every process.

#include <QString>
#include <array>

// Font size of printouts, in points (the settings dialog allows 4 to 14).
inline int PrintFontSize = 10;

// Command time-out of queries in seconds; 0 means no time-out.
inline int QueryTimeout = 0;

// The texts that F1 … F10 insert into the query editor; index 0 is F1. The
// main window owns one instance; the settings dialog edits it.
using TShortcutTexts = std::array<QString, 10>;

// A stored or typed number: the whole number the text holds (blanks around it
// allowed), else the fallback ("", "abc", "1.5" and "12x" give the fallback).
inline int settingToInt(const QString& text, int fallback = 0) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}
