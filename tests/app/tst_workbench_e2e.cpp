// The workbench against a test server: connecting and browsing, queries and
// commands, the quick query, connection information and the settings, and the
// structure window and grid against servers of the older protocol versions.

#include "app/application.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "settings/registry.h"
#include "structure/setup.h"
#include "structure/stringgrid.h"
#include "structure/structure.h"
#include "tests/app/apptestsupport.h"
#include "tests/support/testserver_fixture.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <dlfcn.h>
#include <memory>

namespace {

// Whether the ODBC driver manager is in the process (without loading it).
bool driverManagerLoaded() {
    void* library = dlopen("libodbc.so.2", RTLD_NOW | RTLD_NOLOAD);
    if (library)
        dlclose(library);
    return library != nullptr;
}

// Triggers the action; a query or command it starts runs to its end.
void trigger(QAction* action) {
    runGuarded([action] { action->trigger(); });
    waitForStatement(FMMain);
}

QStringList listItems(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

QStringList comboItems(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

} // namespace

class TestWorkbenchE2E : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void driverManagerLoadsWithFirstConnection();
    void sameServerSelectsStoredDatabase();
    void otherServerSelectsFirstDatabase();
    void failedFirstConnectionLeavesUsableWindow();
    void cancelledFirstDialogStillTriesToConnect();
    void connectAgainAfterCancelUsesLastServer();
    void rereadEntryListsFirstDatabase();
    void systemTablesOnAndOff();
    void typingDatabaseNameReconnectsPerKeystroke();
    void queryFillsGrid();
    void updateRunAsQueryIsCarriedOutAndReported();
    void failedQueryKeepsTheSession();
    void newKeepsResultSet();
    void quickQuery_data();
    void quickQuery();
    void quickQueryOnBracketName();
    void quickQueryFailureShowsNoMessage();
    void quickQueryOnEmptyListRunsEditor_data();
    void quickQueryOnEmptyListRunsEditor();
    void executeShowsProviderMessages();
    void executeListsParameters();
    void executeCommentEndsWithItsLine();
    void connectionInformation();
    void settingsDialogOkAndCancel();
    void olderServerStructureAndGrid_data();
    void olderServerStructureAndGrid();

private:
    void connectWorkbench(bool storeSameServer = false);
    QAbstractItemModel* grid() const {
        return qobject_cast<QAbstractItemView*>(w->DBGridQuery)->model();
    }
    QString serverName() const { return QStringLiteral("127.0.0.1,%1").arg(m_server->port()); }

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<WindowFixture> m_fixture;
    MessageRecorder* m_messages = nullptr; // the fixture's
    FakePrompt* m_prompt = nullptr;        // the fixture's
    TFMMain* w = nullptr;
};

void TestWorkbenchE2E::initTestCase() {
    m_server = std::make_unique<TestServer>(std::vector<std::string>{"--big-rows", "120"});
}

void TestWorkbenchE2E::cleanupTestCase() {
    m_server.reset();
}

void TestWorkbenchE2E::init() {
    ServerProductVersion.clear();
    m_fixture =
        std::make_unique<WindowFixture>(serverName(), QString::fromStdString(m_server->user()),
                                        QString::fromStdString(m_server->password()), QSize());
    w = m_fixture->w;
    m_messages = &m_fixture->messages;
    m_prompt = m_fixture->prompt;
}

void TestWorkbenchE2E::cleanup() {
    m_fixture.reset();
    w = nullptr;
    m_messages = nullptr;
}

void TestWorkbenchE2E::connectWorkbench(bool storeSameServer) {
    if (storeSameServer) {
        settings::Registry reg;
        QVERIFY(reg.openKey(QString::fromLatin1(settings::kSettingsKey), true));
        reg.writeString("MSSQLServer", m_prompt->server);
        reg.writeString("MSSQLDatabase", "Musterfirma");
    }
    FirstActivation = true;
    runGuarded([this] { w->FormActivate(); });
}

void TestWorkbenchE2E::driverManagerLoadsWithFirstConnection() {
    if (driverManagerLoaded())
        QSKIP("an earlier test has connected in this process");
    // The window up and painted: still no ODBC in the process.
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCoreApplication::processEvents();
    QVERIFY(!driverManagerLoaded());
    connectWorkbench(false);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QVERIFY(driverManagerLoaded());
    QCOMPARE(w->windowTitle(), QStringLiteral("Brevalon - tarnwick 2005 - ") + serverName());
}

void TestWorkbenchE2E::sameServerSelectsStoredDatabase() {
    connectWorkbench(true);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QVERIFY(w->SameServer);
    QCOMPARE(w->windowTitle(), QStringLiteral("Brevalon - tarnwick 2005 - ") + serverName());
    QVERIFY(!ServerProductVersion.isEmpty());
    QCOMPARE(w->LBStatusbar1->text(),
             QStringLiteral("Server: %1 (SQL Server %2)").arg(serverName(), ServerProductVersion));
    QCOMPARE(w->CBDatabase->currentText(), QStringLiteral("Musterfirma"));
    QCOMPARE(w->LBStatusBar2->text(), QStringLiteral("Datenbank: Musterfirma"));
    const QStringList tables = listItems(w->LBTables);
    QVERIFY2(tables.contains("Kunden") && tables.contains("Spezial]Tabelle"),
             qPrintable(tables.join(',')));
    QVERIFY(tables.contains("Bestelluebersicht")); // views too
    QVERIFY(!tables.contains("dbo.Kunden"));
    QCOMPARE(DM->ADOConnMain->ConnectionString().contains("Initial Catalog=Musterfirma;"), true);

    // A later activation neither asks again nor reloads anything.
    w->EDMaxRec->setValue(77);
    runGuarded([this] { w->FormActivate(); });
    QCOMPARE(m_prompt->opens, 1);
    QCOMPARE(w->EDMaxRec->value(), 77);
}

void TestWorkbenchE2E::otherServerSelectsFirstDatabase() {
    {
        settings::Registry reg;
        QVERIFY(reg.openKey(QString::fromLatin1(settings::kSettingsKey), true));
        reg.writeString("MSSQLServer", "ANDERER");
        reg.writeString("MSSQLDatabase", "Musterfirma");
    }
    connectWorkbench();
    QVERIFY(!w->SameServer);
    const QStringList items = comboItems(w->CBDatabase);
    QCOMPARE(items.first(), QStringLiteral("<Erneut einlesen>"));
    QVERIFY(items.contains("Musterfirma") && items.contains("master"));
    QStringList names = items.mid(1);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QCOMPARE(names, sorted);
    QCOMPARE(w->CBDatabase->currentText(), items.at(1));
    QCOMPARE(w->LBStatusBar2->text(), QStringLiteral("Datenbank: ") + items.at(1));
    QVERIFY(m_messages->requests.isEmpty());
}

void TestWorkbenchE2E::failedFirstConnectionLeavesUsableWindow() {
    m_prompt->server = QStringLiteral("127.0.0.1,1"); // nothing listens there
    connectWorkbench();
    QCOMPARE(m_messages->requests.size(), 1);
    QVERIFY(!FirstActivation);
    QCOMPARE(w->CBDatabase->count(), 0);
    QCOMPARE(w->LBTables->count(), 0);
    QCOMPARE(w->LBStatusbar1->text(), QStringLiteral("  "));
    QCOMPARE(w->windowTitle(), QStringLiteral("Brevalon - tarnwick 2005"));
    // Not repeated on the next activation; "Verbinden..." connects.
    runGuarded([this] { w->FormActivate(); });
    QCOMPARE(m_prompt->opens, 1);
    m_prompt->server = serverName();
    trigger(w->ACConnect);
    QCOMPARE(m_prompt->opens, 2);
    QVERIFY(DM->ADOConnMain->Connected());
    QVERIFY(w->CBDatabase->count() > 1);
    QCOMPARE(w->LBStatusBar2->text(), QStringLiteral("Datenbank: ") + w->CBDatabase->itemText(1));
    QCOMPARE(m_messages->requests.size(), 1);
}

void TestWorkbenchE2E::cancelledFirstDialogStillTriesToConnect() {
    m_prompt->confirm = false;
    connectWorkbench();
    QCOMPARE(m_prompt->opens, 1);
    QCOMPARE(m_messages->requests.size(), 1); // the provider's message for the empty server
    QVERIFY(DM->ADOConnMain->ConnectionString().contains("User ID=;Password=;"));
    QCOMPARE(w->LBTables->count(), 0);
}

void TestWorkbenchE2E::connectAgainAfterCancelUsesLastServer() {
    connectWorkbench();
    QVERIFY(m_messages->requests.isEmpty());
    m_prompt->confirm = false;
    m_prompt->server = QStringLiteral("127.0.0.1,1");
    trigger(w->ACConnect);
    QVERIFY(m_messages->requests.isEmpty());
    QVERIFY(DM->ADOConnMain->Connected());
    QCOMPARE(w->windowTitle(), QStringLiteral("Brevalon - tarnwick 2005 - ") + serverName());
    QVERIFY(!w->SameServer); // "Verbinden..." forgets the stored server
}

void TestWorkbenchE2E::rereadEntryListsFirstDatabase() {
    connectWorkbench(true);
    w->LBTables->clear();
    w->CBDatabase->setCurrentIndex(0);
    runGuarded([this] { w->CBDatabaseChange(); });
    QCOMPARE(w->LBStatusBar2->text(), QStringLiteral("Datenbank: <Erneut einlesen>"));
    runGuarded([this] { w->CBDatabaseCloseUp(); });
    QVERIFY(m_messages->requests.isEmpty());
    QCOMPARE(w->CBDatabase->currentIndex(), 1);
    const QString first = w->CBDatabase->itemText(1);
    QCOMPARE(w->LBStatusBar2->text(), QStringLiteral("Datenbank: ") + first);
    QVERIFY(DM->ADOConnMain->ConnectionString().contains("Initial Catalog=" + first + ";"));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TestWorkbenchE2E::systemTablesOnAndOff() {
    connectWorkbench(true);
    const QStringList plain = listItems(w->LBTables);
    QTest::mouseClick(w->CHBSystem, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(w->CHBSystem->isChecked());
    const QStringList withSystem = listItems(w->LBTables);
    QVERIFY2(withSystem.size() > plain.size(), qPrintable(withSystem.join(',')));
    for (const QString& t : plain)
        QVERIFY(withSystem.contains(t));
    QTest::mouseClick(w->CHBSystem, Qt::LeftButton, {}, QPoint(5, 8));
    QCOMPARE(listItems(w->LBTables), plain);
}

void TestWorkbenchE2E::typingDatabaseNameReconnectsPerKeystroke() {
    connectWorkbench(true);
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->CBDatabase->lineEdit()->clear();
    w->CBDatabase->lineEdit()->setFocus();
    QTest::keyClicks(w->CBDatabase->lineEdit(), QStringLiteral("Xyz"));
    // One connection per keystroke, with "X", "Xy" and "Xyz"; none exists.
    QCOMPARE(m_messages->requests.size(), 3);
    QCOMPARE(w->LBStatusBar2->text(), QStringLiteral("Datenbank: Xyz"));
    QVERIFY(!DM->ADOConnMain->Connected());
    QVERIFY(!w->PAGrid->isHidden());
    // Typing a name that exists lists its tables.
    w->CBDatabase->lineEdit()->selectAll();
    QTest::keyClicks(w->CBDatabase->lineEdit(), QStringLiteral("master"));
    QVERIFY(DM->ADOConnMain->Connected());
    QVERIFY(DM->ADOConnMain->ConnectionString().contains("Initial Catalog=master;"));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TestWorkbenchE2E::queryFillsGrid() {
    connectWorkbench(true);
    w->PCMain->setCurrentIndex(1);
    w->MEQuery->setPlainText(QStringLiteral(
        "-- alle Kunden\nselect KundenNr, Firma /* Name */\nfrom Kunden\norder by KundenNr"));
    trigger(w->ACQuery);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(w->PCMain->currentIndex(), 0);
    QVERIFY(w->PAGrid->isHidden());
    QVERIFY(grid()->rowCount() >= 3);
    QCOMPARE(grid()->columnCount(), 2);
    QCOMPARE(grid()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Firma"));
    QCOMPARE(grid()->index(0, 1).data().toString(), QStringLiteral("Müller & Söhne OHG"));
    // Comments go, line breaks stay.
    QCOMPARE(DM->ADOdsQuery->CommandText(),
             QStringLiteral("\nselect KundenNr, Firma \nfrom Kunden\norder by KundenNr"));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TestWorkbenchE2E::updateRunAsQueryIsCarriedOutAndReported() {
    connectWorkbench(true);
    w->MEQuery->setPlainText(QStringLiteral("update Kunden set Ort = N'Bonn' where KundenNr = 2"));
    trigger(w->ACQuery);
    QCOMPARE(m_messages->texts(),
             QStringList{QStringLiteral("CommandText gibt keine Ergebnismenge zurück.")});
    QVERIFY(!w->PAGrid->isHidden());
    // The session stays: an error of a statement does not end it.
    QVERIFY(DM->ADOConnMain->Connected());
    w->MEQuery->setPlainText(QStringLiteral("select Ort from Kunden where KundenNr = 2"));
    trigger(w->ACQuery);
    QCOMPARE(m_messages->requests.size(), 1);
    QCOMPARE(grid()->index(0, 0).data().toString(), QStringLiteral("Bonn"));
}

void TestWorkbenchE2E::failedQueryKeepsTheSession() {
    connectWorkbench(true);
    w->REMessages->setPlainText(QStringLiteral("vorher"));
    w->MEQuery->setPlainText(QStringLiteral("select * from GibtEsNicht"));
    trigger(w->ACQuery);
    QCOMPARE(m_messages->requests.size(), 1);
    QVERIFY(m_messages->texts().first().contains("GibtEsNicht"));
    QVERIFY(DM->ADOConnMain->Connected());
    QVERIFY(!w->PAGrid->isHidden());
    // The messages page lists the error with the server's heading.
    QVERIFY2(w->REMessages->toPlainText().startsWith(QStringLiteral("Meldung 208, Ebene 16")),
             qPrintable(w->REMessages->toPlainText()));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);

    w->MEQuery->setPlainText(QStringLiteral("select count(*) from Artikel"));
    trigger(w->ACQuery);
    QCOMPARE(m_messages->requests.size(), 1);
    QVERIFY(DM->ADOConnMain->Connected());
    QVERIFY(DM->ADOConnMain->ConnectionString().contains("Initial Catalog=Musterfirma;"));
    QCOMPARE(grid()->rowCount(), 1);
}

void TestWorkbenchE2E::newKeepsResultSet() {
    connectWorkbench(true);
    w->MEQuery->setPlainText(QStringLiteral("select * from Artikel"));
    trigger(w->ACQuery);
    const int rows = grid()->rowCount();
    QVERIFY(rows > 0);
    trigger(w->ACNew);
    QCOMPARE(w->MEQuery->toPlainText(), QString());
    QCOMPARE(grid()->rowCount(), rows);
}

void TestWorkbenchE2E::quickQuery_data() {
    QTest::addColumn<int>("maxRows");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("rows");
    QTest::newRow("all rows") << 0 << "SELECT * from [Messwerte]" << 120;
    QTest::newRow("top 50") << 50 << "SELECT TOP 50 * from [Messwerte]" << 50;
}

void TestWorkbenchE2E::quickQuery() {
    QFETCH(int, maxRows);
    QFETCH(QString, statement);
    QFETCH(int, rows);
    connectWorkbench(true);
    w->EDMaxRec->setValue(maxRows);
    w->MEQuery->setPlainText(QStringLiteral("select 1"));
    const QList<QListWidgetItem*> found = w->LBTables->findItems("Messwerte", Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    w->LBTables->setCurrentItem(found.first());
    w->LBTablesDblClick();
    waitForStatement(w);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("select 1\n\n") + statement);
    QCOMPARE(w->MEQuery->textCursor().selectedText(), statement);
    QCOMPARE(grid()->rowCount(), rows);

    // A second double click piles the next statement up after an empty line.
    w->LBTablesDblClick();
    waitForStatement(w);
    QCOMPARE(w->MEQuery->toPlainText(),
             QStringLiteral("select 1\n\n") + statement + QStringLiteral("\n\n") + statement);
    QCOMPARE(w->MEQuery->textCursor().selectedText(), statement);
}

void TestWorkbenchE2E::quickQueryOnBracketName() {
    connectWorkbench(true);
    const QList<QListWidgetItem*> found =
        w->LBTables->findItems("Spezial]Tabelle", Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    w->LBTables->setCurrentItem(found.first());
    // Enter on the list runs the quick query, as a double click does.
    w->LBTables->setFocus();
    QTest::keyClick(w->LBTables, Qt::Key_Return);
    waitForStatement(w);
    QVERIFY(w->MEQuery->toPlainText().endsWith("SELECT * from [Spezial]]Tabelle]"));
    QCOMPARE(grid()->rowCount(), 2);
    QVERIFY(DM->ADOdsQuery->Active());
    QVERIFY(w->PAGrid->isHidden());

    // A name crafted to end the bracket selects from the table of that name
    // and runs nothing else.
    w->MEQuery->setPlainText(
        QStringLiteral("create table [x]]; drop table Lieferanten; --] (a int)"));
    trigger(w->ACExecute);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    w->LBTables->addItem(QStringLiteral("x]; drop table Lieferanten; --"));
    w->LBTables->setCurrentRow(w->LBTables->count() - 1);
    w->LBTablesDblClick();
    waitForStatement(w);
    QVERIFY(DM->ADOdsQuery->Active());
    QCOMPARE(DM->ADOdsQuery->CommandText(),
             QStringLiteral("SELECT * from [x]]; drop table Lieferanten; --]"));
    QCOMPARE(grid()->columnCount(), 1);
    QCOMPARE(grid()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("a"));
    w->MEQuery->setPlainText(QStringLiteral("select count(*) from Lieferanten"));
    trigger(w->ACQuery);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
}

void TestWorkbenchE2E::quickQueryFailureShowsNoMessage() {
    connectWorkbench(true);
    w->LBTables->addItem(QStringLiteral("GibtEsNicht"));
    w->LBTables->setCurrentRow(w->LBTables->count() - 1);
    w->LBTablesDblClick();
    waitForStatement(w);
    QVERIFY(m_messages->requests.isEmpty());
    QVERIFY(!w->PAGrid->isHidden());
    QVERIFY(DM->ADOConnMain->Connected());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TestWorkbenchE2E::quickQueryOnEmptyListRunsEditor_data() {
    QTest::addColumn<bool>("emptyList");
    QTest::newRow("empty list") << true;
    QTest::newRow("below the entries") << false;
}

// A double click where no entry is runs the editor's text.
void TestWorkbenchE2E::quickQueryOnEmptyListRunsEditor() {
    QFETCH(bool, emptyList);
    connectWorkbench(true);
    if (emptyList)
        w->LBTables->clear();
    w->LBTables->setCurrentRow(-1);
    w->MEQuery->setPlainText(QStringLiteral("select * from Kunden"));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QWidget* area = w->LBTables->viewport();
    const QPoint below(area->width() / 2, area->height() - 4);
    QVERIFY(!w->LBTables->itemAt(below)); // the bottom of the list stays empty
    QTest::mouseDClick(area, Qt::LeftButton, {}, below);
    waitForStatement(w);
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("select * from Kunden"));
    QTRY_VERIFY_WITH_TIMEOUT(DM->ADOdsQuery->Active(), 10000);
    QVERIFY(grid()->rowCount() > 0);
}

void TestWorkbenchE2E::executeShowsProviderMessages() {
    connectWorkbench(true);
    w->MEQuery->setPlainText(QStringLiteral("select * from Artikel"));
    trigger(w->ACQuery);
    const int rows = grid()->rowCount();
    w->PCMain->setCurrentIndex(1);
    w->MEQuery->setPlainText(QStringLiteral("print 'Hallo Welt'\nprint 'zweite Zeile'"));
    trigger(w->ACExecute);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(w->PCMain->currentIndex(), 0);
    QVERIFY(!w->PAGrid->isHidden());
    QCOMPARE(w->REMessages->toPlainText(), QStringLiteral("Hallo Welt\nzweite Zeile"));
    QCOMPARE(grid()->rowCount(), rows); // the earlier result stays behind the panel
}

void TestWorkbenchE2E::executeListsParameters() {
    connectWorkbench(true);
    w->MEQuery->setPlainText(QStringLiteral("declare @x int\nset @x = :wert\nprint 'ok'"));
    trigger(w->ACExecute);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(w->REMessages->toPlainText(), QStringLiteral("ok\nwert: "));
}

void TestWorkbenchE2E::executeCommentEndsWithItsLine() {
    connectWorkbench(true);
    w->MEQuery->setPlainText(
        QStringLiteral("update Kunden set Ort = N'Hier' -- nur einer\nwhere KundenNr = 1"));
    trigger(w->ACExecute);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    w->MEQuery->setPlainText(QStringLiteral("select count(*) from Kunden where Ort = N'Hier'"));
    trigger(w->ACQuery);
    QCOMPARE(grid()->index(0, 0).data().toInt(), 1);

    // A failing command keeps the session; the panel stays up.
    w->MEQuery->setPlainText(QStringLiteral("update GibtEsNicht set a = 1"));
    trigger(w->ACExecute);
    QCOMPARE(m_messages->requests.size(), 1);
    QVERIFY(DM->ADOConnMain->Connected());
    QVERIFY(!w->PAGrid->isHidden());
}

void TestWorkbenchE2E::connectionInformation() {
    connectWorkbench(true);
    w->PCMain->setCurrentIndex(0);
    trigger(w->AcInfo);
    QCOMPARE(w->PCMain->currentIndex(), 1);
    const QString first = w->REMessages->toPlainText();
    const QStringList lines = first.split(u'\n');
    QVERIFY(lines.size() > 3);
    for (const QString& line : lines)
        QVERIFY2(line.contains(QStringLiteral(": ")), qPrintable(line));
    const TADOProperties& props = DM->ADOConnMain->Properties();
    int withValue = 0;
    for (int i = 0; i < props.Count(); ++i)
        withValue += props.Value(i).isValid() && !props.Value(i).isNull();
    QCOMPARE(lines.size(), withValue);
    trigger(w->AcInfo);
    QCOMPARE(w->REMessages->toPlainText(), first); // once, not twice
}

void TestWorkbenchE2E::settingsDialogOkAndCancel() {
    connectWorkbench(true);
    auto* dialog = qobject_cast<TFMsetup*>(FMsetup);
    QVERIFY(dialog);
    // OK with a text for F3 and a time-out.
    modal::setDialogHandler([](QDialog* d) {
        auto* setup = static_cast<TFMsetup*>(d);
        setup->show();
        setup->STGShortCut->setCells(1, 3, QStringLiteral("where 1=1"));
        setup->EDADOTimeout->setText(QStringLiteral("45"));
        setup->Button1Click();
        setup->hide();
        return int(QDialog::Accepted);
    });
    trigger(w->ACSetup);
    QCOMPARE(w->ShortcutTexts[2], QStringLiteral("where 1=1"));
    QCOMPARE(QueryTimeout, 45);
    QCOMPARE(DM->ADOdsQuery->CommandTimeout(), 45);
    // Cancel after changing both: nothing changes.
    modal::setDialogHandler([](QDialog* d) {
        auto* setup = static_cast<TFMsetup*>(d);
        setup->show();
        setup->STGShortCut->setCells(1, 3, QStringLiteral("verworfen"));
        setup->EDADOTimeout->setText(QStringLiteral("99"));
        setup->hide();
        return int(QDialog::Rejected);
    });
    trigger(w->ACSetup);
    modal::setDialogHandler({});
    QCOMPARE(w->ShortcutTexts[2], QStringLiteral("where 1=1"));
    QCOMPARE(QueryTimeout, 45);

    // Only closing the window writes the settings.
    {
        settings::Registry reg;
        QVERIFY(reg.openKeyReadOnly(QString::fromLatin1(settings::kSettingsKey)));
        QVERIFY(!reg.valueExists("shortcut3"));
    }
    w->CBDatabase->setEditText(QStringLiteral("Musterfirma"));
    w->close();
    settings::Registry reg;
    QVERIFY(reg.openKeyReadOnly(QString::fromLatin1(settings::kSettingsKey)));
    QCOMPARE(reg.readString("shortcut3"), QStringLiteral("where 1=1"));
    QCOMPARE(reg.readString("ADOTimeout"), QStringLiteral("45"));
    QCOMPARE(reg.readString("MSSQLDatabase"), QStringLiteral("Musterfirma"));
    QueryTimeout = 0;
}

// Servers of SQL Server 2000 to 2008: the structure window lists the field
// types and the grid the values that version sends; date and time columns are
// text before 7.3 (datetime2 as nvarchar with seven digits, as SQL Server sends it).
void TestWorkbenchE2E::olderServerStructureAndGrid_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("types"); // Nr int, Tag date, Zeit time, Moment datetime2
    QTest::addColumn<QStringList>("cells");
    const QStringList asText{"ftInteger", "ftWideString", "ftWideString", "ftWideString"};
    const QStringList textCells{"1", "2024-02-29", "13:14:15.1234567",
                                "2024-02-29 13:14:15.1230000"};
    QTest::newRow("7.1") << "7.1" << asText << textCells;
    QTest::newRow("7.2") << "7.2" << asText << textCells;
    QTest::newRow("7.3") << "7.3" << QStringList{"ftInteger", "ftDate", "ftTime", "ftDateTime"}
                         << QStringList{"1", "2024-02-29", "13:14:15.1234567",
                                        "2024-02-29 13:14:15.1230000"};
}

void TestWorkbenchE2E::olderServerStructureAndGrid() {
    QFETCH(QString, version);
    QFETCH(QStringList, types);
    QFETCH(QStringList, cells);
    TestServer older({"--tds-version", version.toStdString()});
    m_prompt->server = QStringLiteral("127.0.0.1,%1").arg(older.port());
    m_prompt->user = QString::fromStdString(older.user());
    m_prompt->password = QString::fromStdString(older.password());
    connectWorkbench(true);
    QVERIFY(DM->ADOConnMain->Connected());
    w->MEQuery->setPlainText(
        QStringLiteral("create table Termine (Nr int, Tag date, Zeit time, Moment datetime2);\n"
                       "insert into Termine values (1, '2024-02-29', '13:14:15.1234567', "
                       "'2024-02-29 13:14:15.123')"));
    trigger(w->ACExecute);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));

    QStringList shownTypes;
    modal::setDialogHandler([&](QDialog* d) {
        const StringGrid* g = static_cast<TFMStruktur*>(d)->STGStruktur;
        for (int r = 1; r < g->rowCount(); ++r)
            shownTypes << g->cells(2, r);
        return int(QDialog::Accepted);
    });
    w->LBTables->addItem(QStringLiteral("Termine"));
    w->LBTables->setCurrentRow(w->LBTables->count() - 1);
    TableListFocused = true;
    trigger(w->ACTables);
    modal::setDialogHandler({});
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(shownTypes, types);

    w->MEQuery->setPlainText(QStringLiteral("select * from Termine"));
    trigger(w->ACQuery);
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(grid()->rowCount(), 1);
    QStringList shown;
    for (int c = 0; c < grid()->columnCount(); ++c)
        shown << grid()->index(0, c).data().toString();
    QCOMPARE(shown, cells);
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    setApplicationTitle(QStringLiteral("tarnwick 2005"));
    TestWorkbenchE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_workbench_e2e.moc"
