#pragma once
// The data module: the application's one database connection and every
// dataset and command that works over it, alive for the whole run.

#include "data/adocommand.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"

#include <QObject>

class TDM : public QObject {
    Q_OBJECT
public:
    explicit TDM(QObject* parent = nullptr);
    ~TDM() override;

    TADOConnection* ADOConnMain;
    TADODataSet* ADOdsDB;
    TADODataSet* ADOdsQuery;
    TDataSource* DSQuery;
    TADOCommand* ADOCommand;
    TADODataSet* ADODSStru;
    TADODataSet* ADOdsVersion;

    // After the result dataset opened: let the window paint, then tell the
    // window, which uncovers the grid.
    void ADOdsQueryAfterOpen(TADODataSet* dataSet);

signals:
    // The result dataset opened; the window hides its "no result" panel.
    void queryOpened();
};

extern TDM* DM;
