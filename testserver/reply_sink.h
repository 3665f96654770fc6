#pragma once
// Turns the engine's events for one request into tokens. It holds back each
// DONE until it knows whether more follows, so every DONE but the last carries
// DONE_MORE whatever the engine set, and it stops writing once the request is
// cancelled or the client has gone.

#include "testserver/engine/engine.h"
#include "testserver/tokens.h"

#include <atomic>
#include <optional>

namespace tds {

class ReplySink : public ResultSink {
public:
    // `call` (may be null) is the RPC being executed; its parameters give
    // RETURNVALUE tokens their ordinals.
    ReplySink(TokenWriter& writer, const std::atomic<bool>& cancel);

    void setCall(const RpcCall* call);

    void columns(const std::vector<Column>& cols) override;
    void browseInfo(const std::vector<Column>& cols) override;
    bool row(const std::vector<Value>& values) override;
    void done(DoneKind kind, std::uint16_t status, std::uint64_t rowCount,
              std::uint16_t curCmd) override;
    void message(const Message& m) override;
    void flush() override;
    void databaseChanged(const std::string& oldDb, const std::string& newDb) override;
    void returnStatus(std::int32_t status) override;
    void returnValue(const std::string& name, const ColumnType& type, const Value& value,
                     bool output) override;

    // Ends the reply: the held-back DONE goes out as the final one, or a
    // final DONE is added when the reply would otherwise not end with one.
    void finish();
    // True once the request was cancelled or the socket failed.
    bool stopped() const;
    // True when an ERROR token was written.
    bool sawError() const { return m_sawError; }

private:
    void beforeToken();

    struct PendingDone {
        DoneKind kind;
        std::uint16_t status;
        std::uint16_t curCmd;
        std::uint64_t rowCount;
    };

    TokenWriter& m_writer;
    const std::atomic<bool>& m_cancel;
    const RpcCall* m_call = nullptr;
    std::vector<bool> m_returned;
    std::optional<PendingDone> m_pending;
    bool m_tokensSinceDone = false;
    bool m_sawError = false;
};

} // namespace tds
