#pragma once
// Plain-text printing, line by line, on the process's printer object: one
// font, a fixed left margin, a top margin that is also kept free at the
// bottom, a line advance of ten units per point of font size, an automatic
// page break and a header with the page number on every page after the first.
//
// All state is process-wide; there is one print job at a time. Positions are
// printer device units (printer pixels).
//
// Order of calls: set LeftMargin, TopMargin and HeaderTitle; PrintBegin; any
// number of PrintSetFont and PrintLine; PrintEnd. A client whose job is ended
// early by an error calls PrintAbort.

#include <QFlags>
#include <QString>

namespace LPTprinter {

// Set by the client before PrintBegin.
inline int LeftMargin = 0;  // x of every line
inline int TopMargin = 0;   // y of a page's first line; as much stays free at the bottom
inline QString HeaderTitle; // job name and start of the page header

// Set by the job.
inline int PageHeight = 0; // printable height of the page in device pixels
inline int LineHeight = 0; // font size in points × 10
inline int CurrentY = 0;   // y of the next line

enum class FontStyle { Bold = 0x1, Italic = 0x2, Underline = 0x4, StrikeOut = 0x8 };
Q_DECLARE_FLAGS(FontStyles, FontStyle)

// Reads PageHeight, starts the job named HeaderTitle on page 1, sets
// CurrentY to TopMargin, the font and LineHeight. Throws when the job cannot
// be started (no printer, output not writable).
void PrintBegin(const QString& fontName, int fontSize);

void PrintSetFont(const QString& fontName, int fontSize, FontStyles style);

// Prints the text at (LeftMargin, CurrentY) and advances; breaks the page
// when the next line would start below PageHeight − TopMargin.
void PrintLine(const QString& text);

// Ends the job and sends it to the printer.
void PrintEnd();

// Ends a job that an error interrupted, without printing it. Safe to call
// when no job runs.
void PrintAbort();

// The header of a continued page ("title Seite: n" and an empty line). Used by
// PrintLine after a page break.
void PrintPageHeader();

// Page number of the current page of the running job (1 on the first page).
int PageNumber();

} // namespace LPTprinter

Q_DECLARE_OPERATORS_FOR_FLAGS(LPTprinter::FontStyles)
