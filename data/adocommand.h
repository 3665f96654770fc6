#pragma once
// The command object: runs a text whose results are not used. Its parameter
// list follows the ":name" markers of the text; each marker is sent to the
// server as "?" with the parameter's value (null unless set).

#include "data/adoconnection.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <exception>
#include <functional>

struct TParameter {
    QString Name;
    QVariant Value; // invalid QVariant: null
    int Size = -1;
};

class TParameters {
public:
    int Count() const { return int(m_items.size()); }
    TParameter& operator[](int i) { return m_items[i]; }
    const TParameter& operator[](int i) const { return m_items.at(i); }
    QString Name(int i) const { return m_items.at(i).Name; }
    QVariant Value(int i) const { return m_items.at(i).Value; }
    // First parameter of that name (case-insensitive), nullptr when none.
    TParameter* FindParam(const QString& name);
    TParameter& Add(const QString& name = {}, const QVariant& value = {});
    void Clear() { m_items.clear(); }

private:
    QList<TParameter> m_items;
};

class TADOCommand : public QObject {
    Q_OBJECT
public:
    explicit TADOCommand(QObject* parent = nullptr);

    TADOConnection* Connection() const { return m_connection; }
    void setConnection(TADOConnection* connection) { m_connection = connection; }
    QString CommandText() const { return m_commandText; }
    // Stores the text and rebuilds the parameter list from its markers.
    void setCommandText(const QString& text);
    int CommandTimeout() const { return m_commandTimeout; } // seconds, 0: none; 30 default
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
    TParameters& Parameters() { return m_parameters; }
    const TParameters& Parameters() const { return m_parameters; }

    // Runs the text on the connection (opening it when closed). Whatever the
    // statement returns is read and dropped; informational messages go to the
    // connection's error collection.
    void Execute();
    // Runs the text like Execute on the connection's worker thread and
    // returns at once; `finished` runs once it has ended, with its error
    // (null on success) or cancelled when the connection's Cancel stopped it.
    void ExecuteAsync(std::function<void(std::exception_ptr error, bool cancelled)> finished);
    // Runs the texts of a script one after the other like ExecuteAsync, on the
    // worker without waiting for this thread between them (see
    // TADODataSet::OpenScriptAsync). The command's own text is not used.
    void ExecuteScriptAsync(const QList<data::ScriptStep>& steps, data::ScriptEvents events,
                            std::function<void(std::exception_ptr error, bool cancelled)> finished);

private:
    QList<QVariant> parameterValues() const;

    QPointer<TADOConnection> m_connection;
    QString m_commandText;
    QString m_sentText; // the text with every marker replaced by "?"
    int m_commandTimeout = 30;
    TParameters m_parameters;
};
