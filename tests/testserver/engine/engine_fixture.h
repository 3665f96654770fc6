#pragma once
// A session over a fresh data folder, logged in, with helpers to run SQL.

#include "tests/testserver/engine/recording_sink.h"

#include <gtest/gtest.h>

namespace tds::test {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        config.dataDir = dir.path();
        config.logins["tester"] = "Geheim1!";
        session = std::make_unique<Session>(config);
        const LoginResult r = session->login("tester", "Geheim1!", "");
        ASSERT_TRUE(r.ok);
    }

    // Runs a batch and returns what came back.
    RecordingSink& run(const std::string& sql) {
        sink.clear();
        session->executeBatch(sql, sink, cancel);
        return sink;
    }

    // Runs a batch that must succeed and returns its first result set's rows.
    std::vector<std::vector<Value>> rows(const std::string& sql) {
        run(sql);
        EXPECT_TRUE(sink.errors().empty())
            << sql << ": " << (sink.errors().empty() ? "" : sink.errors()[0].text);
        const auto rs = sink.results();
        return rs.empty() ? std::vector<std::vector<Value>>{} : rs[0].rows;
    }

    // The single value of a one-row, one-column query.
    Value scalar(const std::string& sql) {
        const auto r = rows(sql);
        if (r.empty() || r[0].empty()) {
            ADD_FAILURE() << "no value from " << sql;
            return Null{};
        }
        return r[0][0];
    }

    // The first error of a batch that must fail.
    tds::Message error(const std::string& sql) {
        run(sql);
        const auto e = sink.errors();
        if (e.empty()) {
            ADD_FAILURE() << "no error from " << sql;
            return {};
        }
        return e[0];
    }

    TempDir dir;
    ServerConfig config;
    std::unique_ptr<Session> session;
    RecordingSink sink;
    std::atomic<bool> cancel{false};
};

} // namespace tds::test
