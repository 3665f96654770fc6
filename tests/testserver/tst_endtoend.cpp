// tds-testserver against FreeTDS's own command-line clients and against a
// raw socket client that misbehaves.

#include "tests/support/testcerts.h"
#include "tests/support/testserver_fixture.h"
#include "tests/testserver/raw_client.h"
#include "tests/testserver/run_tool.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new TestServer({"--big-rows", "20000"}); }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }

    static TestServer& server() { return *s_server; }

    ToolResult tsql(const std::string& input, const std::string& password = {}) {
        return runTool({"tsql", "-H", "127.0.0.1", "-p", std::to_string(server().port()), "-U",
                        server().user(), "-P", password.empty() ? server().password() : password},
                       input + "\nexit\n");
    }

    // bsqldb prints rows on stdout, headings and messages on stderr.
    ToolResult bsqldb(const std::string& sql, const std::string& database = "master") {
        const std::string file = server().dataDir() + "/query.sql";
        std::ofstream(file) << sql << "\n";
        return runTool({"bsqldb", "-S", "127.0.0.1:" + std::to_string(server().port()), "-U",
                        server().user(), "-P", server().password(), "-D", database, "-i", file},
                       "");
    }

    static TestServer* s_server;
};

TestServer* EndToEnd::s_server = nullptr;

TEST_F(EndToEnd, TsqlLogsInAndRunsAQuery) {
    const ToolResult r = tsql("SELECT 42 AS antwort\ngo");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("antwort"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("42"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(1 row affected)"), std::string::npos) << r.out;
}

TEST_F(EndToEnd, WrongPasswordIsLoginFailed18456) {
    const ToolResult r = tsql("SELECT 1\ngo", server().password() + "x");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Msg 18456"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Login failed for user '" + server().user() + "'."), std::string::npos)
        << r.err;
}

TEST_F(EndToEnd, BsqldbSeesSeveralResultSetsAndMessages) {
    const ToolResult r =
        bsqldb("SELECT 1 AS erste\nPRINT 'zwischendurch'\nSELECT 'zwei' AS zweite, 3 AS dritte");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("erste"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("zweite"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("zwei"), std::string::npos) << r.out;
    // The message comes between the two result sets.
    const auto first = r.err.find("erste"), print = r.err.find("zwischendurch"),
               second = r.err.find("zweite");
    EXPECT_LT(first, print);
    EXPECT_LT(print, second);
}

TEST_F(EndToEnd, ServerErrorsKeepTheirNumbers) {
    struct Case {
        const char* sql;
        const char* msg;
    } cases[] = {
        {"SELECT * FROM GibtEsNicht", "Msg 208"},
        {"SELECT FROM x", "Msg 102"},
    };
    for (const Case& c : cases) {
        const ToolResult r = tsql(std::string(c.sql) + "\ngo\nSELECT 7 AS danach\ngo");
        EXPECT_NE(r.err.find(c.msg), std::string::npos) << c.sql << ": " << r.err;
        // The connection survives the error.
        EXPECT_NE(r.out.find("danach"), std::string::npos) << c.sql << ": " << r.out;
    }
}

TEST_F(EndToEnd, BsqldbStreamsALargeResult) {
    const ToolResult r = bsqldb("SELECT * FROM Messwerte", "Musterfirma");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("20000 rows affected"), std::string::npos) << r.err;
    EXPECT_EQ(countOf(r.out, "\n"), 20000);
}

