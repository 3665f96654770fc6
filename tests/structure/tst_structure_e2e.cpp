// The structure window against a test server: a table's field list read
// through a one-row query, and table names that contain "]".

#include "structure/stringgrid.h"
#include "structure/structure.h"
#include "tests/support/testserver_fixture.h"

#include "data/adocommand.h"
#include "data/adodataset.h"
#include "modal/modal.h"
#include <QLabel>
#include <QtTest>
#include <memory>

class TestStructureEndToEnd : public QObject {
    Q_OBJECT
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<TADOConnection> m_conn;
    std::unique_ptr<TADODataSet> m_stru;
    std::unique_ptr<TADODataSet> m_query;
    bool m_shown = false;
    QString m_title;
    QList<QStringList> m_rows;

    void exec(const QString& sql) {
        TADOCommand cmd;
        cmd.setConnection(m_conn.get());
        cmd.setCommandText(sql);
        cmd.Execute();
    }

    void show(const QString& table) {
        m_shown = false;
        m_rows.clear();
        modal::setDialogHandler([this](QDialog* d) {
            auto* w = static_cast<TFMStruktur*>(d);
            m_shown = true;
            m_title = w->LBStru->text();
            for (int r = 1; r < w->STGStruktur->rowCount(); ++r)
                m_rows.append({w->STGStruktur->cells(0, r), w->STGStruktur->cells(1, r),
                               w->STGStruktur->cells(2, r), w->STGStruktur->cells(3, r)});
            return int(QDialog::Accepted);
        });
        StructureContext c;
        c.tableListFocused = true;
        c.selectedTable = table;
        c.ADODSStru = m_stru.get();
        c.ADOdsQuery = m_query.get();
        ACTablesExecute(c);
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<TestServer>(std::vector<std::string>{"--sample"});
        m_conn = std::make_unique<TADOConnection>();
        m_conn->setConnectionString(
            QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=%1;Password=%2;"
                           "Initial Catalog=Musterfirma;Data Source=127.0.0.1,%3")
                .arg(QString::fromStdString(m_server->user()),
                     QString::fromStdString(m_server->password()))
                .arg(m_server->port()));
        m_stru = std::make_unique<TADODataSet>();
        m_stru->setConnection(m_conn.get());
        m_stru->setCursorLocation(clUseServer);
        m_stru->setMaxRecords(1);
        m_query = std::make_unique<TADODataSet>();
        m_query->setConnection(m_conn.get());
        exec(QStringLiteral("CREATE TABLE [Preis]]liste] (Nr int, Bezeichnung nvarchar(30))"));
        exec(QStringLiteral("CREATE TABLE Opfer (Nr int)"));
        exec(QStringLiteral("INSERT INTO Opfer (Nr) VALUES (1)"));
        exec(QStringLiteral("CREATE TABLE Orte (Nr int, Lage geography, Pfad hierarchyid)"));
        exec(QStringLiteral("INSERT INTO Orte VALUES (1, geography::Point(52.5, 13.4, 4326), "
                            "hierarchyid::Parse('/1/'))"));
    }

    void cleanupTestCase() {
        modal::setDialogHandler({});
        m_stru.reset();
        m_query.reset();
        m_conn.reset();
        m_server.reset();
    }

    void sampleTableFields() {
        show(QStringLiteral("Bilder"));
        QVERIFY(m_shown);
        QCOMPARE(m_title, QStringLiteral("Tabellenstruktur: Bilder"));
        QVERIFY(!m_rows.isEmpty());
        QStringList types;
        for (int i = 0; i < m_rows.size(); ++i) {
            QCOMPARE(m_rows[i][0], QString::number(i + 1));
            types << m_rows[i][2];
        }
        QVERIFY2(types.contains(QStringLiteral("ftBlob")), qPrintable(types.join(',')));
        QVERIFY2(types.contains(QStringLiteral("ftMemo")), qPrintable(types.join(',')));
        QVERIFY(!m_stru->Active());
        QCOMPARE(m_stru->RecordSize(), 25 + 16 * int(m_rows.size()));
    }

    void nameWithClosingBracket() {
        show(QStringLiteral("Preis]liste"));
        QVERIFY(m_shown);
        QCOMPARE(m_title, QStringLiteral("Tabellenstruktur: Preis]liste"));
        QCOMPARE(m_rows.size(), 2);
        QCOMPARE(m_rows[0].mid(0, 3), (QStringList{"1", "Nr", "ftInteger"}));
        QCOMPARE(m_rows[1].mid(0, 3), (QStringList{"2", "Bezeichnung", "ftWideString"}));
        QCOMPARE(m_rows[1][3], QStringLiteral("30"));
    }

    void sampleTableWithBrackets() {
        show(QStringLiteral("Spezial]Tabelle"));
        QVERIFY(m_shown);
        QStringList names;
        for (const QStringList& row : m_rows)
            names << row[1];
        QCOMPARE(names, (QStringList{"Nr", "Text mit Leerzeichen", "Klammer]Spalte"}));
    }

    // CLR types have no field type of their own: the server's names are shown,
    // asked of the catalog since the driver gives none.
    void clrTypesNamedAsTheServerNamesThem() {
        show(QStringLiteral("Orte"));
        QVERIFY(m_shown);
        QCOMPARE(m_rows.size(), 3);
        QCOMPARE(m_rows[0].mid(1, 2), (QStringList{"Nr", "ftInteger"}));
        QCOMPARE(m_rows[1].mid(1, 2), (QStringList{"Lage", "geography"}));
        QCOMPARE(m_rows[2].mid(1, 2), (QStringList{"Pfad", "hierarchyid"}));

        // The same for a result set, whose values the grid shows in hex.
        m_query->setCommandText(QStringLiteral("SELECT Pfad, Lage FROM Orte"));
        m_query->Open();
        QCOMPARE(m_query->Fields(0).AsString(), QStringLiteral("0x58"));
        QVERIFY(m_query->Fields(1).AsString().startsWith(QStringLiteral("0xE6100000010C")));
        QCOMPARE(m_query->ServerTypeName(0), QStringLiteral("hierarchyid"));
        QCOMPARE(m_query->ServerTypeName(1), QStringLiteral("geography"));
        m_query->Close();
    }

    void nameCannotRunStatements() {
        bool raised = false;
        try {
            show(QStringLiteral("Opfer]; DELETE FROM Opfer; --"));
        } catch (const data::DataError&) {
            raised = true; // no table of that name
        }
        QVERIFY(raised);
        QVERIFY(!m_shown);
        QVERIFY(!m_stru->Active());
        m_query->setCommandText(QStringLiteral("SELECT COUNT(*) FROM Opfer"));
        m_query->Open();
        QCOMPARE(m_query->Fields(0).AsLargeInt(), 1);
        m_query->Close();
    }

    void missingTableRaisesServerError() {
        try {
            show(QStringLiteral("GibtEsNicht"));
            QFAIL("a missing table opened");
        } catch (const data::DataError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("GibtEsNicht")), qPrintable(e.message()));
        }
        QVERIFY(!m_shown);
    }
};

QTEST_MAIN(TestStructureEndToEnd)
#include "tst_structure_e2e.moc"
