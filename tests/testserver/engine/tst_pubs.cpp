// A real install script (the pubs sample database) runs unchanged, batch by
// batch as a client splits it at GO lines, and leaves the database a SQL
// Server would leave.

#include "tests/testserver/engine/engine_fixture.h"

#include <fstream>
#include <sstream>

using namespace tds;
using namespace tds::test;

namespace {

// Splits a script at lines that hold only GO, as the command-line clients do.
std::vector<std::string> batches(const std::string& script) {
    std::vector<std::string> out;
    std::istringstream in(script);
    std::string line, cur;
    while (std::getline(in, line)) {
        std::string t = line;
        while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back())))
            t.pop_back();
        std::size_t b = 0;
        while (b < t.size() && std::isspace(static_cast<unsigned char>(t[b])))
            ++b;
        t = t.substr(b);
        if (t.size() == 2 && std::tolower(static_cast<unsigned char>(t[0])) == 'g' &&
            std::tolower(static_cast<unsigned char>(t[1])) == 'o') {
            if (cur.find_first_not_of(" \t\r\n") != std::string::npos)
                out.push_back(cur);
            cur.clear();
        } else {
            cur += line + "\n";
        }
    }
    if (cur.find_first_not_of(" \t\r\n") != std::string::npos)
        out.push_back(cur);
    return out;
}

class Pubs : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        std::ifstream f(TDS_PUBS_SCRIPT, std::ios::binary);
        ASSERT_TRUE(f) << TDS_PUBS_SCRIPT;
        std::stringstream ss;
        ss << f.rdbuf();
        const auto all = batches(ss.str());
        ASSERT_EQ(all.size(), 76u);
        for (std::size_t i = 0; i < all.size(); ++i) {
            run(all[i]);
            const auto e = sink.errors();
            if (!e.empty())
                ADD_FAILURE() << "batch " << i + 1 << ": " << e[0].number << " line " << e[0].line
                              << ": " << e[0].text << "\n"
                              << all[i].substr(0, 200);
        }
        EXPECT_EQ(session->currentDatabase(), "master"); // the script ends there
        run("use pubs");
    }

    std::int64_t count(const std::string& table) {
        return integer(scalar("select count(*) from " + table));
    }
};

TEST_F(Pubs, EveryBatchRunsAndLeavesTheSampleData) {
    EXPECT_EQ(count("titles"), 18);
    EXPECT_EQ(count("authors"), 23);
    EXPECT_EQ(count("sales"), 21);
    EXPECT_EQ(count("publishers"), 8);
    EXPECT_EQ(count("employee"), 43);
    EXPECT_EQ(count("jobs"), 14);
    EXPECT_EQ(count("titleauthor"), 25);
    EXPECT_EQ(count("roysched"), 86);
    EXPECT_EQ(count("pub_info"), 8);
    EXPECT_EQ(count("discounts"), 3);
    EXPECT_EQ(count("stores"), 6);

    // The procedures answer as they do on a SQL Server.
    const auto roy = rows("exec byroyalty 40");
    ASSERT_EQ(roy.size(), 3u);
    EXPECT_EQ(text(roy[0][0]), "213-46-8915");
    EXPECT_EQ(text(roy[1][0]), "267-41-2394");
    EXPECT_EQ(text(roy[2][0]), "672-71-3249");

    run("exec reptq1");
    ASSERT_TRUE(sink.errors().empty());
    const auto rep = sink.results();
    ASSERT_EQ(rep.size(), 1u);
    // One row per publisher, their ROLLUP subtotals and the grand total.
    EXPECT_EQ(rep[0].rows.size(), 4u);
    EXPECT_EQ(text(rep[0].rows.back()[0]), "ALL");
    EXPECT_DOUBLE_EQ(std::stod(text(rep[0].rows.back()[1])), 14.7662);
    EXPECT_EQ(text(rep[0].rows.front()[0]), "0736");

    const auto view = rows("select * from titleview");
    EXPECT_EQ(view.size(), 25u);
}

TEST_F(Pubs, TheEmployeeTriggerRefusesAJobLevelOutOfRange) {
    // Job 7 ranges from 120 to 200: the trigger raises and rolls back.
    run("insert employee (emp_id, fname, lname, job_id, job_lvl) "
        "values ('ZZZ12345M', 'Paul', 'Hagen', 7, 50)");
    const auto e = sink.errors();
    ASSERT_FALSE(e.empty());
    EXPECT_EQ(e[0].number, 50000);
    EXPECT_EQ(e[0].text, "The level for job_id:7 should be between 120 and 200.");
    // The rollback inside the trigger ends the batch, as SQL Server says.
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].number, 3609);
    EXPECT_EQ(e[1].text, "The transaction ended in the trigger. The batch has been aborted.");
    EXPECT_EQ(count("employee where emp_id = 'ZZZ12345M'"), 0);
    EXPECT_EQ(integer(scalar("select @@trancount")), 0);
}

} // namespace