TEST_F(EndToEnd, GarbageClosesOnlyThatConnection) {
    const tds::Bytes inputs[] = {
        {0x12, 0x01, 0x00, 0x04, 0, 0, 0, 0},                         // length below header size
        {0x10, 0x01, 0x00, 0x10, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, // LOGIN7 far too short
        packetize(tds::PacketSqlBatch, sqlBatchPayload("SELECT 1")),  // batch before login
    };
    for (const tds::Bytes& in : inputs) {
        RawClient c(server().port());
        c.sendBytes(in);
        EXPECT_TRUE(c.waitClosed());
    }
    // A client that stops in the middle of a packet, then vanishes.
    {
        RawClient c(server().port());
        tds::Bytes half = packetize(tds::PacketPrelogin, buildPrelogin());
        half.resize(half.size() / 2);
        c.sendBytes(half);
    }
    const ToolResult r = tsql("SELECT 5 AS weiter\ngo");
    EXPECT_NE(r.out.find("weiter"), std::string::npos) << r.err;
}

TEST_F(EndToEnd, ClientVanishingMidResultLeavesServerServing) {
    for (int round = 0; round < 3; ++round) {
        RawClient c(server().port());
        Login7Fields f;
        f.user = server().user();
        f.password = server().password();
        const tds::InMessage reply = c.login(f);
        ASSERT_EQ(reply.type, tds::PacketReply);
        c.send(tds::PacketSqlBatch, sqlBatchPayload("SELECT * FROM Musterfirma..Messwerte"));
        char buf[512];
        ASSERT_GT(::recv(c.fd(), buf, sizeof buf, 0), 0);
        c.close();
    }
    const ToolResult r = tsql("SELECT 6 AS weiter\ngo");
    EXPECT_NE(r.out.find("weiter"), std::string::npos) << r.err;
}

// A login that asks for UTF-8 collations gets FEATUREEXTACK after LOGINACK;
// one that does not gets none.
TEST_F(EndToEnd, Utf8SupportIsAcknowledgedWhenAskedFor) {
    const tds::Bytes ack = {0xAE, 0x0A, 0x01, 0x00, 0x00, 0x00, 0x01, 0xFF};
    for (const bool ask : {true, false}) {
        RawClient c(server().port());
        Login7Fields f;
        f.user = server().user();
        f.password = server().password();
        if (ask)
            f.featureExt = {0x0A, 0x01, 0x00, 0x00, 0x00, 0x01, 0xFF};
        const tds::InMessage reply = c.login(f);
        const bool acked = std::search(reply.payload.begin(), reply.payload.end(), ack.begin(),
                                       ack.end()) != reply.payload.end();
        EXPECT_EQ(acked, ask);
    }
}

TEST_F(EndToEnd, AttentionIsAcknowledgedAlsoWhenIdle) {
    RawClient c(server().port());
    Login7Fields f;
    f.user = server().user();
    f.password = server().password();
    c.login(f);
    c.send(tds::PacketAttention, {});
    tds::InMessage msg;
    ASSERT_TRUE(c.read(msg));
    EXPECT_TRUE(containsDone(msg.payload, tds::DoneAttn));
    // The connection is usable afterwards.
    c.send(tds::PacketSqlBatch, sqlBatchPayload("SELECT 1"));
    ASSERT_TRUE(c.read(msg));
    EXPECT_FALSE(containsDone(msg.payload, tds::DoneAttn));
}

bool endsWithAttentionAck(const tds::Bytes& p) {
    return p.size() >= 13 && p[p.size() - 13] == 0xFD && (p[p.size() - 12] & tds::DoneAttn);
}

TEST_F(EndToEnd, AttentionStopsAStreamingReply) {
    RawClient c(server().port());
    Login7Fields f;
    f.user = server().user();
    f.password = server().password();
    c.login(f);
    c.send(tds::PacketSqlBatch, sqlBatchPayload("SELECT * FROM Musterfirma..Messwerte"));
    // Wait until the reply streams (peek, so the packet reader keeps its framing).
    char first[64];
    ASSERT_GT(::recv(c.fd(), first, sizeof first, MSG_PEEK), 0);
    c.send(tds::PacketAttention, {});
    // The cancelled reply ends (its last DONE carries no attention flag), then the
    // acknowledgement comes as a message of its own: one DONE with the flag.
    tds::InMessage msg;
    bool acknowledged = false;
    for (int i = 0; i < 10 && !acknowledged; ++i) {
        ASSERT_TRUE(c.read(msg));
        acknowledged = endsWithAttentionAck(msg.payload);
        if (!acknowledged) {
            EXPECT_EQ(msg.payload.at(msg.payload.size() - 13), 0xFD);
        }
    }
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(msg.payload.size(), 13u);
    c.send(tds::PacketSqlBatch, sqlBatchPayload("SELECT 1"));
    ASSERT_TRUE(c.read(msg));
    EXPECT_FALSE(endsWithAttentionAck(msg.payload));
    EXPECT_EQ(msg.payload.back(), 0); // a plain final DONE
}

// Waits up to `ms` for the next bytes of the reply; true when some came.
bool replyArrives(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

TEST_F(EndToEnd, NowaitSendsTheReplySoFarWhileTheBatchGoesOn) {
    RawClient c(server().port());
    Login7Fields f;
    f.user = server().user();
    f.password = server().password();
    c.login(f);
    // PRINT alone waits in the reply, as SQL Server holds it, until the batch ends.
    c.send(tds::PacketSqlBatch,
           sqlBatchPayload("PRINT 'wartet'; WAITFOR DELAY '00:00:01'; SELECT 1"));
    EXPECT_FALSE(replyArrives(c.fd(), 400));
    tds::InMessage msg;
    ASSERT_TRUE(c.read(msg));

    // RAISERROR WITH NOWAIT sends it, and the PRINT before it, at once.
    c.send(tds::PacketSqlBatch, sqlBatchPayload("PRINT 'a'; RAISERROR('b', 0, 1) WITH NOWAIT; "
                                                "WAITFOR DELAY '00:00:02'; SELECT 1"));
    ASSERT_TRUE(replyArrives(c.fd(), 1500));
    std::uint8_t header[8];
    ASSERT_EQ(::recv(c.fd(), header, 8, MSG_WAITALL), 8);
    EXPECT_EQ(header[1], 0x00); // not the end of the message
    const std::size_t length = std::size_t(header[2]) << 8 | header[3];
    ASSERT_GT(length, 8u);
    tds::Bytes body(length - 8);
    ASSERT_EQ(::recv(c.fd(), body.data(), body.size(), MSG_WAITALL), ssize_t(body.size()));
    EXPECT_EQ(std::count(body.begin(), body.end(), std::uint8_t(0xAB)), 2); // two INFO tokens
    EXPECT_EQ(body[0], 0xAB);
    // The rest follows when the batch ends: the SELECT's result and its DONE.
    ASSERT_TRUE(c.read(msg));
    EXPECT_EQ(msg.payload.at(0), 0x81); // COLMETADATA
    EXPECT_EQ(msg.payload.at(msg.payload.size() - 13), 0xFD);
}

TEST_F(EndToEnd, SeverityTwentyEndsTheConnectionAfterTheError) {
    RawClient c(server().port());
    Login7Fields f;
    f.user = server().user();
    f.password = server().password();
    c.login(f);
    tds::InMessage msg;
    // Up to 19 the connection stays.
    c.send(tds::PacketSqlBatch, sqlBatchPayload("RAISERROR('schwer', 19, 1) WITH LOG"));
    ASSERT_TRUE(c.read(msg));
    EXPECT_TRUE(containsDone(msg.payload, tds::DoneError));
    c.send(tds::PacketSqlBatch, sqlBatchPayload("RAISERROR('fatal', 20, 1) WITH LOG; SELECT 1"));
    ASSERT_TRUE(c.read(msg));
    ASSERT_FALSE(msg.payload.empty());
    EXPECT_EQ(msg.payload[0], 0xAA); // 2745 "... SQL Server is terminating this process."
    EXPECT_TRUE(containsDone(msg.payload, tds::DoneSrvError));
    EXPECT_EQ(std::count(msg.payload.begin(), msg.payload.end(), std::uint8_t(0x81)), 0);
    EXPECT_TRUE(c.waitClosed());
}

TEST_F(EndToEnd, IntegratedLoginIsRefusedAndClosed) {
    RawClient c(server().port());
    Login7Fields f;
    f.optionFlags2 = 0x83;
    const tds::InMessage reply = c.login(f);
    ASSERT_FALSE(reply.payload.empty());
    EXPECT_EQ(reply.payload[0], 0xAA); // ERROR token first
    EXPECT_TRUE(containsDone(reply.payload, tds::DoneError));
    EXPECT_TRUE(c.waitClosed());
}

TEST_F(EndToEnd, RawLoginCarriesSpidAndPacketSize) {
    RawClient c(server().port());
    Login7Fields f;
    f.user = server().user();
    f.password = server().password();
    f.packetSize = 8192;
    c.send(tds::PacketPrelogin, buildPrelogin());
    // Look at the raw header of the login reply: SPID in bytes 4-5.
    tds::InMessage msg;
    ASSERT_TRUE(c.read(msg));
    c.send(tds::PacketLogin7, buildLogin7(f));
    std::uint8_t header[8];
    ASSERT_EQ(::recv(c.fd(), header, 8, MSG_WAITALL), 8);
    EXPECT_EQ(header[0], 0x04);
    EXPECT_GE((header[4] << 8) | header[5], 51);
}

TEST_F(EndToEnd, BrowserAnswersWithTheTcpPort) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(std::uint16_t(server().browserPort()));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::uint8_t req[] = {0x03};
    ASSERT_EQ(::sendto(fd, req, 1, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 1);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char buf[1024];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ::close(fd);
    ASSERT_GT(n, 3);
    EXPECT_EQ(std::uint8_t(buf[0]), 0x05);
    const std::string text(buf + 3, std::size_t(n - 3));
    EXPECT_NE(text.find(";tcp;" + std::to_string(server().port()) + ";;"), std::string::npos)
        << text;
}

// FreeTDS asks the browser on UDP 1434 only; this test runs where that port is free.
// A client that cannot encrypt (ENCRYPTION 0x02) and sends its login in
// clear: `on` lets it in, `required` answers 17835 and closes.
TEST(Encryption, ClientThatCannotEncryptIsRefusedOnlyWhenRequired) {
    const TestCertificates certs;
    for (const std::string mode : {"on", "required"}) {
        SCOPED_TRACE(mode);
        TestServer server(certs.serverArgs(mode));
        RawClient c(server.port());
        tds::Bytes prelogin = buildPrelogin();
        prelogin[26 + 6] = 0x02; // ENCRYPTION follows the option table and VERSION
        c.send(tds::PacketPrelogin, prelogin);
        tds::InMessage reply;
        ASSERT_TRUE(c.read(reply));
        ASSERT_GE(reply.payload.size(), 10u);
        ASSERT_EQ(reply.payload[5], 0x01); // the ENCRYPTION option
        const std::size_t at = (reply.payload[6] << 8) | reply.payload[7];
        ASSERT_LT(at, reply.payload.size());
        EXPECT_EQ(reply.payload[at], mode == "on" ? 0x01 : 0x03);

        Login7Fields f;
        f.user = server.user();
        f.password = server.password();
        c.send(tds::PacketLogin7, buildLogin7(f));
        ASSERT_TRUE(c.read(reply));
        ASSERT_FALSE(reply.payload.empty());
        if (mode == "on") {
            EXPECT_FALSE(containsDone(reply.payload, tds::DoneError));
        } else {
            EXPECT_EQ(reply.payload[0], 0xAA);
            EXPECT_EQ(reply.payload[3] | (reply.payload[4] << 8), 17835); // the error number
            EXPECT_TRUE(c.waitClosed());
        }
    }
}

TEST(BrowserOnDefaultPort, TsqlListsTheInstance) {
    std::unique_ptr<TestServer> fixed;
    try {
        fixed = std::make_unique<TestServer>(
            std::vector<std::string>{"--instance", "TWINST", "--browser-port", "1434"});
    } catch (const std::exception&) {
        GTEST_SKIP() << "UDP 127.0.0.1:1434 is not available";
    }
    const ToolResult r = runTool({"tsql", "-LH", "127.0.0.1"}, "");
    const std::string listed = r.out + r.err;
    EXPECT_NE(listed.find("InstanceName TWINST"), std::string::npos) << listed;
    EXPECT_NE(listed.find("tcp " + std::to_string(fixed->port())), std::string::npos) << listed;

    // And a connection by instance name finds the port through it.
    const ToolResult q =
        runTool({"tsql", "-S", "127.0.0.1\\TWINST", "-U", fixed->user(), "-P", fixed->password()},
                "SELECT 8 AS ueberinstanz\ngo\nexit\n");
    EXPECT_NE(q.out.find("ueberinstanz"), std::string::npos) << q.out << q.err;
}

TEST(LostServer, RestartsOnTheSamePortWithTheSameData) {
    TestServer s;
    const int port = s.port();
    s.stop();
    EXPECT_FALSE(s.isRunning());
    s.start();
    EXPECT_EQ(s.port(), port);
    const ToolResult r = runTool(
        {"tsql", "-H", "127.0.0.1", "-p", std::to_string(port), "-U", s.user(), "-P", s.password()},
        "SELECT 9 AS wieder\ngo\nexit\n");
    EXPECT_NE(r.out.find("wieder"), std::string::npos) << r.err;
}

} // namespace
