// libFuzzer entry for the packet layer and the request parsers. The first
// byte picks the TDS version; the rest is a packet stream.
#include "testserver/packet.h"
#include "testserver/requests.h"
#include "testserver/tokens.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint32_t version = data[0] & 1 ? tds::kTds74 : tds::kTds71;
    try {
        const tds::Bytes stream(data + 1, data + size);
        for (const tds::InMessage& m : tds::splitMessages(stream, 1 << 20))
            tds::parseAnyRequest(m.type, m.payload, version);
    } catch (const tds::ProtocolError&) {
    }
    return 0;
}
