#pragma once
// The process's printer object: one QPrinter shared by the settings dialog
// (which selects the printer and the orientation) and every printout. The
// list of printers comes from the print system; tests replace the source.

#include <QPageLayout>
#include <QString>
#include <QStringList>
#include <functional>

class QPrinter;

namespace printerobject {

// The shared printer. Created on first use, at the printer's own resolution.
QPrinter& printer();

// Names of the installed printers, in the print system's order.
QStringList printers();

// Index of the selected printer in printers(); -1 when none is selected
// (no printer installed).
int printerIndex();

// Selects the printer with that index; an index out of range is ignored.
void setPrinterIndex(int index);

QPageLayout::Orientation orientation();
void setOrientation(QPageLayout::Orientation orientation);

// Replaces the QPrinter by a fresh one with the same printer, output file,
// resolution and page layout. A QPrinter whose job failed to start stays in
// an error state that refuses further changes; this gets it going again.
void recover();

// Test seam: where the printer list and the default printer come from.
struct PrinterSource {
    std::function<QStringList()> names;
    std::function<QString()> defaultName;
};
void setPrinterSource(PrinterSource source); // empty functions: the print system

} // namespace printerobject
