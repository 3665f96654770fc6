#pragma once
// Decoding of what a client sends: PRELOGIN, LOGIN7, SQL batches, RPC calls
// and transaction-manager requests. Every function checks every length
// against the message and throws ProtocolError on anything malformed.

#include "testserver/engine/engine.h"
#include "testserver/wire.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tds {

struct Prelogin {
    std::uint8_t encryption = 0;
    std::string instance; // INSTOPT, without its NUL
    bool hasMars = false;
};

Prelogin parsePrelogin(const Bytes& payload);
// The reply: our version, the ENCRYPTION answer, no MARS. `productVersion`
// is e.g. "9.00.1399.06"; `encryption` one of the PRELOGIN values (0x02: not
// supported).
Bytes preloginReply(const std::string& productVersion, std::uint8_t encryption = 0x02);
// major, minor, build (high, low) of a product version text.
void productVersionBytes(const std::string& productVersion, std::uint8_t out[4]);

struct Login7 {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    std::uint32_t clientPid = 0;
    std::uint8_t optionFlags1 = 0;
    std::uint8_t optionFlags2 = 0;
    std::uint8_t typeFlags = 0;
    std::uint8_t optionFlags3 = 0;
    std::string hostName;
    std::string userName;
    std::string password;
    std::string appName;
    std::string serverName;
    std::string libraryName;
    std::string language;
    std::string database;
    bool integratedSecurity = false; // OptionFlags2 0x80 or an SSPI blob
    Bytes sspi;                      // the client's first security token
    bool readOnlyIntent = false;
    // The feature extension asks for UTF-8 collations (FeatureId 0x0A, UTF8_SUPPORT).
    bool utf8Support = false;
};

Login7 parseLogin7(const Bytes& payload);
// Reverses the client's password scrambling (XOR 0xA5, then swap nibbles).
std::string unscramblePassword(const std::uint8_t* data, std::size_t chars);

// Skips the ALL_HEADERS block of a 7.2+ request and returns the position after it.
std::size_t skipAllHeaders(const Bytes& payload, std::uint32_t tdsVersion);

std::string parseSqlBatch(const Bytes& payload, std::uint32_t tdsVersion);

// One RPC message may carry several calls.
std::vector<RpcCall> parseRpc(const Bytes& payload, std::uint32_t tdsVersion);

struct TransactionRequest {
    enum Kind : std::uint16_t {
        Begin = 5,
        Commit = 7,
        Rollback = 8,
        Save = 9,
    };
    std::uint16_t kind = 0;
    std::string name;
    bool beginNew = false; // commit/rollback flag 1: start the next transaction
};

TransactionRequest parseTransactionRequest(const Bytes& payload, std::uint32_t tdsVersion);

// Decodes a message of any type a client may send, discarding the result;
// throws ProtocolError like the individual parsers (for fuzzing).
void parseAnyRequest(std::uint8_t type, const Bytes& payload, std::uint32_t tdsVersion);

} // namespace tds
