#include "app/uDM.h"

#include <QCoreApplication>

TDM* DM = nullptr;

TDM::TDM(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("DM"));

    ADOConnMain = new TADOConnection(this);
    ADOConnMain->setObjectName(QStringLiteral("ADOConnMain"));
    ADOConnMain->setLoginPrompt(false);
    ADOConnMain->setConnectionTimeout(15);
    ADOConnMain->setCommandTimeout(30);

    ADOdsDB = new TADODataSet(this);
    ADOdsDB->setObjectName(QStringLiteral("ADOdsDB"));
    ADOdsDB->setConnection(ADOConnMain);
    ADOdsDB->setCursorLocation(clUseServer);
    ADOdsDB->setCursorType(ctStatic);
    ADOdsDB->setCommandText(QStringLiteral("select name from sysdatabases"));

    ADOdsQuery = new TADODataSet(this);
    ADOdsQuery->setObjectName(QStringLiteral("ADOdsQuery"));
    ADOdsQuery->setConnection(ADOConnMain);
    ADOdsQuery->setCommandTimeout(0); // until the configured time-out replaces it
    ADOdsQuery->AfterOpen = [this](TADODataSet* ds) { ADOdsQueryAfterOpen(ds); };

    DSQuery = new TDataSource(this);
    DSQuery->setObjectName(QStringLiteral("DSQuery"));
    DSQuery->setDataSet(ADOdsQuery);

    ADOCommand = new TADOCommand(this);
    ADOCommand->setObjectName(QStringLiteral("ADOCommand"));
    ADOCommand->setConnection(ADOConnMain);
    ADOCommand->setCommandTimeout(0);
    ADOCommand->Parameters().Add(); // unnamed, null; replaced by the first command text

    ADODSStru = new TADODataSet(this);
    ADODSStru->setObjectName(QStringLiteral("ADODSStru"));
    ADODSStru->setConnection(ADOConnMain);
    ADODSStru->setCursorLocation(clUseServer);
    ADODSStru->setMaxRecords(1);

    ADOdsVersion = new TADODataSet(this);
    ADOdsVersion->setObjectName(QStringLiteral("ADOdsVersion"));
    ADOdsVersion->setConnection(ADOConnMain);
    ADOdsVersion->setCommandText(QStringLiteral("xp_msver"));
}

TDM::~TDM() {
    ADOConnMain->Close();
    if (DM == this)
        DM = nullptr;
}

void TDM::ADOdsQueryAfterOpen(TADODataSet*) {
    QCoreApplication::processEvents();
    emit queryOpened();
}
