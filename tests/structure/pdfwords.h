#pragma once
// Reads back what a PDF printout shows: the words of every page with their
// boxes, in PDF points, through pdftotext -bbox.

#include <QList>
#include <QProcess>
#include <QString>
#include <QXmlStreamReader>

struct PdfWord {
    QString text;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

using PdfPage = QList<PdfWord>;

inline QList<PdfPage> readPdfWords(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), file, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    QList<PdfPage> pages;
    QXmlStreamReader xml(p.readAllStandardOutput());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("page")) {
            pages.append(PdfPage());
        } else if (xml.name() == QLatin1String("word") && !pages.isEmpty()) {
            const auto a = xml.attributes();
            PdfWord w;
            w.xMin = a.value(QLatin1String("xMin")).toDouble();
            w.yMin = a.value(QLatin1String("yMin")).toDouble();
            w.xMax = a.value(QLatin1String("xMax")).toDouble();
            w.yMax = a.value(QLatin1String("yMax")).toDouble();
            w.text = xml.readElementText();
            pages.last().append(w);
        }
    }
    return pages;
}

// Words grouped into lines by their top edge (same line within half a point),
// top to bottom; each line's words left to right.
inline QList<PdfPage> pdfLines(const PdfPage& page) {
    QList<PdfPage> lines;
    for (const PdfWord& w : page) {
        bool placed = false;
        for (PdfPage& line : lines)
            if (qAbs(line.first().yMin - w.yMin) < 0.5) {
                line.append(w);
                placed = true;
                break;
            }
        if (!placed)
            lines.append(PdfPage{w});
    }
    std::sort(lines.begin(), lines.end(),
              [](const PdfPage& a, const PdfPage& b) { return a.first().yMin < b.first().yMin; });
    for (PdfPage& line : lines)
        std::sort(line.begin(), line.end(),
                  [](const PdfWord& a, const PdfWord& b) { return a.xMin < b.xMin; });
    return lines;
}

inline QString lineText(const PdfPage& line) {
    QStringList words;
    for (const PdfWord& w : line)
        words << w.text;
    return words.join(QLatin1Char(' '));
}
