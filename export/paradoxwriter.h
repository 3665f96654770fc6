#pragma once

// Paradox tables through pxlib, in the version the format names (3.0, 4.0 or 5.0).
// Field types follow what each version offers:
//   integer        Number (3.x, 4.x), Long (5.x)
//   float          Number
//   numeric        Money ("$")
//   char(n)        Alpha n
//   memo           Alpha 255 in 3.x (which has no memo; longer texts are refused), else a
//                  memo with its text in the .mb file beside the table
//   bit            Short 1/0 (3.x, 4.x), Logical (5.x)
//   date           Date
//   datetime,
//   timestamp      Date in 3.x and 4.x (the time of day is lost there), Timestamp in 5.x
//   time           Alpha 8 "hh:mm:ss" (3.x, 4.x), Time (5.x)
// Texts are stored in code page 1252, which the header names.

#include "export/tablewriter.h"

namespace exportfile {

// pxlib's field type code and length for a column in a table of the given version (30, 40, 50).
struct ParadoxField {
    QByteArray name;
    char type = 0;
    int length = 0;
};
ParadoxField paradoxFieldFor(const ColumnDef& column, int version);

class ParadoxWriter : public TableWriter {
public:
    ParadoxWriter(int version, const TableSchema& schema, const QString& path);
    ~ParadoxWriter() override;
    void appendRow(const std::vector<QVariant>& values) override;
    void finish() override;

    static QString blobPath(const QString& path);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace exportfile
