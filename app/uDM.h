#pragma once
// The data module: the application's one database connection and every
// dataset and command that works over it, alive for the whole run.

#include "data/adocommand.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"

#include <QObject>
#include <QPointer>

class TFMMain;

class TDM : public QObject {
    Q_OBJECT
public:
    explicit TDM(QObject* parent = nullptr);
    ~TDM() override;

    // The window whose result panel the after-open event hides.
    void setMainWindow(TFMMain* window) { m_main = window; }

    TADOConnection* ADOConnMain;
    TADODataSet* ADOdsDB;
    TADODataSet* ADOdsQuery;
    TDataSource* DSQuery;
    TADOCommand* ADOCommand;
    TADODataSet* ADODSStru;
    TADODataSet* ADOdsVersion;

    // After the result dataset opened: let the window paint, then uncover
    // the grid.
    void ADOdsQueryAfterOpen(TADODataSet* dataSet);

private:
    QPointer<TFMMain> m_main;
};

extern TDM* DM;
