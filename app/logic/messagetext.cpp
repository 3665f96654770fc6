#include "app/logic/messagetext.h"

#include <QLocale>

QString errorHeading(const ServerMessage& m) {
    if (m.number <= 0)
        return {};
    QString heading = QStringLiteral("Meldung %1").arg(m.number);
    if (m.severity >= 0)
        heading += QStringLiteral(", Ebene %1").arg(m.severity);
    if (m.state >= 0)
        heading += QStringLiteral(", Status %1").arg(m.state);
    if (!m.procedure.isEmpty())
        heading += QStringLiteral(", Prozedur ") + m.procedure;
    if (m.line > 0)
        heading += QStringLiteral(", Zeile %1").arg(m.line);
    return heading;
}

QString rowsAffectedText(qint64 rows) {
    return rows == 1 ? QStringLiteral("(1 Zeile betroffen)")
                     : QStringLiteral("(%1 Zeilen betroffen)").arg(rows);
}

int editorLineOf(int batchLine, int batchFirstLine, int textFirstLine) {
    if (batchLine <= 0)
        return -1;
    return textFirstLine + batchFirstLine + batchLine - 1;
}

QString failedBatchesText(int failed, int total) {
    if (failed == 1)
        return QStringLiteral("1 von %1 Batches ist fehlgeschlagen. Die Fehler stehen auf der "
                              "Seite \"Nachrichten\".")
            .arg(total);
    return QStringLiteral("%1 von %2 Batches sind fehlgeschlagen. Die Fehler stehen auf der "
                          "Seite \"Nachrichten\".")
        .arg(failed)
        .arg(total);
}

QString failedBatchLine(int batchNumber, int editorLine) {
    return QStringLiteral("Batch %1 (ab Zeile %2) ist fehlgeschlagen.")
        .arg(batchNumber)
        .arg(editorLine + 1);
}

QString runSummaryText(qint64 rows, bool haveResult, bool incomplete, qint64 milliseconds) {
    const QLocale german(QLocale::German, QLocale::Germany);
    const QString time =
        german.toString(double(milliseconds) / 1000.0, 'f', 2) + QStringLiteral(" s");
    if (!haveResult)
        return QStringLiteral("Ausgeführt in ") + time;
    QString text = rows == 1 ? QStringLiteral("1 Datensatz")
                             : german.toString(rows) + QStringLiteral(" Datensätze");
    if (incomplete)
        text += QStringLiteral(" (unvollständig)");
    return text + QStringLiteral(" in ") + time;
}
