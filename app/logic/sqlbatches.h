#pragma once
// A script split into the batches the server gets one by one, at its GO lines,
// as the server's command-line tools split it.
//
// A GO line is a line that holds only the word GO, in any case, with blanks or
// tabs around it, optionally a positive count of runs ("GO 3") and comments
// ("GO -- done", "GO /* x */"), and that does not start inside a block
// comment, a string literal or a quoted or bracketed name. It ends the batch
// before it and belongs to no batch. Anything else on the line makes it text
// that goes to the server as it stands: "GO;", "GO 0", "GO 2x", "GO -1",
// "select 1 as go", a count too large for an int.

#include <QList>
#include <QString>

struct SqlBatch {
    // The batch as it stands in the script, comments and line breaks
    // included: from the start of its first line up to the line break
    // before the GO line that ends it, or to the end of the script.
    QString text;
    // The 0-based number, in the whole script, of the batch's first line:
    // the server's line n (1-based, counted in `text`) is script line
    // firstLine + n - 1.
    int firstLine = 0;
    // How many times the batch is to be run (the GO line's count, 1 without).
    int repeat = 1;

    bool operator==(const SqlBatch&) const = default;
};

// The batches of `text`, in order. Batches that hold nothing but blanks,
// line breaks and comments are left out. A text without GO lines is one batch.
// Every batch starts outside comments, strings and names, so each one can go
// through stripComments() on its own.
QList<SqlBatch> splitBatches(const QString& text);

// The count of a GO line (1 without a count), or 0 when `line`, scanned from
// outside comments, strings and names, is not a GO line.
int goLineCount(QStringView line);
