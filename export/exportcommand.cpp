#include "export/exportcommand.h"

#include "export/jet4format.h"

namespace {

struct ExtensionRow {
    const char* extension;
    TDatabaseType type;
};

// Tested in this order; at most one matches.
constexpr ExtensionRow extensionTable[] = {
    {".dbf", dtDBase3},  {".xls", dtExcel8}, {".txt", dtText},
    {".db", dtParadox5}, {".mdb", dtAccess}, {".html", dtHTMLexport},
};

} // namespace

std::optional<ExportTarget> exportTargetForFile(const QString& fileName) {
    // Both separators count, so names from either kind of system split the same way.
    const qsizetype slash = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
    const QString folder = fileName.left(slash + 1);
    const QString file = fileName.mid(slash + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    if (dot < 0)
        return std::nullopt;
    const QString extension = file.mid(dot).toLower();
    for (const auto& row : extensionTable)
        if (extension == QLatin1String(row.extension))
            return row.type == dtAccess
                       ? ExportTarget{fileName, accessTableName(file.left(dot)), row.type}
                       : ExportTarget{folder, file, row.type};
    return std::nullopt;
}

QString accessTableName(const QString& baseName) {
    // Access names have at most 64 characters, no leading blank, no control characters and
    // none of . ! ` [ ]; those, and characters the database's catalog cannot sort here,
    // become "_". Blanks at either end go.
    QString name = baseName;
    for (QChar& ch : name)
        if (!exportfile::jet4::allowedInName(ch) ||
            (ch != u' ' && !exportfile::jet4::indexableText(QString(ch))))
            ch = u'_';
    name = name.trimmed();
    name.truncate(64);
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("Tabelle") : name;
}

QString exportStatusText(qint32 rows) {
    return QStringLiteral("Es wurden %1 Datensätze exportiert.").arg(rows);
}

void exportQueryToFile(TVelADObatchmove& batchMove, TADODataSet& query, const QString& fileName,
                       const std::function<void(const QString&)>& showStatus) {
    // The status line is written however the export ends.
    struct StatusOnExit {
        TVelADObatchmove& batchMove;
        const std::function<void(const QString&)>& showStatus;
        ~StatusOnExit() {
            if (showStatus)
                showStatus(exportStatusText(batchMove.RowsExported()));
        }
    } status{batchMove, showStatus};

    const auto target = exportTargetForFile(fileName);
    if (!target)
        return;
    batchMove.setDestDatabaseName(target->databaseName);
    batchMove.setDestTableName(target->tableName);
    batchMove.setDestDatabaseType(target->type);
    query.DisableControls();
    try {
        batchMove.Execute();
    } catch (...) {
        query.EnableControls();
        throw;
    }
    // A result set that was never opened has no first row to go back to.
    if (query.Active())
        query.First();
    query.EnableControls();
}
