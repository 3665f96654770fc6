// The structure printout on a PDF file printer: line positions, page breaks,
// page headers and column layout, read back with pdftotext.

#include "structure/LPTprinter.h"
#include "structure/globals.h"
#include "structure/printerobject.h"
#include "structure/printstructure.h"
#include "tests/structure/pdfwords.h"

#include <QGuiApplication>
#include <QPageSize>
#include <QPrinter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// 600 dpi as on a real printer: device y to PDF points.
constexpr double kPt = 72.0 / 600.0;
// Courier New advances 0.6 em per character.
double charWidth(int points) {
    return 0.6 * points;
}

QList<QStringList> fieldRows(int count, const QString& name = QStringLiteral("Feld")) {
    QList<QStringList> rows;
    for (int i = 1; i <= count; ++i)
        rows.append({QString::number(i), name + QString::number(i), QStringLiteral("ftInteger"),
                     QStringLiteral("4")});
    return rows;
}

// Lines of a page whose first word is a field number.
int firstNumberOnPage(const PdfPage& page) {
    for (const PdfPage& line : pdfLines(page)) {
        bool ok = false;
        const int n = line.first().text.toInt(&ok);
        if (ok)
            return n;
    }
    return -1;
}

// Whether a line's top edge (as pdftotext reports it) belongs to a line
// placed at device y: the glyph box starts within the line, not above it.
bool startsAt(const PdfPage& line, int y) {
    const double top = line.first().yMin;
    return top > y * kPt - 0.5 && top < y * kPt + 10;
}

const PdfPage* lineStartingWith(const QList<PdfPage>& lines, const QString& word) {
    for (const PdfPage& line : lines)
        if (line.first().text == word)
            return &line;
    return nullptr;
}

} // namespace

class TestPrinting : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_file;

    QList<PdfPage> print(const QList<QStringList>& rows) {
        PrintStructure(rows);
        return readPdfWords(m_file);
    }

