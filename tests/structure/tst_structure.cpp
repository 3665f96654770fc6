// The structure window: which source it shows, the field list, type names,
// record size and the bracketed table name.

#include "structure/globals.h"
#include "structure/printerobject.h"
#include "structure/stringgrid.h"
#include "structure/structure.h"
#include "tests/structure/fakeprovider.h"
#include "tests/structure/pdfwords.h"

#include "modal/modal.h"
#include <QGroupBox>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

struct Shown {
    bool shown = false;
    QString title;
    QString recordSize;
    QString count;
    int rows = 0;
    QList<QStringList> cells; // every row, four columns
};

class TestStructure : public QObject {
    Q_OBJECT
    FakeTables m_tables;
    TADOConnection* m_conn = nullptr;
    TADODataSet* m_stru = nullptr;
    TADODataSet* m_query = nullptr;
    Shown m_shown;
    int m_setupRuns = 0;

    StructureContext context(bool focused, std::optional<QString> selected) {
        StructureContext c;
        c.tableListFocused = focused;
        c.selectedTable = std::move(selected);
        c.ADODSStru = m_stru;
        c.ADOdsQuery = m_query;
        c.runSetup = [this] { ++m_setupRuns; };
        return c;
    }

    // Runs the action; the dialog handler records what the window shows.
    void run(const StructureContext& c, const std::function<void(TFMStruktur&)>& user = {}) {
        m_shown = {};
        modal::setDialogHandler([&](QDialog* d) {
            auto* w = static_cast<TFMStruktur*>(d);
            m_shown.shown = true;
            m_shown.title = w->LBStru->text();
            m_shown.recordSize = w->LBSatzgr->text();
            m_shown.count = w->LBSatzanz->text();
            m_shown.rows = w->STGStruktur->rowCount();
            for (int r = 0; r < w->STGStruktur->rowCount(); ++r)
                m_shown.cells.append({w->STGStruktur->cells(0, r), w->STGStruktur->cells(1, r),
                                      w->STGStruktur->cells(2, r), w->STGStruktur->cells(3, r)});
            if (user)
                user(*w);
            return int(QDialog::Accepted);
        });
        ACTablesExecute(c);
    }

private slots:
    void initTestCase() {
        data::registerProvider(QStringLiteral("FakeStru"),
                               [this] { return std::make_shared<FakeProvider>(&m_tables); });
    }

    void init() {
        m_tables = {};
        m_tables.results.insert(QStringLiteral("SELECT * from [Artikel]"),
                                {fakeColumn("ArtNr", ftInteger, 0),
                                 fakeColumn("Name", ftWideString, 40),
                                 fakeColumn("Preis", ftBCD, 2)});
        m_tables.results.insert(QStringLiteral("select 1 as a, 'x' as b"),
                                {fakeColumn("a", ftInteger, 0), fakeColumn("b", ftString, 1)});
        m_conn = new TADOConnection;
        m_conn->setConnectionString(QStringLiteral("Provider=FakeStru;Data Source=local"));
        m_stru = new TADODataSet;
        m_stru->setConnection(m_conn);
        m_stru->setMaxRecords(1);
        m_stru->setCursorLocation(clUseServer);
        m_query = new TADODataSet;
        m_query->setConnection(m_conn);
        m_setupRuns = 0;
    }

    void cleanup() {
        modal::setDialogHandler({});
        delete m_stru;
        delete m_query;
        delete m_conn;
    }

    // The type column names each type a SQL Server result can have; a code
    // the names do not cover shows as ftUnknown.
    void typeColumnNamesTheTypes() {
        const std::pair<TFieldType, const char*> types[] = {{ftSmallint, "ftSmallint"},
                                                            {ftInteger, "ftInteger"},
                                                            {ftLargeint, "ftLargeint"},
                                                            {ftWord, "ftWord"},
                                                            {ftBoolean, "ftBoolean"},
                                                            {ftFloat, "ftFloat"},
                                                            {ftBCD, "ftBCD"},
                                                            {ftFMTBcd, "ftFMTBcd"},
                                                            {ftDateTime, "ftDateTime"},
                                                            {ftDate, "ftDate"},
                                                            {ftTime, "ftTime"},
                                                            {ftString, "ftString"},
                                                            {ftFixedChar, "ftFixedChar"},
                                                            {ftWideString, "ftWideString"},
                                                            {ftMemo, "ftMemo"},
                                                            {ftBytes, "ftBytes"},
                                                            {ftVarBytes, "ftVarBytes"},
                                                            {ftBlob, "ftBlob"},
                                                            {ftGuid, "ftGuid"},
                                                            {ftVariant, "ftVariant"},
                                                            {TFieldType(-1), "ftUnknown"},
                                                            {TFieldType(38), "ftUnknown"}};
        QList<data::ColumnInfo> columns;
        for (const auto& [type, name] : types)
            columns << fakeColumn(QStringLiteral("c%1").arg(columns.size()), type, 0);
        m_tables.results.insert(QStringLiteral("SELECT * from [Typen]"), columns);
        run(context(true, QStringLiteral("Typen")));
        QCOMPARE(m_shown.rows, int(std::size(types)) + 1);
        for (qsizetype i = 0; i < qsizetype(std::size(types)); ++i)
            QCOMPARE(m_shown.cells.value(i + 1).value(2), QString::fromLatin1(types[i].second));
    }

