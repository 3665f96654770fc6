#include "structure/printstructure.h"

#include "structure/LPTprinter.h"
#include "structure/globals.h"
#include "structure/waitcursor.h"

QString formatStructureLine(const QString& nr, const QString& name, const QString& type,
                            const QString& size) {
    return nr.leftJustified(5) + QLatin1Char(' ') + name.leftJustified(20) + QLatin1Char(' ') +
           type.leftJustified(20) + QLatin1Char(' ') + size.rightJustified(8);
}

void PrintStructure(const QList<QStringList>& rows) {
    WaitCursor hourglass;
    using namespace LPTprinter;
    HeaderTitle = QStringLiteral("Tabellenstruktur:") + QString(21, QLatin1Char(' '));
    TopMargin = 200;
    LeftMargin = 100;
    const QString font = QStringLiteral("Courier New");
    PrintBegin(font, PrintFontSize);
    try {
        PrintSetFont(font, PrintFontSize, {});
        PrintLine(QString());
        PrintLine(QString());
        PrintLine(formatStructureLine(QStringLiteral("Nr."), QStringLiteral("Feldname"),
                                      QStringLiteral("Feldtyp"), QStringLiteral("Größe")));
        PrintLine(QString(85, QLatin1Char('-')));
        for (const QStringList& row : rows)
            PrintLine(formatStructureLine(row.value(0), row.value(1), row.value(2), row.value(3)));
        PrintLine(QString());
        PrintEnd();
    } catch (...) {
        PrintAbort();
        throw;
    }
}