private slots:
    void init() {
        static int n = 0;
        m_file = m_dir.filePath(QStringLiteral("out%1.pdf").arg(++n));
        QPrinter& p = printerobject::printer();
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(m_file);
        p.setResolution(600);
        // 8 × 10 inches without margins: 6000 device lines in portrait.
        p.setPageSize(QPageSize(QSizeF(8, 10), QPageSize::Inch));
        p.setPageMargins(QMarginsF(0, 0, 0, 0));
        p.setPageOrientation(QPageLayout::Portrait);
        PrintFontSize = 10;
    }

    void onePageLayout() {
        const QList<PdfPage> pages = print(fieldRows(3));
        QCOMPARE(pages.size(), 1);
        QCOMPARE(LPTprinter::PageHeight, 6000);
        const QList<PdfPage> lines = pdfLines(pages[0]);
        QStringList texts;
        for (const PdfPage& l : lines)
            texts << lineText(l);
        QCOMPARE(texts, QStringList({QStringLiteral("Nr. Feldname Feldtyp Größe"), QString(85, '-'),
                                     QStringLiteral("1 Feld1 ftInteger 4"),
                                     QStringLiteral("2 Feld2 ftInteger 4"),
                                     QStringLiteral("3 Feld3 ftInteger 4")}));
        // Two empty lines above the headings: they start at 200 + 2 × 100.
        const double headTop = lines[0].first().yMin;
        QVERIFY(startsAt(lines[0], 400));
        for (int i = 1; i < lines.size(); ++i)
            QVERIFY(qAbs(lines[i].first().yMin - headTop - i * 100 * kPt) < 0.05);
        // Columns at characters 1, 7, 28 and 49 (the size right-aligned to 56),
        // from x 100.
        const double left = 100 * kPt, cw = charWidth(10);
        const PdfPage& head = lines[0];
        QVERIFY(qAbs(head[0].xMin - left) < 1);
        QVERIFY(qAbs(head[1].xMin - head[0].xMin - 6 * cw) < 1.5);
        QVERIFY(qAbs(head[2].xMin - head[0].xMin - 27 * cw) < 1.5);
        QVERIFY(qAbs(head[3].xMin - head[0].xMin - 51 * cw) < 1.5);     // "Größe"
        QVERIFY(qAbs(lines[2][3].xMin - head[0].xMin - 55 * cw) < 1.5); // "4"
    }

    void pageBreaks_data() {
        QTest::addColumn<QString>("orientation");
        QTest::addColumn<int>("fields");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("firstOnPage2"); // -1: page 2 carries only the header
        // Portrait: lines at 200 + 100k up to 5800, so page 1 holds 57 lines:
        // two empty, headings, hyphens and fields 1..53.
        QTest::newRow("fits") << "portrait" << 53 << 2 << -1; // final empty line breaks
        QTest::newRow("52 fields") << "portrait" << 52 << 2 << -1;
        QTest::newRow("51 fields") << "portrait" << 51 << 1 << 0;
        QTest::newRow("continues") << "portrait" << 60 << 2 << 54;
        QTest::newRow("three pages") << "portrait" << 120 << 3 << 54;
        // Landscape: 4800 lines, page 1 holds fields 1..41.
        QTest::newRow("landscape") << "landscape" << 45 << 2 << 42;
    }

    void pageBreaks() {
        QFETCH(QString, orientation);
        QFETCH(int, fields);
        QFETCH(int, pages);
        QFETCH(int, firstOnPage2);
        printerobject::setOrientation(orientation == "landscape" ? QPageLayout::Landscape
                                                                 : QPageLayout::Portrait);
        const QList<PdfPage> out = print(fieldRows(fields));
        QCOMPARE(out.size(), pages);
        QCOMPARE(lineStartingWith(pdfLines(out[0]), QStringLiteral("Tabellenstruktur:")), nullptr);
        if (pages < 2)
            return;
        for (int p = 1; p < pages; ++p) {
            const QList<PdfPage> lines = pdfLines(out[p]);
            QVERIFY(!lines.isEmpty());
            QCOMPARE(lineText(lines[0]), QStringLiteral("Tabellenstruktur: Seite: %1").arg(p + 1));
            // The header at the top margin; 22 blanks before "Seite:".
            QVERIFY(startsAt(lines[0], 200));
            QVERIFY(qAbs(lines[0][1].xMin - (100 * kPt + 39 * charWidth(10))) < 1);
            // No column headings on further pages.
            QCOMPARE(lineStartingWith(lines, QStringLiteral("Nr.")), nullptr);
        }
        const QList<PdfPage> second = pdfLines(out[1]);
        if (firstOnPage2 < 0) {
            QCOMPARE(second.size(), 1);
            return;
        }
        QCOMPARE(firstNumberOnPage(out[1]), firstOnPage2);
        // The continuing lines start two lines under the header.
        QVERIFY(qAbs(second[1].first().yMin - second[0].first().yMin - 200 * kPt) < 0.05);
        // The page-1 field before it is the last line that starts within the page.
        const QList<PdfPage> first = pdfLines(out[0]);
        QCOMPARE(first.last().first().text.toInt(), firstOnPage2 - 1);
        const int height = orientation == "landscape" ? 4800 : 6000;
        QVERIFY(startsAt(first.last(), height - 200));
    }

    void lineAdvanceFollowsFontSize_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("4") << 4;
        QTest::newRow("10") << 10;
        QTest::newRow("14") << 14;
    }

    void lineAdvanceFollowsFontSize() {
        QFETCH(int, size);
        PrintFontSize = size;
        const QList<PdfPage> out = print(fieldRows(2));
        QCOMPARE(LPTprinter::LineHeight, size * 10);
        const QList<PdfPage> lines = pdfLines(out.value(0));
        QCOMPARE(lines.size(), 4);
        QVERIFY(qAbs(lines[3].first().yMin - lines[2].first().yMin - size * 10 * kPt) < 0.05);
        // The characters are of the chosen size: "Feldname" starts 6 characters in.
        QVERIFY(qAbs(lines[0][1].xMin - lines[0][0].xMin - 6 * charWidth(size)) < 1);
    }

    void longNamePushesColumns() {
        const QString longName = QStringLiteral("Ein_sehr_langer_Feldname_"); // 25 characters
        const QList<PdfPage> out = print(
            {{QStringLiteral("1"), longName, QStringLiteral("ftString"), QStringLiteral("50")}});
        const PdfPage* row = lineStartingWith(pdfLines(out.value(0)), QStringLiteral("1"));
        QVERIFY(row);
        QCOMPARE(row->at(1).text, longName);
        // Type after 5 + 1 + 25 + 1 characters instead of 27.
        QVERIFY(qAbs(row->at(2).xMin - (100 * kPt + 32 * charWidth(10))) < 1);
    }

    void lineFormat_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("line");
        QTest::newRow("empty grid row") << QStringList{"", "", "", ""} << QString(56, ' ');
        QTest::newRow("field") << QStringList{"12", "Name", "ftWideString", "40"}
                               << QStringLiteral(
                                      "12    Name                 ftWideString               40");
        QTest::newRow("overlong texts kept whole")
            << QStringList{"123456", "N", "T", "123456789"}
            << QStringLiteral("123456 N                    T                    123456789");
    }

    void lineFormat() {
        QFETCH(QStringList, texts);
        QFETCH(QString, line);
        QCOMPARE(formatStructureLine(texts[0], texts[1], texts[2], texts[3]), line);
    }

    void noPrinterRaisesAndRecovers() {
        printerobject::printer().setOutputFileName(QString());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, PrintStructure(fieldRows(1)));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        // An unwritable file: the job cannot start; the printer stays usable.
        printerobject::printer().setOutputFileName(m_dir.filePath("missing/dir/x.pdf"));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, PrintStructure(fieldRows(1)));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        printerobject::printer().setOutputFileName(m_file);
        QCOMPARE(print(fieldRows(2)).size(), 1);
    }

    void errorDuringJobAbortsIt() {
        using namespace LPTprinter;
        HeaderTitle = QStringLiteral("x");
        TopMargin = 200;
        LeftMargin = 100;
        PrintBegin(QStringLiteral("Courier New"), 10);
        QCOMPARE(PageNumber(), 1);
        QVERIFY_THROWS_EXCEPTION(std::logic_error, PrintBegin(QStringLiteral("Courier New"), 10));
        PrintAbort();
        QCOMPARE(PageNumber(), 0);
        QVERIFY_THROWS_EXCEPTION(std::logic_error, PrintLine(QStringLiteral("a")));
        // A new job runs normally afterwards.
        QCOMPARE(print(fieldRows(1)).size(), 1);
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
