#include "data/adocommand.h"

#include "data/sqlparams.h"

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

TADOCommand::TADOCommand(QObject* parent) : QObject(parent) {}

void TADOCommand::setCommandText(const QString& text) {
    m_commandText = text;
    const data::ParsedParameters parsed = data::parseParameters(text);
    m_sentText = parsed.text;
    m_parameters.Clear();
    for (const QString& name : parsed.names)
        m_parameters.Add(name);
}

void TADOCommand::Execute() {
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    TADOConnection& conn = *m_connection;
    QList<QVariant> values;
    for (int i = 0; i < m_parameters.Count(); ++i)
        values.append(m_parameters[i].Value);
    // Parameters added by hand to a text without markers are not sent.
    if (data::parseParameters(m_commandText).names.size() != values.size())
        values.clear();
    data::MessageList messages;
    conn.beginOperation();
    try {
        data::ProviderConnection& session = conn.session();
        conn.beginOperation();
        data::QueryOptions options;
        options.commandTimeout = m_commandTimeout;
        session.execute(m_sentText.isNull() ? m_commandText : m_sentText, values, options,
                        messages);
    } catch (const data::DataError& e) {
        conn.handleFailure(e);
        throw;
    }
    conn.endOperation(messages);
}
