#pragma once
// What a grid cell holds and shows, apart from any widget: the value a typed
// text stands for, the placeholder of a large object, and how many
// characters a field's column is sized for.

#include "data/resultstore.h"
#include <QString>
#include <QVariant>

// The value a typed text stands for in a field of this kind: numbers,
// dates and times parsed strictly, an empty text null (except for texts);
// raises DataError naming the field when the text is no such value.
QVariant valueFromText(const QString& text, const data::ColumnInfo& column);

// The text a large-object cell shows by default: the field kind in brackets,
// upper case when the cell holds a value ("(MEMO)", "(GRAPHIC)", "(BLOB)"),
// lower case when it is null ("(memo)").
QString blobPlaceholder(int fieldType, bool isNull);

// What a NULL cell shows (drawn in grey); an empty text shows nothing.
const QString& nullText();

// A cell as copied to the clipboard: the text the grid shows, the whole
// text of a memo, NULL as nothing.
QString copyText(const data::ResultStore& store, qint64 row, int column);

// The width in characters a field's automatic column is sized for, as data
// grids size them by default: a text field's size, the usual display length
// of numbers, dates and times, about 10 characters for large objects.
int displayWidthChars(const data::ColumnInfo& column);

// True for the kinds that hold numbers (shown right-aligned).
bool isNumericKind(data::StorageKind kind);
