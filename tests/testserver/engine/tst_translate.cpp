// T-SQL to SQLite rewriting, case by case.

#include "testserver/engine/translate.h"

#include <gtest/gtest.h>

using namespace tds::sql;

namespace {

struct Case {
    const char* tsql;
    const char* sqlite;
};

std::string translateOne(const std::string& text) {
    const LexResult lx = lex(text);
    EXPECT_FALSE(lx.error) << text;
    const auto sts = splitStatements(lx.tokens, text);
    EXPECT_EQ(sts.size(), 1u) << text;
    TranslateContext ctx;
    ctx.currentDb = "Musterfirma";
    ctx.schemaFor = [](const std::string& db) -> std::optional<std::string> {
        if (iequals(db, "Musterfirma"))
            return std::string();
        if (iequals(db, "master"))
            return std::string("master");
        return std::nullopt;
    };
    ctx.textColumns = [](const std::string&, const std::string& table) {
        return iequals(table, "Kunden") ? std::set<std::string>{"name", "ort"}
                                        : std::set<std::string>{};
    };
    ctx.isTextVariable = [](const std::string& v) { return v == "@s"; };
    if (sts[0].startsWith({"create", "table"}))
        return translateCreateTable(sts[0], ctx).sql;
    return translate(sts[0], ctx).sql;
}

class Translate : public ::testing::TestWithParam<Case> {};

TEST_P(Translate, Rewrites) {
    EXPECT_EQ(translateOne(GetParam().tsql), GetParam().sqlite);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Translate,
    ::testing::Values(
        // names
        Case{"SELECT * FROM [Kunden]", "SELECT * FROM \"Kunden\""},
        Case{"SELECT * from [Spezial]]Tabelle]", "SELECT * from \"Spezial]Tabelle\""},
        Case{"SELECT [a\"b] FROM t", "SELECT \"a\"\"b\" FROM t"},
        Case{"SELECT * FROM dbo.Kunden", "SELECT * FROM Kunden"},
        Case{"SELECT * FROM Musterfirma..Kunden", "SELECT * FROM Kunden"},
        Case{"SELECT * FROM [Musterfirma].[dbo].[Kunden] k", "SELECT * FROM \"Kunden\" k"},
        Case{"SELECT * FROM master.dbo.Kunden", "SELECT * FROM \"master\".Kunden"},
        Case{"SELECT k.Name, k.* FROM Kunden k", "SELECT k.Name, k.* FROM Kunden k"},
        Case{"select name from sysdatabases", "select name from \"sysdatabases\""},
        Case{"select name from master..sysdatabases", "select name from \"sysdatabases\""},
        Case{"select name from sys.databases", "select name from \"sys.databases\""},
        Case{"SELECT * FROM #tmp", "SELECT * FROM \"#tmp\""},
        // literals
        Case{"SELECT N'Müller', 'it''s'", "SELECT 'Müller', 'it''s'"},
        Case{"SELECT 0x0aFF, 0x", "SELECT X'0aFF', X''"},
        // TOP
        Case{"SELECT TOP 100 * from [Kunden]", "SELECT * from \"Kunden\" LIMIT 100"},
        Case{"SELECT TOP (5) Name FROM Kunden ORDER BY Name",
             "SELECT Name FROM Kunden ORDER BY Name LIMIT (5)"},
        Case{"SELECT DISTINCT TOP 3 Ort FROM Kunden", "SELECT DISTINCT Ort FROM Kunden LIMIT 3"},
        Case{"SELECT * FROM (SELECT TOP 2 * FROM Kunden) x",
             "SELECT * FROM (SELECT * FROM Kunden LIMIT 2) x"},
        Case{"SELECT TOP 100 PERCENT * FROM t", "SELECT * FROM t"},
        Case{"DELETE TOP (10) FROM t", "DELETE FROM t LIMIT (10)"},
        // functions
        Case{"SELECT GETDATE(), ISNULL(a, 0), LEN(b)", "SELECT GETDATE(), ifnull(a, 0), LEN(b)"},
        Case{"SELECT LEFT(Name, 2), RIGHT(Name, 1) FROM Kunden",
             "SELECT tds_left(Name, 2), tds_right(Name, 1) FROM Kunden"},
        Case{"SELECT CONVERT(varchar(10), d, 104)", "SELECT tds_convert('varchar(10)', d, 104)"},
        Case{"SELECT CAST(x AS nvarchar(max))", "SELECT tds_convert('nvarchar(-1)', x)"},
        Case{"SELECT DATEADD(day, 1, d)", "SELECT dateadd('day', 1, d)"},
        Case{"SELECT @@VERSION, @@spid", "SELECT tds_global('VERSION'), tds_global('SPID')"},
        Case{"SELECT CURRENT_TIMESTAMP", "SELECT getdate()"},
        // string concatenation
        Case{"SELECT Name + ', ' + Ort FROM Kunden", "SELECT Name || ', ' || Ort FROM Kunden"},
        Case{"SELECT Name + Ort FROM Kunden", "SELECT Name || Ort FROM Kunden"},
        Case{"SELECT Nr + 1 FROM Kunden", "SELECT Nr + 1 FROM Kunden"},
        Case{"SELECT a + b, 'x' + c FROM t", "SELECT a + b, 'x' || c FROM t"},
        Case{"SELECT @s + 'x', @n + 1", "SELECT @s || 'x', @n + 1"},
        Case{"SELECT 'Nr. ' + CAST(Nr AS varchar(10)) FROM t",
             "SELECT 'Nr. ' || tds_convert('varchar(10)', Nr) FROM t"},
        Case{"SELECT (Nr + 1) * 2 FROM t WHERE Name = 'a' + 'b'",
             "SELECT (Nr + 1) * 2 FROM t WHERE Name = 'a' || 'b'"},
        // hints and T-SQL short forms
        Case{"SELECT * FROM t WITH (NOLOCK) WHERE a = 1", "SELECT * FROM t WHERE a = 1"},
        Case{"SELECT * FROM t (nolock)", "SELECT * FROM t"},
        Case{"INSERT t VALUES (1)", "INSERT INTO t VALUES (1)"},
        Case{"DELETE t WHERE a = 1", "DELETE FROM t WHERE a = 1"},
        Case{"SELECT a FROM t OPTION (MAXDOP 1)", "SELECT a FROM t"},
        Case{"SELECT a FROM t WHERE a !< 3", "SELECT a FROM t WHERE a >= 3"},
        // CREATE TABLE
        Case{"CREATE TABLE dbo.T (Id int IDENTITY(1,1) NOT NULL PRIMARY KEY, Name nvarchar(50) "
             "NULL)",
             "CREATE TABLE T (\"Id\" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, \"Name\" "
             "nvarchar(50) NULL COLLATE SQL_Latin1_General_CP1_CI_AS)"},
        Case{"CREATE TABLE [T] ([Id] [int] IDENTITY(1,1) NOT NULL, [Text] [varchar](max), "
             "CONSTRAINT [PK_T] PRIMARY KEY CLUSTERED ([Id] ASC) ON [PRIMARY]) ON [PRIMARY] "
             "TEXTIMAGE_ON [PRIMARY]",
             "CREATE TABLE \"T\" (\"Id\" INTEGER CONSTRAINT \"PK_T\" PRIMARY KEY AUTOINCREMENT NOT "
             "NULL, \"Text\" varchar(-1) COLLATE SQL_Latin1_General_CP1_CI_AS)"},
        Case{"CREATE TABLE t (a decimal(10, 2) DEFAULT 0, d datetime DEFAULT getdate(), g "
             "uniqueidentifier ROWGUIDCOL DEFAULT NEWID())",
             "CREATE TABLE t (\"a\" decimal text(10,2) DEFAULT 0 COLLATE tds_decimal, \"d\" "
             "datetime "
             "DEFAULT (getdate()) COLLATE tds_datetime, \"g\" uniqueidentifier DEFAULT (NEWID()) "
             "COLLATE NOCASE)"},
        Case{"CREATE TABLE #t (a int)", "CREATE TEMP TABLE \"#t\" (\"a\" int)"},
        Case{"CREATE TABLE t (a int, b int, CONSTRAINT PK_t PRIMARY KEY NONCLUSTERED (a, b), "
             "CONSTRAINT FK_t FOREIGN KEY (b) REFERENCES dbo.u (id) ON DELETE CASCADE)",
             "CREATE TABLE t (\"a\" int, \"b\" int, CONSTRAINT PK_t PRIMARY KEY (a, b), CONSTRAINT "
             "FK_t FOREIGN KEY (b) REFERENCES u (id) ON DELETE CASCADE)"}));

struct SplitCase {
    const char* batch;
    std::vector<std::string> firstWords;
};

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, FindsStatementBoundaries) {
    const std::string text = GetParam().batch;
    const LexResult lx = lex(text);
    const auto sts = splitStatements(lx.tokens, text);
    std::vector<std::string> words;
    for (const auto& s : sts)
        words.push_back(toLower(s.toks[0].text));
    EXPECT_EQ(words, GetParam().firstWords) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Split,
    ::testing::Values(
        SplitCase{"select 1; select 2", {"select", "select"}},
        SplitCase{"select 1 select 2", {"select", "select"}},
        SplitCase{"select 1\nunion all select 2", {"select"}},
        SplitCase{"insert into t select a from u select 1", {"insert", "select"}},
        SplitCase{"insert into t (a) values (1) select * from t", {"insert", "select"}},
        SplitCase{"update t set a = 1 where b in (select b from u) delete from t",
                  {"update", "delete"}},
        SplitCase{"create view v as select a from t", {"create"}},
        SplitCase{"create table t (a int references u on delete cascade) insert t values (1)",
                  {"create", "insert"}},
        SplitCase{"select case when a = 1 then 'x' else 'y' end from t", {"select"}},
        SplitCase{"if exists (select * from t) drop table t else print 'nein'",
                  {"if", "drop", "else", "print"}},
        SplitCase{"drop table if exists t create table t (a int)", {"drop", "create"}},
        SplitCase{"begin tran insert into t values (1) commit", {"begin", "insert", "commit"}},
        SplitCase{"declare @a int set @a = 5 select @a", {"declare", "set", "select"}},
        SplitCase{"alter table t drop column c", {"alter"}},
        SplitCase{"with x as (select 1 a) select * from x", {"with"}},
        SplitCase{"set identity_insert t on insert into t (id) values (5)", {"set", "insert"}},
        SplitCase{"select 'a;b' ; ; select [c;d] from t", {"select", "select"}},
        SplitCase{"-- nur ein Kommentar\n", {}}));

TEST(Lexer, ReportsUnclosedQuotesAndComments) {
    auto r = lex("select 'abc");
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->rest, "abc");
    EXPECT_FALSE(r.error->comment);
    r = lex("select [abc");
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->rest, "abc");
    r = lex("select 1 /* a /* b */");
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(r.error->comment);
    r = lex("select 1 /* a /* b */ */ -- 'x\n");
    EXPECT_FALSE(r.error);
}

TEST(Lexer, TokenValuesUndoEscapes) {
    const auto r = lex("[a]]b] \"c\"\"d\" 'e''f' N'g'");
    std::vector<std::string> values;
    for (const auto& t : r.tokens)
        if (!t.isTrivia())
            values.push_back(t.value());
    EXPECT_EQ(values, (std::vector<std::string>{"a]b", "c\"d", "e'f", "g"}));
}

} // namespace
