#pragma once
// How the messages page words what the server said: errors with the heading
// the server's own tools print ("Meldung 208, Ebene 16, Status 1, Zeile 3"),
// row counts, the summary of a script whose batches failed, and the line of
// the editor an error points at.

#include <QString>

struct ServerMessage {
    int number = 0;      // the server's message number (0: none, a message of the client)
    int severity = -1;   // -1 when unknown
    int state = -1;      // -1 when unknown
    int line = 0;        // line in the batch (1-based), 0 when unknown
    QString procedure{}; // the procedure that raised it, if any
};

// "Meldung N, Ebene S, Status T[, Prozedur P], Zeile L": the heading above an
// error's text. Parts the server did not send are left out; empty for a
// message without a number.
QString errorHeading(const ServerMessage& message);

// "(1 Zeile betroffen)", "(N Zeilen betroffen)".
QString rowsAffectedText(qint64 rows);

// The line of the editor an error at `batchLine` (1-based, 0 unknown) of a
// batch points at, when the batch starts at the 0-based line `batchFirstLine`
// of the text that ran and that text starts at the 0-based editor line
// `textFirstLine`: 0-based, -1 when unknown.
int editorLineOf(int batchLine, int batchFirstLine, int textFirstLine);

// The message box after a script of several batches of which some failed.
QString failedBatchesText(int failed, int total);

// The messages page's line after the error of a batch of a script.
QString failedBatchLine(int batchNumber, int editorLine);

// "12 Datensätze", "1 Datensatz", with the time the run took ("0,25 s") and
// the mark of a result cut short by an error or a cancel.
QString runSummaryText(qint64 rows, bool haveResult, bool incomplete, qint64 milliseconds);
