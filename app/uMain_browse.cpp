// Connecting and browsing: the server connection, the database box and the
// table list.

#include "app/uMain.h"

#include "app/application.h"
#include "app/connectprompt.h"
#include "app/grid/DBBGrid.h"
#include "app/uDM.h"
#include "connection/connectionstrings.h"
#include "export/VelADObatchmove.h"
#include "structure/waitcursor.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

namespace {

const QString kReread = QStringLiteral("<Erneut einlesen>");

// Connection strings for the choice the connection component holds.
QString serverConnectionString(const ConnectPrompt& c) {
    return masterConnectionString(c.NTAuthentification(), c.Server(), c.User(), c.Password());
}

QString databaseString(const ConnectPrompt& c, const QString& database) {
    return databaseConnectionString(c.NTAuthentification(), database, c.Server(), c.User(),
                                    c.Password());
}

// Runs work; on any error uncovers the "no result" panel and passes the
// error on.
template <class F> void showPanelOnError(QWidget* panel, F&& work) {
    try {
        work();
    } catch (...) {
        panel->setVisible(true);
        throw;
    }
}

} // namespace

TDM& TFMMain::dm() const {
    Q_ASSERT(m_dm);
    return *m_dm;
}

void TFMMain::attachDataModule(TDM* dm) {
    if (m_dm) {
        disconnect(m_dm, &TDM::queryOpened, this, nullptr);
        disconnect(m_dm->ADOConnMain, &TADOConnection::messageArrived, this, nullptr);
    }
    m_dm = dm;
    if (m_dm) {
        connect(m_dm, &TDM::queryOpened, this, [this] { PAGrid->setVisible(false); });
        // What the server says while a script runs, listed as it comes.
        connect(m_dm->ADOConnMain, &TADOConnection::messageArrived, this, &TFMMain::serverMessage);
    }
    DBGridQuery->setDataSource(m_dm ? m_dm->DSQuery : nullptr);
    VelADObatchmove1->setADODataset(m_dm ? m_dm->ADOdsQuery : nullptr);
}

ConnectPrompt& TFMMain::connection() {
    if (!m_connect)
        m_connect = createConnectionComponent(this);
    return *m_connect;
}

bool TFMMain::connectionOpen() const {
    return m_dm && m_dm->ADOConnMain->Connected();
}

int TFMMain::databaseIndex() const {
    // Typing a text that is not the selected entry leaves no entry selected.
    const int index = CBDatabase->currentIndex();
    if (index >= 0 && CBDatabase->itemText(index) == CBDatabase->currentText())
        return index;
    return -1;
}

void TFMMain::Connect() {
    ConnectPrompt& prompt = connection();
    prompt.open(); // after a cancel the values confirmed last are used
    QCoreApplication::processEvents();

    TADOConnection& conn = *dm().ADOConnMain;
    conn.Close();
    conn.setConnectionString(serverConnectionString(prompt));
    conn.Open();

    const QString server = prompt.Server();
    setWindowTitle(QStringLiteral("Brevalon - tarnwick 2005 - ") + server);
    SameServer = server == SavedServer;

    TADODataSet& version = *dm().ADOdsVersion;
    version.Close();
    version.Open();
    version.First();
    while (!version.Eof()) {
        if (version.FieldByName(QStringLiteral("Name")).AsString() == u"ProductVersion")
            ServerProductVersion =
                version.FieldByName(QStringLiteral("Character_Value")).AsString();
        version.Next();
    }
    LBStatusbar1->setText(QStringLiteral("Server: ") + server + QStringLiteral(" (SQL Server ") +
                          ServerProductVersion + u')');
}

void TFMMain::GetDatabases() {
    WaitCursor hourglass;
    showPanelOnError(PAGrid, [this] {
        TADOConnection& conn = *dm().ADOConnMain;
        dm().ADOdsQuery->Close();
        conn.Close();
        const QString previous = conn.ConnectionString();
        conn.setConnectionString(serverConnectionString(connection()));
        conn.Open();

        TADODataSet& list = *dm().ADOdsDB;
        list.Open();
        list.First();
        {
            const QSignalBlocker block(CBDatabase);
            CBDatabase->clear();
            CBDatabase->addSorted(kReread);
        }
        while (!list.Eof()) {
            CBDatabase->addSorted(list.FieldByName(QStringLiteral("name")).AsString());
            list.Next();
        }
        list.Close();
        {
            const QSignalBlocker block(CBDatabase);
            CBDatabase->setCurrentIndex(CBDatabase->count() > 1 ? 1 : 0);
        }

        conn.Close();
        conn.setConnectionString(previous);
        conn.Open();
    });
}

void TFMMain::GetTables() {
    if (databaseIndex() == 0)
        return;
    WaitCursor hourglass;
    showPanelOnError(PAGrid, [this] {
        PAGrid->setVisible(false);
        TADOConnection& conn = *dm().ADOConnMain;
        dm().ADOdsQuery->Close();
        conn.Close();
        conn.setConnectionString(databaseString(connection(), CBDatabase->currentText()));
        conn.Open();
        QStringList names;
        conn.GetTableNames(names, CHBSystem->isChecked());
        LBTables->clear();
        LBTables->addItems(names);
    });
}

bool TFMMain::transactionSettled() {
    bool goOn = false; // a commit or rollback that fails keeps the session as it is
    runGuarded([&] { goOn = settleOpenTransaction(); });
    return goOn;
}

void TFMMain::CBDatabaseChange() {
    if (!transactionSettled()) {
        // The box goes back to the database the session is still in.
        const QSignalBlocker block(CBDatabase);
        CBDatabase->setEditText(LBStatusBar2->text().section(QStringLiteral(": "), 1));
        return;
    }
    LBStatusBar2->setText(QStringLiteral("Datenbank: ") + CBDatabase->currentText());
    GetTables();
}

void TFMMain::CBDatabaseCloseUp() {
    if (databaseIndex() != 0 || !transactionSettled())
        return;
    // Re-reading the list goes on like "Verbinden...": the first database is
    // selected, named in the status line and its tables are listed.
    GetDatabases();
    LBStatusBar2->setText(QStringLiteral("Datenbank: ") + CBDatabase->currentText());
    GetTables();
}

void TFMMain::CHBSystemClick() {
    if (!transactionSettled()) {
        const QSignalBlocker block(CHBSystem);
        CHBSystem->setChecked(!CHBSystem->isChecked());
        return;
    }
    GetTables();
}

void TFMMain::ACConnectExecute() {
    if (!transactionSettled())
        return;
    SavedServer.clear();
    Connect();
    if (connectionOpen()) {
        GetDatabases();
        LBStatusBar2->setText(QStringLiteral("Datenbank: ") + CBDatabase->currentText());
        GetTables();
    }
}
