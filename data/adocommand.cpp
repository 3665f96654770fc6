#include "data/adocommand.h"

#include "data/sqlparams.h"

#include <QHash>

TParameter* TParameters::FindParam(const QString& name) {
    for (auto& p : m_items)
        if (p.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

TParameter& TParameters::Add(const QString& name, const QVariant& value) {
    m_items.append(TParameter{name, value, -1});
    return m_items.last();
}

namespace {

// What runs on the connection's thread when a command on the worker has
// ended: the connection takes its messages, or a lost session from its
// error, before the caller hears of the end.
TADOConnection::AsyncDone endOfCommand(QPointer<TADOConnection> conn,
                                       std::function<void(std::exception_ptr, bool)> finished) {
    return [conn, finished](std::exception_ptr error, bool cancelled, data::MessageList messages) {
        if (conn) {
            if (!error) {
                conn->endOperation(messages);
            } else {
                try {
                    std::rethrow_exception(error);
                } catch (const data::DataError& e) {
                    conn->handleFailure(e);
                } catch (...) {
                }
            }
        }
        if (finished)
            finished(error, cancelled);
    };
}

} // namespace

TADOCommand::TADOCommand(QObject* parent) : QObject(parent) {}

void TADOCommand::setCommandText(const QString& text) {
    m_commandText = text;
    const data::ParsedParameters parsed = data::parseParameters(text);
    m_sentText = parsed.text;
    m_parameters.Clear();
    for (const QString& name : parsed.names)
        m_parameters.Add(name);
}

QList<QVariant> TADOCommand::parameterValues() const {
    QList<QVariant> values;
    for (int i = 0; i < m_parameters.Count(); ++i)
        values.append(m_parameters[i].Value);
    // Parameters added by hand to a text without markers are not sent.
    if (data::parseParameters(m_commandText).names.size() != values.size())
        values.clear();
    return values;
}

void TADOCommand::ExecuteAsync(std::function<void(std::exception_ptr, bool)> finished) {
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    QPointer<TADOConnection> conn = m_connection;
    const QString text = m_sentText.isNull() ? m_commandText : m_sentText;
    const QList<QVariant> values = parameterValues();
    data::QueryOptions options;
    options.commandTimeout = m_commandTimeout;
    conn->runAsync(
        [text, values, options](data::ProviderConnection& session,
                                const std::atomic<bool>& cancelled, data::MessageList& messages,
                                const TADOConnection::Reporter& report) {
            data::QueryOptions o = options;
            o.cancelled = &cancelled;
            o.message = report;
            session.execute(text, values, o, messages);
        },
        endOfCommand(conn, std::move(finished)));
}

void TADOCommand::ExecuteScriptAsync(const QList<data::ScriptStep>& steps,
                                     data::ScriptEvents events,
                                     std::function<void(std::exception_ptr, bool)> finished) {
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    QPointer<TADOConnection> conn = m_connection;
    data::Handoff* handoff = &conn->handoff();
    auto shared = std::make_shared<const data::ScriptEvents>(std::move(events));
    // Each text as a command of its own would send it: markers become "?",
    // bound to nothing but null.
    QList<data::ScriptStep> sent = steps;
    auto markers = std::make_shared<QHash<QString, qsizetype>>();
    for (data::ScriptStep& step : sent) {
        const data::ParsedParameters parsed = data::parseParameters(step.text);
        step.text = parsed.text;
        markers->insert(parsed.text, parsed.names.size());
    }
    data::QueryOptions options;
    options.commandTimeout = m_commandTimeout;
    conn->runAsync(
        [sent, options, handoff, shared,
         markers](data::ProviderConnection& session, const std::atomic<bool>& cancelled,
                  data::MessageList& messages, const TADOConnection::Reporter& report) {
            data::QueryOptions o = options;
            o.cancelled = &cancelled;
            o.message = report;
            data::runScriptSteps(*handoff, sent, shared, cancelled, [&](const QString& text) {
                session.execute(text, QList<QVariant>(markers->value(text)), o, messages);
            });
        },
        endOfCommand(conn, std::move(finished)));
}

void TADOCommand::Execute() {
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    TADOConnection& conn = *m_connection;
    const QList<QVariant> values = parameterValues();
    data::MessageList messages, all;
    conn.beginOperation();
    try {
        data::ProviderConnection& session = conn.session();
        conn.beginOperation();
        data::QueryOptions options;
        options.commandTimeout = m_commandTimeout;
        options.message = [&all](const data::DiagRecord& r) { all.append(r); };
        session.execute(m_sentText.isNull() ? m_commandText : m_sentText, values, options,
                        messages);
    } catch (const data::DataError& e) {
        conn.setMessages(all);
        conn.handleFailure(e);
        throw;
    }
    conn.endOperation(messages);
    conn.setMessages(all);
}