    void bracketedName_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("sql");
        QTest::newRow("plain") << "Kunden"
                               << "SELECT * from [Kunden]";
        QTest::newRow("blank") << "Order Details"
                               << "SELECT * from [Order Details]";
        QTest::newRow("closing bracket") << "a]b"
                                         << "SELECT * from [a]]b]";
        QTest::newRow("ends with bracket") << "x]"
                                           << "SELECT * from [x]]]";
        QTest::newRow("injection stays a name") << "t]; DROP TABLE Kunden; --"
                                                << "SELECT * from [t]]; DROP TABLE Kunden; --]";
        QTest::newRow("opening bracket unchanged") << "[a"
                                                   << "SELECT * from [[a]";
    }

    void bracketedName() {
        QFETCH(QString, table);
        QFETCH(QString, sql);
        QCOMPARE(structureQuery(table), sql);
    }

    void tablePathShowsTheTable() {
        run(context(true, QStringLiteral("Artikel")));
        QVERIFY(m_shown.shown);
        QCOMPARE(m_tables.asked, QStringList{"SELECT * from [Artikel]"});
        QCOMPARE(m_tables.maxRecords, QList<qint64>{1});
        QCOMPARE(m_shown.title, QStringLiteral("Tabellenstruktur: Artikel"));
        QCOMPARE(m_shown.recordSize, QStringLiteral("73")); // 25 + 16 × 3
        QCOMPARE(m_shown.count, QString());
        QCOMPARE(m_shown.rows, 4);
        QCOMPARE(m_shown.cells, (QList<QStringList>{{"Nr", "Feldname", "Feldtyp", "Länge"},
                                                    {"1", "ArtNr", "ftInteger", "0"},
                                                    {"2", "Name", "ftWideString", "40"},
                                                    {"3", "Preis", "ftBCD", "2"}}));
        QVERIFY(!m_stru->Active());
    }

    void resultPath_data() {
        QTest::addColumn<bool>("focused");
        QTest::addColumn<bool>("selected");
        QTest::newRow("list focused, nothing selected") << true << false;
        QTest::newRow("editor focused, table selected") << false << true;
        QTest::newRow("editor focused, nothing selected") << false << false;
    }

    void resultPath() {
        QFETCH(bool, focused);
        QFETCH(bool, selected);
        m_query->setCommandText(QStringLiteral("select 1 as a, 'x' as b"));
        m_query->Open();
        m_tables.asked.clear();
        run(context(focused,
                    selected ? std::optional<QString>(QStringLiteral("Artikel")) : std::nullopt));
        QVERIFY(m_shown.shown);
        QVERIFY(m_tables.asked.isEmpty()); // the table was not read
        QCOMPARE(m_shown.title, QStringLiteral("Tabellenstruktur"));
        QCOMPARE(m_shown.recordSize, QStringLiteral("57"));
        QCOMPARE(m_shown.cells.value(1), (QStringList{"1", "a", "ftInteger", "0"}));
        QCOMPARE(m_shown.cells.value(2), (QStringList{"2", "b", "ftString", "1"}));
        QCOMPARE(m_shown.rows, 3);
        QVERIFY(m_query->Active()); // read only, never closed here
    }

    void nothingOpen() {
        run(context(false, std::nullopt));
        QVERIFY(m_shown.shown);
        QCOMPARE(m_shown.rows, 6);
        QCOMPARE(m_shown.cells.value(0), (QStringList{"Nr", "Feldname", "Feldtyp", "Länge"}));
        for (int r = 1; r < 6; ++r)
            QCOMPARE(m_shown.cells.value(r), (QStringList{"", "", "", ""}));
        QCOMPARE(m_shown.recordSize, QStringLiteral("0"));
        // After a result set was open once, its record size stays.
        m_query->setCommandText(QStringLiteral("select 1 as a, 'x' as b"));
        m_query->Open();
        m_query->Close();
        run(context(false, std::nullopt));
        QCOMPARE(m_shown.rows, 6);
        QCOMPARE(m_shown.recordSize, QStringLiteral("57"));
    }

    void errorOpensNoWindow() {
        bool thrown = false;
        try {
            run(context(true, QStringLiteral("Fehlt")));
        } catch (const data::DataError& e) {
            thrown = true;
            QCOMPARE(e.message(), QStringLiteral("Ungültiger Objektname."));
        }
        QVERIFY(thrown);
        QVERIFY(!m_shown.shown);
        QVERIFY(!m_stru->Active());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void tableNameWithBracket() {
        m_tables.results.insert(QStringLiteral("SELECT * from [Preis]]liste]"),
                                {fakeColumn("Nr", ftInteger, 0)});
        run(context(true, QStringLiteral("Preis]liste")));
        QVERIFY(m_shown.shown);
        QCOMPARE(m_shown.title, QStringLiteral("Tabellenstruktur: Preis]liste"));
        QCOMPARE(m_shown.cells.value(1), (QStringList{"1", "Nr", "ftInteger", "0"}));
    }

    void wideTableShowsTheWholeRecordSize() {
        QList<data::ColumnInfo> columns;
        for (int i = 0; i < 4096; ++i)
            columns << fakeColumn(QStringLiteral("c%1").arg(i), ftInteger, 0);
        m_tables.results.insert(QStringLiteral("SELECT * from [Breit]"), columns);
        run(context(true, QStringLiteral("Breit")));
        QCOMPARE(m_shown.rows, 4097);
        QCOMPARE(m_shown.recordSize, QString::number(25 + 16 * 4096));
    }

    void windowLayout() {
        TFMStruktur w(nullptr, nullptr, {});
        QCOMPARE(w.objectName(), QStringLiteral("FMStruktur"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tabellenstruktur"));
        QCOMPARE(w.size(), QSize(412, 476));
        QCOMPARE(w.PageControl1->tabText(0), QStringLiteral("Felder"));
        QCOMPARE(w.BTPrintsetup->text(), QStringLiteral("Druckereinstellungen..."));
        QCOMPARE(w.BTPrint->text(), QStringLiteral("Drucken"));
        QCOMPARE(w.BTok->text(), QStringLiteral("OK"));
        QVERIFY(w.BTok->isDefault());
        QCOMPARE(w.STGStruktur->size(), QSize(365, 285));
        QCOMPARE(w.STGStruktur->columnWidth(1), 143);
        QCOMPARE(w.STGStruktur->rowHeight(1), 18);
        QCOMPARE(w.LBSatzgr->geometry().right() + 1, 119);
        QStringList labels;
        for (QLabel* l : w.GroupBox1->findChildren<QLabel*>())
            labels << l->text();
        QVERIFY(labels.contains(QStringLiteral("Satzgröße:")));
        QVERIFY(labels.contains(QStringLiteral("Satzanzahl:")));
        // Anchors: the page grows, the group box and buttons keep to the bottom right.
        w.show();
        w.resize(512, 576);
        QCOMPARE(w.PageControl1->geometry(), QRect(8, 8, 489, 441));
        QCOMPARE(w.GroupBox1->geometry(), QRect(8, 454, 489, 49));
        QCOMPARE(w.BTok->geometry(), QRect(422, 512, 75, 22));
        QCOMPARE(w.BTPrintsetup->pos(), QPoint(204, 512));
    }

    void buttonsPrintAndOpenSettings() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("s.pdf"));
        QPrinter& p = printerobject::printer();
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(file);
        PrintFontSize = 10;
        run(context(true, QStringLiteral("Artikel")), [](TFMStruktur& w) {
            w.BTPrintsetup->click();
            w.BTPrint->click();
        });
        QCOMPARE(m_setupRuns, 1);
        const QList<PdfPage> pages = readPdfWords(file);
        QCOMPARE(pages.size(), 1);
        QStringList lines;
        for (const PdfPage& l : pdfLines(pages[0]))
            lines << lineText(l);
        QCOMPARE(lines,
                 QStringList({"Nr. Feldname Feldtyp Größe", QString(85, '-'), "1 ArtNr ftInteger 0",
                              "2 Name ftWideString 40", "3 Preis ftBCD 2"}));
    }
};

QTEST_MAIN(TestStructure)
#include "tst_structure.moc"
