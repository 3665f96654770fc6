#include "export/tablewriter.h"

#include "export/dbfwriter.h"
#include "export/paradoxwriter.h"
#include "export/textwriters.h"
#include "export/xlswriter.h"

namespace exportfile {

namespace {

struct FormatName {
    const char* text;
    FileFormat format;
};

constexpr FormatName formatNames[] = {
    {"dBASE III", FileFormat::DBase3},
    {"dBASE IV", FileFormat::DBase4},
    {"dBASE 5.0", FileFormat::DBase5},
    {"Paradox 3.x", FileFormat::Paradox3},
    {"Paradox 4.x", FileFormat::Paradox4},
    {"Paradox 5.x", FileFormat::Paradox5},
    {"FoxPro 2.0", FileFormat::Fox20},
    {"FoxPro 2.5", FileFormat::Fox25},
    {"FoxPro 2.6", FileFormat::Fox26},
    {"FoxPro 3.0", FileFormat::Fox30},
    {"Excel 3.0", FileFormat::Excel3},
    {"Excel 4.0", FileFormat::Excel4},
    {"Excel 5.0", FileFormat::Excel5},
    {"Excel 8.0", FileFormat::Excel8},
    {"HTML Import", FileFormat::HtmlImport},
    {"HTML Export", FileFormat::HtmlExport},
    {"Text", FileFormat::Text},
};

} // namespace

FileFormat formatFromExtendedProperties(const QString& text) {
    // "Excel 8.0;HDR=YES" names the format first; further settings are not ours to judge.
    const QString name = text.section(u';', 0, 0).simplified();
    for (const auto& f : formatNames)
        if (name.compare(QLatin1String(f.text), Qt::CaseInsensitive) == 0)
            return f.format;
    if (name.isEmpty())
        throw ExportError(
            QStringLiteral("Es ist kein Dateiformat angegeben (Extended Properties)."));
    throw ExportError(QStringLiteral("Das Dateiformat \"%1\" wird nicht unterstützt.").arg(name));
}

QString defaultExtension(FileFormat format) {
    switch (format) {
    case FileFormat::Paradox3:
    case FileFormat::Paradox4:
    case FileFormat::Paradox5:
        return QStringLiteral(".db");
    case FileFormat::Excel3:
    case FileFormat::Excel4:
    case FileFormat::Excel5:
    case FileFormat::Excel8:
        return QStringLiteral(".xls");
    case FileFormat::HtmlImport:
    case FileFormat::HtmlExport:
        return QStringLiteral(".html");
    case FileFormat::Text:
        return QStringLiteral(".txt");
    default:
        return QStringLiteral(".dbf");
    }
}

std::vector<QString> companionFiles(FileFormat format, const QString& path) {
    switch (format) {
    case FileFormat::DBase3:
    case FileFormat::DBase4:
    case FileFormat::DBase5:
    case FileFormat::Fox20:
    case FileFormat::Fox25:
    case FileFormat::Fox26:
    case FileFormat::Fox30:
        return {DbfWriter::memoPath(dbfFlavor(format), path)};
    case FileFormat::Paradox3:
    case FileFormat::Paradox4:
    case FileFormat::Paradox5:
        return {ParadoxWriter::blobPath(path)};
    default:
        return {};
    }
}

std::unique_ptr<TableWriter> createTableWriter(FileFormat format, const TableSchema& schema,
                                               const QString& path) {
    switch (format) {
    case FileFormat::Paradox3:
        return std::make_unique<ParadoxWriter>(30, schema, path);
    case FileFormat::Paradox4:
        return std::make_unique<ParadoxWriter>(40, schema, path);
    case FileFormat::Paradox5:
        return std::make_unique<ParadoxWriter>(50, schema, path);
    case FileFormat::Excel3:
    case FileFormat::Excel4:
    case FileFormat::Excel5:
    case FileFormat::Excel8:
        return std::make_unique<XlsWriter>(biffVersion(format), schema, path);
    case FileFormat::HtmlImport:
    case FileFormat::HtmlExport:
        return std::make_unique<HtmlWriter>(schema, path);
    case FileFormat::Text:
        return std::make_unique<TextWriter>(schema, path);
    default:
        return std::make_unique<DbfWriter>(dbfFlavor(format), schema, path);
    }
}

void TableWriter::appendCells(const RowView& row, int columns) {
    std::vector<QVariant> values(size_t(std::max(columns, 0)));
    for (int c = 0; c < columns; ++c)
        values[size_t(c)] = row.value(c);
    appendRow(values);
}

void writeTable(FileFormat format, const TableSchema& schema,
                const std::vector<std::vector<QVariant>>& rows, const QString& path) {
    auto writer = createTableWriter(format, schema, path);
    for (const auto& row : rows)
        writer->appendRow(row);
    writer->finish();
}

} // namespace exportfile
