// Deterministic mutation test of the packet layer and the request parsers:
// valid messages are damaged in many ways, and every damaged input must
// either parse or be refused with ProtocolError (no crash, no other
// exception, no runaway allocation). Bounded in count and in time.

#include "tests/testserver/raw_client.h"
#include "testserver/packet.h"
#include "testserver/requests.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace tds;

namespace {

// xorshift64*: the same sequence on every run.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : m_s(seed ? seed : 1) {}
    std::uint64_t next() {
        m_s ^= m_s >> 12;
        m_s ^= m_s << 25;
        m_s ^= m_s >> 27;
        return m_s * 2685821657736338717ULL;
    }
    std::size_t below(std::size_t n) { return n ? std::size_t(next() % n) : 0; }

private:
    std::uint64_t m_s;
};

Bytes mutate(Bytes b, Rng& rng) {
    const int edits = 1 + int(rng.below(4));
    for (int e = 0; e < edits; ++e) {
        switch (rng.below(7)) {
        case 0: // flip a bit
            if (!b.empty())
                b[rng.below(b.size())] ^= std::uint8_t(1u << rng.below(8));
            break;
        case 1: // set a byte to an edge value
            if (!b.empty()) {
                const std::uint8_t edge[] = {0x00, 0xFF, 0x7F, 0x80, 0xFE, 0x01};
                b[rng.below(b.size())] = edge[rng.below(sizeof edge)];
            }
            break;
        case 2: // truncate
            b.resize(rng.below(b.size() + 1));
            break;
        case 3: // insert random bytes
        {
            const std::size_t at = rng.below(b.size() + 1);
            const std::size_t n = 1 + rng.below(8);
            for (std::size_t k = 0; k < n; ++k)
                b.insert(b.begin() + long(at), std::uint8_t(rng.next()));
            break;
        }
        case 4: // overwrite a 16- or 32-bit field with a huge length
            if (b.size() >= 4) {
                const std::size_t at = rng.below(b.size() - 3);
                for (int k = 0; k < (rng.below(2) ? 2 : 4); ++k)
                    b[at + std::size_t(k)] = 0xFF;
            }
            break;
        case 5: // duplicate a slice
            if (!b.empty()) {
                const std::size_t from = rng.below(b.size());
                const std::size_t n = 1 + rng.below(std::min<std::size_t>(32, b.size() - from));
                Bytes slice(b.begin() + long(from), b.begin() + long(from + n));
                b.insert(b.begin() + long(rng.below(b.size() + 1)), slice.begin(), slice.end());
            }
            break;
        default: // delete a byte
            if (!b.empty())
                b.erase(b.begin() + long(rng.below(b.size())));
            break;
        }
    }
    return b;
}

Bytes rpcSeed() {
    Bytes b = allHeaders();
    putU16(b, 0xFFFF);
    putU16(b, 10);
    putU16(b, 0);
    const std::uint8_t params[] = {
        0x00, 0x00, 0x63, 0x04, 0,    0,    0,    0x09, 0x04, 0xD0, 0x00, 0x34, 0x04, 0,
        0,    0,    'a',  0,    'b',  0,    0x00, 0x00, 0x26, 0x04, 0x04, 1,    2,    3,
        4,    0x00, 0x01, 0xE7, 0xFF, 0xFF, 0x09, 0x04, 0xD0, 0x00, 0x34, 2,    0,    0,
        0,    0,    0,    0,    0,    2,    0,    0,    0,    'x',  0,    0,    0,    0,
        0,    0x00, 0x00, 0x6A, 0x09, 0x12, 0x04, 0x09, 0x01, 1,    2,    3,    4,    5,
        6,    7,    8,    0x00, 0x00, 0x2B, 0x07, 0x0A, 1,    2,    3,    4,    5,    6,
        7,    8,    0x78, 0x00, 0x00, 0x00, 0x62, 0x49, 0x1F, 0,    0,    0x0B, 0,    0,
        0,    0xA7, 0x07, 0x09, 0x04, 0xD0, 0x00, 0x34, 0x02, 0x00, 'h',  'i',  0xFF, 0x09,
        0x00, 's',  0,    'p',  0,    '_',  0,    'e',  0,    'x',  0,    'e',  0,    'c',
        0,    'u',  0,    't',  0,    0x00, 0x00, 0x00, 0x00, 0x24, 0x10, 0x10, 1,    2,
        3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,   16,
    };
    b.insert(b.end(), std::begin(params), std::end(params));
    return b;
}

struct Seed {
    std::uint8_t type;
    Bytes payload;
};

std::vector<Seed> seeds() {
    Login7Fields f;
    f.user = "anna";
    f.password = "geheim";
    f.database = "Musterfirma";
    Bytes tm = allHeaders();
    const std::uint8_t commit[] = {0x07, 0x00, 0x00, 0x01, 0x00, 0x00};
    tm.insert(tm.end(), std::begin(commit), std::end(commit));
    return {
        {PacketPrelogin, buildPrelogin()},
        {PacketLogin7, buildLogin7(f)},
        {PacketSqlBatch, sqlBatchPayload("SELECT * FROM Kunden WHERE Name = N'Müller'")},
        {PacketRpc, rpcSeed()},
        {PacketTransaction, tm},
    };
}

TEST(Fuzz, SeedsAreValid) {
    for (const Seed& s : seeds())
        EXPECT_NO_THROW(parseAnyRequest(s.type, s.payload, kTds74)) << int(s.type);
}

TEST(Fuzz, DamagedRequestsAreParsedOrRefused) {
    constexpr int kPerSeed = 6000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    Rng rng(0x5EED1234ABCDULL);
    int refused = 0, parsed = 0;
    for (const Seed& s : seeds()) {
        for (int i = 0; i < kPerSeed && std::chrono::steady_clock::now() < deadline; ++i) {
            const Bytes input = mutate(s.payload, rng);
            try {
                parseAnyRequest(s.type, input, rng.below(4) ? kTds74 : kTds71);
                ++parsed;
            } catch (const ProtocolError&) {
                ++refused;
            }
        }
    }
    // Both outcomes occur: the mutations reach past the first length check.
    EXPECT_GT(refused, 100);
    EXPECT_GT(parsed, 100);
}

TEST(Fuzz, DamagedPacketStreamsAreReassembledOrRefused) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    Rng rng(0xFEEDULL);
    for (const Seed& s : seeds()) {
        const Bytes stream = packetize(s.type, s.payload, 64);
        for (int i = 0; i < 3000 && std::chrono::steady_clock::now() < deadline; ++i) {
            try {
                for (const InMessage& m : splitMessages(mutate(stream, rng), 1 << 16))
                    parseAnyRequest(m.type, m.payload, kTds74);
            } catch (const ProtocolError&) {
            }
        }
    }
}

} // namespace
