#include "testserver/reply_sink.h"

#include <strings.h>

namespace tds {

ReplySink::ReplySink(TokenWriter& writer, const std::atomic<bool>& cancel)
    : m_writer(writer), m_cancel(cancel) {}

void ReplySink::setCall(const RpcCall* call) {
    m_call = call;
    m_returned.assign(call ? call->params.size() : 0, false);
}

bool ReplySink::stopped() const {
    return m_cancel.load(std::memory_order_relaxed) || m_writer.out().failed();
}

void ReplySink::beforeToken() {
    if (m_pending) {
        m_writer.done(m_pending->kind, m_pending->status | DoneMore, m_pending->curCmd,
                      m_pending->rowCount);
        m_pending.reset();
    }
    m_tokensSinceDone = true;
}

void ReplySink::columns(const std::vector<Column>& cols) {
    if (stopped())
        return;
    beforeToken();
    m_writer.colMetadata(cols);
}

void ReplySink::browseInfo(const std::vector<Column>& cols) {
    if (stopped())
        return;
    m_writer.browseInfo(cols);
}

bool ReplySink::row(const std::vector<Value>& values) {
    if (stopped())
        return false;
    m_writer.row(values);
    return !stopped();
}

void ReplySink::done(DoneKind kind, std::uint16_t status, std::uint64_t rowCount,
                     std::uint16_t curCmd) {
    if (stopped())
        return;
    beforeToken();
    m_pending = PendingDone{kind, std::uint16_t(status & ~DoneMore), curCmd, rowCount};
    m_tokensSinceDone = false;
}

void ReplySink::message(const Message& m) {
    if (stopped())
        return;
    beforeToken();
    m_writer.message(m);
    if (m.error)
        m_sawError = true;
}

void ReplySink::flush() {
    if (stopped())
        return;
    m_writer.out().flush();
}

void ReplySink::databaseChanged(const std::string& oldDb, const std::string& newDb) {
    if (stopped())
        return;
    beforeToken();
    m_writer.envChange(EnvDatabase, newDb, oldDb);
}

void ReplySink::returnStatus(std::int32_t status) {
    if (stopped())
        return;
    beforeToken();
    m_writer.returnStatus(status);
}

void ReplySink::returnValue(const std::string& name, const ColumnType& type, const Value& value,
                            bool output) {
    if (stopped())
        return;
    beforeToken();
    // The ordinal is the parameter's position: by name, else the first
    // output parameter without a name that has not been answered yet.
    std::uint16_t ordinal = 0;
    if (m_call) {
        const auto& params = m_call->params;
        std::size_t found = params.size();
        for (std::size_t i = 0; i < params.size() && found == params.size(); ++i)
            if (!name.empty() && !m_returned[i] &&
                strcasecmp(params[i].name.c_str(), name.c_str()) == 0)
                found = i;
        for (std::size_t i = 0; i < params.size() && found == params.size(); ++i)
            if (params[i].output && params[i].name.empty() && !m_returned[i])
                found = i;
        if (found < params.size()) {
            m_returned[found] = true;
            ordinal = std::uint16_t(found);
        }
    }
    m_writer.returnValue(ordinal, name, type, value, output);
}

void ReplySink::finish() {
    if (stopped())
        return;
    if (m_pending && !m_tokensSinceDone) {
        m_writer.done(m_pending->kind, m_pending->status, m_pending->curCmd, m_pending->rowCount);
        m_pending.reset();
        return;
    }
    beforeToken();
    m_writer.done(DoneKind::Done, m_sawError ? DoneError : DoneFinal, 0, 0);
    m_tokensSinceDone = false;
}

} // namespace tds
