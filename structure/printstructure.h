#pragma once
// The structure printout: the field list of the structure window as
// fixed-width text columns in Courier New at the print font size.

#include <QList>
#include <QString>
#include <QStringList>

// One line of the listing: "%-5s %-20s %-20s %8s" over the four texts. A text
// longer than its field is kept whole and pushes the rest of the line right.
QString formatStructureLine(const QString& nr, const QString& name, const QString& type,
                            const QString& size);

// Prints the rows (each the four column texts of one grid row under the
// headings) on the printer object under the hourglass. Errors of the printer
// propagate; the job is then aborted and the cursor restored.
void PrintStructure(const QList<QStringList>& rows);
