#include "export/exportcommand.h"

#include "export/fileio.h"
#include "export/jet4format.h"

#include <QElapsedTimer>
#include <QFileInfo>

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

struct StreamRow {
    const char* extension;
    exportfile::StreamFormat format;
};

constexpr StreamRow streamTable[] = {
    {".xlsx", exportfile::StreamFormat::Xlsx},
    {".csv", exportfile::StreamFormat::Csv},
    {".json", exportfile::StreamFormat::Json},
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
            return row.type == dtAccess ? ExportTarget{fileName, accessTableName(file.left(dot)),
                                                       row.type, std::nullopt}
                                        : ExportTarget{folder, file, row.type, std::nullopt};
    for (const auto& row : streamTable)
        if (extension == QLatin1String(row.extension))
            return ExportTarget{folder, file, dtUndefined, row.format};
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

QString exportStatusText(qint64 rows) {
    return QStringLiteral("Es wurden %1 Datensätze exportiert.").arg(rows);
}

QString exportProgressText(qint64 rows, qint64 total) {
    return QStringLiteral("%1 von %2 Datensätzen exportiert").arg(rows).arg(total);
}

QString exportFileFilter() {
    return QStringLiteral("dBASE (*.dbf);;Text (*.txt);;Excel-Arbeitsmappe (*.xlsx);;"
                          "CSV (Trennzeichen-getrennt) (*.csv);;JSON (*.json);;"
                          "Alle Dateien (*.*)");
}

exportfile::StreamOptions streamOptionsFor(const ExportTarget& target, const QLocale& locale) {
    exportfile::StreamOptions options;
    options.csvSeparator = exportfile::csvSeparatorFor(locale);
    options.sheetName = exportfile::sheetNameFor(QFileInfo(target.tableName).completeBaseName());
    return options;
}

void exportQueryToFile(TVelADObatchmove& batchMove, TADODataSet& query, const QString& fileName,
                       const std::function<void(const QString&)>& showStatus,
                       const ExportControl& control) {
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
    exportfile::removeAbandonedStaging(QFileInfo(target->filePath()).absolutePath());
    if (target->stream) {
        const auto store = query.store();
        if (!store)
            return; // no result set: nothing to write
        exportfile::StreamControl streamControl{control.cancel, control.progress};
        const qint64 rows =
            exportfile::writeStream(*target->stream, *store, target->filePath(),
                                    streamOptionsFor(*target, QLocale()), streamControl);
        batchMove.setRowsExported(qint32(std::min<qint64>(rows, INT32_MAX)));
        return;
    }
    // The batch move reports every 50 rows; the cancel is looked at there.
    const auto previousProgress = batchMove.OnProgress;
    batchMove.OnProgress = [&](qint32 rows) {
        if (control.cancel && control.cancel->load())
            throw exportfile::ExportCancelled();
        if (control.progress)
            control.progress(rows);
        if (previousProgress)
            previousProgress(rows);
    };
    struct RestoreProgress {
        TVelADObatchmove& batchMove;
        std::function<void(qint32)> previous;
        ~RestoreProgress() { batchMove.OnProgress = std::move(previous); }
    } restoreProgress{batchMove, previousProgress};
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
