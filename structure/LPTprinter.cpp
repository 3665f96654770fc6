#include "structure/LPTprinter.h"

#include "structure/printerobject.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <memory>
#include <stdexcept>

namespace LPTprinter {
namespace {

struct Job {
    QPainter painter;
    int pageNumber = 1;
};

std::unique_ptr<Job>& job() {
    static std::unique_ptr<Job> j;
    return j;
}

Job& runningJob() {
    if (!job())
        throw std::logic_error("Es läuft kein Druckauftrag.");
    return *job();
}

// Text is placed by the top of its line, the way the printer canvas does it;
// QPainter places it by its baseline.
void drawTextAt(QPainter& painter, int x, int y, const QString& text) {
    if (text.isEmpty())
        return;
    painter.drawText(x, y + painter.fontMetrics().ascent(), text);
}

} // namespace

void PrintBegin(const QString& fontName, int fontSize) {
    if (job())
        throw std::logic_error("Es läuft bereits ein Druckauftrag.");
    QPrinter& printer = printerobject::printer();
    // A PDF printer without a file is what Qt offers when no printer is
    // installed; starting it would fail and leave the printer unusable.
    if (printer.outputFormat() == QPrinter::PdfFormat && printer.outputFileName().isEmpty())
        throw std::runtime_error("Kein Drucker installiert.");

    PageHeight = printer.height();
    printer.setDocName(HeaderTitle);
    auto j = std::make_unique<Job>();
    if (!j->painter.begin(&printer)) {
        printerobject::recover();
        throw std::runtime_error("Der Druckauftrag konnte nicht gestartet werden.");
    }
    job() = std::move(j);
    CurrentY = TopMargin;
    QFont font(fontName);
    font.setPointSize(fontSize);
    job()->painter.setFont(font);
    LineHeight = fontSize * 10;
}

void PrintSetFont(const QString& fontName, int fontSize, FontStyles style) {
    QFont font(fontName);
    font.setPointSize(fontSize);
    font.setBold(style.testFlag(FontStyle::Bold));
    font.setItalic(style.testFlag(FontStyle::Italic));
    font.setUnderline(style.testFlag(FontStyle::Underline));
    font.setStrikeOut(style.testFlag(FontStyle::StrikeOut));
    runningJob().painter.setFont(font);
}

void PrintLine(const QString& text) {
    Job& j = runningJob();
    drawTextAt(j.painter, LeftMargin, CurrentY, text);
    CurrentY += LineHeight;
    if (CurrentY > PageHeight - TopMargin) {
        if (!printerobject::printer().newPage())
            throw std::runtime_error("Die neue Druckseite konnte nicht begonnen werden.");
        ++j.pageNumber;
        CurrentY = TopMargin;
        PrintPageHeader();
    }
}

void PrintPageHeader() {
    Job& j = runningJob();
    drawTextAt(j.painter, LeftMargin, CurrentY,
               HeaderTitle + QStringLiteral(" Seite: ") + QString::number(j.pageNumber));
    CurrentY += LineHeight;
    CurrentY += LineHeight;
}

void PrintEnd() {
    std::unique_ptr<Job> j = std::move(job());
    if (!j)
        throw std::logic_error("Es läuft kein Druckauftrag.");
    if (!j->painter.end()) {
        printerobject::recover();
        throw std::runtime_error("Der Druckauftrag konnte nicht abgeschlossen werden.");
    }
}

void PrintAbort() {
    std::unique_ptr<Job> j = std::move(job());
    if (!j)
        return;
    printerobject::printer().abort();
    j->painter.end();
    printerobject::recover();
}

int PageNumber() {
    return job() ? job()->pageNumber : 0;
}

} // namespace LPTprinter
