#pragma once
// Field types of the data access layer. The ordinals are part of the
// interface: the structure window indexes its name table with them and the
// export maps them to column types, so the order never changes.

#include <QString>

enum TFieldType : int {
    ftUnknown = 0,
    ftString = 1,
    ftSmallint = 2,
    ftInteger = 3,
    ftWord = 4,
    ftBoolean = 5,
    ftFloat = 6,
    ftCurrency = 7,
    ftBCD = 8,
    ftDate = 9,
    ftTime = 10,
    ftDateTime = 11,
    ftBytes = 12,
    ftVarBytes = 13,
    ftAutoInc = 14,
    ftBlob = 15,
    ftMemo = 16,
    ftGraphic = 17,
    ftFmtMemo = 18,
    ftParadoxOle = 19,
    ftDBaseOle = 20,
    ftTypedBinary = 21,
    ftCursor = 22,
    ftFixedChar = 23,
    ftWideString = 24,
    ftLargeint = 25,
    ftADT = 26,
    ftArray = 27,
    ftReference = 28,
    ftDataSet = 29,
    ftOraBlob = 30,
    ftOraClob = 31,
    ftVariant = 32,
    ftInterface = 33,
    ftIDispatch = 34,
    ftGuid = 35,
    ftTimeStamp = 36,
    ftFMTBcd = 37,
};

inline constexpr int kFieldTypeCount = 38;

// "ftString" for ftString and so on; "ftUnknown" for a value out of range.
QString fieldTypeEnumName(TFieldType type);

// Binary large objects and long texts: the kinds the grid and the cell viewer
// treat as large objects.
bool isBlobFieldType(TFieldType type);
