// Alias types, identity columns on INSERT, per-table index names, triggers,
// grouping sets and schemas: what an install script needs beyond plain tables.

#include "tests/testserver/engine/engine_fixture.h"

using namespace tds;
using namespace tds::test;

namespace {

using Ddl = EngineTest;

TEST_F(Ddl, AliasTypesStandForTheirBaseTypeAndNullability) {
    run("exec sp_addtype code, 'varchar(3)', 'NOT NULL'");
    ASSERT_TRUE(sink.errors().empty());
    run("create type note from varchar(10) null");
    ASSERT_TRUE(sink.errors().empty());
    run("create table t (c code, n note, m code null)");
    ASSERT_TRUE(sink.errors().empty());
    // NOT NULL from the type, NULL where the column says so; the length holds.
    EXPECT_EQ(error("insert t (n) values ('x')").number, 515);
    EXPECT_EQ(error("insert t values ('abcd', null, null)").number, 8152);
    run("insert t values ('abc', null, null)");
    EXPECT_TRUE(sink.errors().empty());
    // Taken names, unknown base types and types that do not exist.
    EXPECT_EQ(error("exec sp_addtype code, 'int'").number, 2714);
    EXPECT_EQ(error("exec sp_addtype other, 'nosuchtype'").number, 243);
    const auto e = error("create table u (a int, b nosuchtype)");
    EXPECT_EQ(e.number, 2715);
    EXPECT_EQ(e.text, "Column, parameter, or variable #2: Cannot find data type nosuchtype.");
    // A type in use stays; an unused one goes.
    EXPECT_EQ(error("drop type code").number, 3732);
    run("drop table t; drop type code; exec sp_droptype note");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("drop type code").number, 218);
    // The engine's own tables are no user tables.
    EXPECT_EQ(integer(scalar("select count(*) from sysobjects where type = 'U'")), 0);
}

TEST_F(Ddl, InsertLeavesTheIdentityColumnToTheServer) {
    run("create table j (id smallint identity(1,1) primary key, d varchar(10), lo int)");
    run("insert j values ('a', 10) insert j values ('b', 20)");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(integer(scalar("select max(id) from j")), 2);
    auto e = error("insert j (id, d, lo) values (9, 'c', 1)");
    EXPECT_EQ(e.number, 544);
    EXPECT_EQ(e.text, "Cannot insert explicit value for identity column in table 'j' when "
                      "IDENTITY_INSERT is set to OFF.");
    run("set identity_insert j on insert j (id, d, lo) values (9, 'c', 1)");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("insert j values (10, 'd', 1)").number, 8101);
    run("create table k (id int identity, x int)");
    EXPECT_EQ(error("set identity_insert k on").number, 8107);
    run("create table plain (x int)");
    EXPECT_EQ(error("set identity_insert plain on").number, 8106);
    run("set identity_insert j off insert j values ('e', 5)");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(integer(scalar("select max(id) from j")), 10);
}

// A timestamp column takes only its own values; DEFAULT in VALUES leaves a
// column to its default; the counts are the statement's rows, not the
// server's own writes that follow them (a new row version, recoded text).
TEST_F(Ddl, TimestampColumnsAndDefaultsInValues) {
    run("create table rv (id int primary key, a int default 7, s varchar(10), ts rowversion)");
    ASSERT_TRUE(sink.errors().empty());
    auto e = error("insert rv (id, a, ts) values (1, 1, 0x01)");
    EXPECT_EQ(e.number, 273);
    EXPECT_EQ(e.text, "Cannot insert an explicit value into a timestamp column. Use INSERT with a "
                      "column list to exclude the timestamp column, or insert a DEFAULT into "
                      "the timestamp column.");
    EXPECT_EQ(error("insert rv values (2, 2, 'x', 0x02)").number, 273);
    run("insert rv (id, a, ts) values (3, 3, default)"
        " insert rv values (4, default, 'y', default), (5, default, 'z', default)"
        " insert rv (id, a) values (6, default)"
        " insert rv (id, a, s) values (7, default, 'p'), (8, 8, default), (9, -1, 'q')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(integer(scalar("select count(*) from rv where a = 7")), 4);
    EXPECT_EQ(integer(scalar("select count(*) from rv where s is null and id > 6")), 1);
    EXPECT_EQ(integer(scalar("select count(distinct ts) from rv")), 7);
    EXPECT_EQ(integer(scalar("select count(*) from rv where ts > 0x00")), 7);
    e = error("update rv set ts = 0x05 where id = 3");
    EXPECT_EQ(e.number, 272);
    EXPECT_EQ(e.text, "Cannot update a timestamp column.");
    // @@DBTS is the last row version handed out.
    run("update rv set s = N'\xD0\x96' where id in (3, 4)");
    ASSERT_EQ(sink.dones().size(), 1u);
    EXPECT_EQ(sink.dones()[0]->count, 2u);
    EXPECT_EQ(scalar("select @@dbts"), scalar("select max(ts) from rv"));
    EXPECT_EQ(scalar("select s from rv where id = 3"), Value(std::string("?")));
}

// Generated scripts add defaults after the table: ADD [CONSTRAINT n] DEFAULT x FOR c.
TEST_F(Ddl, AlterTableAddsAndDropsDefaults) {
    run("create table dt (id int primary key, a int, s varchar(10) not null, d datetime)"
        " insert dt (id, s) values (1, 'x')"
        " alter table dt add constraint DF_dt_a default ((42)) for a"
        " alter table [dbo].[dt] add default (getdate()) for [d]"
        " alter table dt add default 'q' for s with values");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("insert dt (id) values (2)");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    auto r = rows("select a, s, case when d is null then 0 else 1 end from dt order by id");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_TRUE(isNull(r[0][0])); // rows already there keep their values
    EXPECT_EQ(r[1], (std::vector<Value>{std::int64_t(42), std::string("q"), std::int64_t(1)}));
    run("alter table dt add constraint DF_2 default 1 for a");
    ASSERT_EQ(sink.errors().size(), 2u);
    EXPECT_EQ(sink.errors()[0].number, 1781);
    EXPECT_EQ(sink.errors()[1].number, 1750);
    EXPECT_EQ(error("alter table dt add default 0 for nope").number, 1752);
    run("alter table dt drop constraint DF_dt_a insert dt (id, s) values (3, 'z')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_TRUE(isNull(scalar("select a from dt where id = 3")));
}

TEST_F(Ddl, IndexNamesAreUniquePerTable) {
    run("create table a (x int) create table b (x int)"
        " create index ix on a (x) create index ix on b (x)");
    ASSERT_TRUE(sink.errors().empty());
    const auto e = error("create index ix on b (x)");
    EXPECT_EQ(e.number, 1913);
    EXPECT_EQ(e.text, "The operation failed because an index or statistics with name 'ix' "
                      "already exists on table 'dbo.b'.");
    run("drop index b.ix");
    EXPECT_TRUE(sink.errors().empty());
    run("create index ix on b (x)"); // the name is free again on b, still taken on a
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("create index ix on a (x)").number, 1913);
}

// Generated scripts make an index only when sys.indexes does not list it.
TEST_F(Ddl, SysIndexesListsKeysIndexesAndHeaps) {
    run("create table k2 (id int identity not null, name nvarchar(50), nr int,"
        " constraint PK_k2 primary key clustered (id), constraint UQ_nr unique (nr))"
        " create table heap1 (a int)");
    const std::string ifMissing =
        "if not exists (select * from sys.indexes where object_id = object_id(N'[dbo].[k2]')"
        " and name = N'IX_k2_name') create nonclustered index IX_k2_name on k2 (name asc)";
    run(ifMissing);
    run(ifMissing);
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("create unique index IX_k2_name on heap1 (a)");
    const auto r = rows("select object_name(object_id), name, index_id, type_desc, is_unique,"
                        " is_primary_key, is_unique_constraint from sys.indexes"
                        " where object_id in (object_id('k2'), object_id('heap1'))"
                        " order by object_id, index_id");
    using V = std::vector<Value>;
    const std::int64_t no = 0, yes = 1;
    EXPECT_EQ(r, (std::vector<V>{V{std::string("k2"), std::string("PK_k2"), std::int64_t(1),
                                   std::string("CLUSTERED"), yes, yes, no},
                                 V{std::string("k2"), std::string("UQ_nr"), std::int64_t(2),
                                   std::string("NONCLUSTERED"), yes, no, yes},
                                 V{std::string("k2"), std::string("IX_k2_name"), std::int64_t(3),
                                   std::string("NONCLUSTERED"), no, no, no},
                                 V{std::string("heap1"), Null{}, std::int64_t(0),
                                   std::string("HEAP"), no, no, no},
                                 V{std::string("heap1"), std::string("IX_k2_name"), std::int64_t(2),
                                   std::string("NONCLUSTERED"), yes, no, no}}));
}

// Generated scripts look for each constraint before adding it: by OBJECT_ID
// in sysobjects, or in the constraint views.
TEST_F(Ddl, ConstraintsAreObjectsOfTheCatalog) {
    run("create table p1 (id int primary key, code char(3) not null constraint UQ_code unique)"
        " create table c1 (id int not null, pid int not null constraint FK_c1_p1 references"
        " p1 (id), qty int default 1 check (qty > 0), note varchar(10) constraint DF_note"
        " default ('x'), constraint CK_c1 check (id < 1000), constraint PK_c1 primary key (id))");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    using V = std::vector<Value>;
    const Value c1 = scalar("select object_id('c1')");
    // An unnamed constraint's name ends in hex digits of its own.
    const std::string shown = "case when is_system_named = 1 then left(name, 13) + '...' + "
                              "cast(len(name) as varchar) else name end";
    EXPECT_EQ(rows("select " + shown +
                   ", parent_column_id, definition, is_system_named"
                   " from sys.default_constraints where parent_object_id = object_id('c1')"
                   " order by parent_column_id"),
              (std::vector<V>{V{std::string("DF__c1__qty__...21"), std::int64_t(3),
                                std::string("((1))"), std::int64_t(1)},
                              V{std::string("DF_note"), std::int64_t(4), std::string("('x')"),
                                std::int64_t(0)}}));
    EXPECT_EQ(rows("select " + shown +
                   ", parent_column_id from sys.check_constraints"
                   " where parent_object_id = object_id('c1') order by name"),
              (std::vector<V>{V{std::string("CK__c1__qty__...21"), std::int64_t(3)},
                              V{std::string("CK_c1"), std::int64_t(0)}}));
    EXPECT_EQ(rows("select name, object_name(referenced_object_id) from sys.foreign_keys"
                   " where parent_object_id = object_id('c1')"),
              (std::vector<V>{V{std::string("FK_c1_p1"), std::string("p1")}}));
    EXPECT_EQ(
        rows("select name, type, unique_index_id from sys.key_constraints"
             " where parent_object_id = object_id('p1') order by name"),
        (std::vector<V>{V{std::string("PK__p1__7C8480AE"), std::string("PK"), std::int64_t(1)},
                        V{std::string("UQ_code"), std::string("UQ"), std::int64_t(2)}}));
    // OBJECT_ID and OBJECT_NAME know them; sysobjects lists them under their table.
    EXPECT_EQ(scalar("select object_name(object_id(N'[dbo].[DF_note]'))"),
              Value(std::string("DF_note")));
    EXPECT_TRUE(isNull(scalar("select object_id('DF_note', 'C')")));
    EXPECT_EQ(scalar("select parent_obj from sysobjects where id = object_id('PK_c1')"), c1);
    EXPECT_EQ(rows("select constraint_name, constraint_type from"
                   " information_schema.table_constraints where table_name = 'c1'"
                   " and constraint_name not like 'CK__c1__%' order by constraint_type"),
              (std::vector<V>{V{std::string("CK_c1"), std::string("CHECK")},
                              V{std::string("FK_c1_p1"), std::string("FOREIGN KEY")},
                              V{std::string("PK_c1"), std::string("PRIMARY KEY")}}));
    run("if not exists (select * from dbo.sysobjects where id = object_id(N'[DF_note]')"
        " and type = 'D') alter table c1 add constraint DF_note default ('y') for note");
    EXPECT_TRUE(sink.errors().empty());
    // sp_help names them alike.
    run("exec sp_help 'c1'");
    std::vector<std::string> named;
    for (const auto& rs : sink.results())
        for (const auto& r : rs.rows)
            if (r.size() > 1 && text(r[0]).starts_with("DEFAULT on column note"))
                named.push_back(text(r[1]));
    EXPECT_EQ(named, std::vector<std::string>{"DF_note"});
}

// sp_rename: the column or table gets its new name, its checks and triggers go along.
TEST_F(Ddl, SpRenameRenamesColumnsAndTables) {
    run("create table k3 (id int primary key, name varchar(5), ts rowversion)"
        " create trigger k3_ins on k3 for insert as print 'ins'");
    run("exec sp_rename 'k3.name', 'nachname', 'COLUMN'");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    ASSERT_FALSE(sink.messages().empty());
    EXPECT_EQ(sink.messages()[0].number, 15477);
    EXPECT_EQ(error("exec sp_rename 'dbo.k3.nope', 'x', 'COLUMN'").number, 15248);
    EXPECT_EQ(error("insert k3 (id, nachname) values (1, 'abcdefgh')").number, 8152);
    run("exec sp_rename 'k3', 'k4'");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(error("insert k4 (id, nachname) values (2, 'abcdefgh')").number, 8152);
    run("insert k4 (id, nachname) values (3, 'ab')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(sink.messages().size(), 1u); // the trigger's PRINT
    const Value before = scalar("select ts from k4");
    run("update k4 set nachname = 'zz'");
    EXPECT_NE(scalar("select ts from k4"), before); // a new row version
    EXPECT_EQ(scalar("select object_name(parent_obj) from sysobjects where name = 'k3_ins'"),
              Value(std::string("k4")));
    run("create table taken (x int)");
    EXPECT_EQ(error("exec sp_rename 'k4', 'taken'").number, 15335);
}

// CREATE OR ALTER VIEW and ALTER VIEW replace a view; a view whose query
// names what is not there is refused and the old one stays.
TEST_F(Ddl, ViewsAreCheckedAndCanBeReplaced) {
    run("create table vt (a int) insert vt values (7)");
    run("create or alter view dbo.v1 as select a from vt");
    run("create or alter view dbo.v1 as select a + 1 as b from vt");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(integer(scalar("select b from v1")), 8);
    run("alter view v1 as select a * 2 as c from vt");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(integer(scalar("select c from v1")), 14);
    EXPECT_EQ(error("alter view v1 as select nope from vt").number, 207);
    EXPECT_EQ(integer(scalar("select c from v1")), 14);
    EXPECT_EQ(error("create view v2 as select x from nirgends").number, 208);
    EXPECT_TRUE(isNull(scalar("select object_id('v2')")));
    EXPECT_EQ(error("alter view v9 as select 1 as x").number, 208);
    EXPECT_EQ(error("create view v1 as select 1 as x").number, 2714);
}

TEST_F(Ddl, AlterTableAddsAndDropsConstraintsKeepingRowsAndIndexes) {
    run("create table p (id int primary key) insert p values (1)"
        " create table c (id int, pid int, q int) create index ix_q on c (q)"
        " insert c values (1, 1, 5) insert c values (2, 1, -1)");
    ASSERT_TRUE(sink.errors().empty());
    // Existing rows are checked: the constraint is refused and nothing changes.
    auto e = error("alter table c add constraint ck_q check (q > 0)");
    EXPECT_EQ(e.number, 547);
    EXPECT_NE(e.text.find("ck_q"), std::string::npos);
    run("insert c values (3, 1, -2)");
    EXPECT_TRUE(sink.errors().empty());
    // WITH NOCHECK leaves them; new rows must pass.
    run("alter table c with nocheck add constraint ck_q check (q > 0)"
        " alter table c add constraint fk_c_p foreign key (pid) references p (id)");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("insert c values (4, 1, -3)").number, 547);
    EXPECT_EQ(error("insert c values (4, 9, 3)").number, 547);
    EXPECT_EQ(integer(scalar("select count(*) from c")), 3);
    run("alter table c nocheck constraint ck_q");
    EXPECT_TRUE(sink.errors().empty());
    // Dropped, the check lets the row in; the index is still there.
    run("alter table c drop constraint ck_q insert c values (5, 1, -4)");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("alter table c drop constraint ck_q").text, "'ck_q' is not a constraint.");
    EXPECT_EQ(error("create index ix_q on c (q)").number, 1913);
    EXPECT_EQ(error("alter table nosuch add constraint k primary key (a)").number, 208);
}

TEST_F(Ddl, AlterColumnConvertsTheRowsOrLeavesTheTableAsItWas) {
    rows("CREATE TABLE ac (id int PRIMARY KEY, n varchar(10) DEFAULT 'x', v varchar(20), "
         "d decimal(5,1))");
    rows("CREATE INDEX ix_ac_v ON ac (v)");
    rows("INSERT INTO ac (id, n, v, d) VALUES (1, 'abc', '42', 1.5), (2, NULL, '7', 2.25)");
    // A wider type, another type the values convert to, NOT NULL.
    rows("ALTER TABLE ac ALTER COLUMN n varchar(30)");
    rows("ALTER TABLE ac ALTER COLUMN v int NOT NULL");
    rows("ALTER TABLE ac ALTER COLUMN d decimal(8,3)");
    const auto r = rows("SELECT v + 1, SQL_VARIANT_PROPERTY(CAST(d AS sql_variant), 'Scale'), n "
                        "FROM ac ORDER BY id");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(integer(r[0][0]), 43);
    EXPECT_EQ(integer(r[0][1]), 3);
    EXPECT_EQ(text(scalar("SELECT DATA_TYPE + ':' + IS_NULLABLE FROM INFORMATION_SCHEMA.COLUMNS "
                          "WHERE TABLE_NAME = 'ac' AND COLUMN_NAME = 'v'")),
              "int:NO");
    // The default, the key and the index stay.
    rows("INSERT INTO ac (id, v) VALUES (3, 9)");
    EXPECT_EQ(text(scalar("SELECT n FROM ac WHERE id = 3")), "x");
    EXPECT_EQ(error("INSERT INTO ac (id, v) VALUES (3, 1)").number, 2627);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM sqlite_master WHERE name = 'ix_ac_v'")), 1);
    // Rows that do not fit fail the statement and leave the table as it was.
    EXPECT_EQ(error("ALTER TABLE ac ALTER COLUMN n varchar(2)").number, 8152);
    EXPECT_EQ(error("ALTER TABLE ac ALTER COLUMN n varchar(30) NOT NULL").number, 515);
    EXPECT_EQ(error("ALTER TABLE ac ALTER COLUMN n int").number, 245);
    rows("INSERT INTO ac (id, v) VALUES (4, 300)");
    EXPECT_EQ(error("ALTER TABLE ac ALTER COLUMN v tinyint").number, 8115);
    EXPECT_EQ(text(scalar("SELECT n FROM ac WHERE id = 1")), "abc");
    EXPECT_EQ(error("ALTER TABLE ac ALTER COLUMN nope int").number, 4924);
    // To varchar the values go through the code page of the new collation.
    rows("CREATE TABLE ac2 (a nvarchar(10), b nvarchar(10))");
    rows("INSERT INTO ac2 VALUES (N'Жук', N'Жук')");
    rows("ALTER TABLE ac2 ALTER COLUMN a varchar(10)");
    rows("ALTER TABLE ac2 ALTER COLUMN b varchar(10) COLLATE Cyrillic_General_CI_AS");
    const auto c = rows("SELECT a, b FROM ac2");
    EXPECT_EQ(text(c[0][0]), "???");
    EXPECT_EQ(text(c[0][1]), "Жук");
}

TEST_F(Ddl, TriggersSeeTheChangedRowsAndCanUndoTheStatement) {
    run("create table acct (id int primary key, bal int)"
        " create table audit (id int, old int, new int)");
    run("create trigger acct_upd on acct after update, delete as\n"
        "insert audit select d.id, d.bal, i.bal from deleted d left join inserted i on i.id = "
        "d.id\n"
        "if exists (select * from inserted where bal < 0)\n"
        "begin\n raiserror ('negative', 16, 1)\n rollback transaction\nend");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("create trigger acct_upd on acct for insert as print 1").number, 2714);
    EXPECT_EQ(error("create trigger t2 on nosuch for insert as print 1").number, 8197);
    run("insert acct values (1, 10) insert acct values (2, 20)");
    // @@ROWCOUNT after the statement is its own count, not the trigger's.
    EXPECT_EQ(integer(scalar("update acct set bal = bal + 1 select @@rowcount")), 2);
    ASSERT_FALSE(sink.dones().empty());
    EXPECT_EQ(sink.dones().front()->count, 2u); // the UPDATE's DONE
    EXPECT_EQ(integer(scalar("select count(*) from audit where new = old + 1")), 2);
    // The trigger refuses: the update is undone and the batch ends.
    run("update acct set bal = -5 where id = 1 select 'not reached'");
    const auto e = sink.errors();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].text, "negative");
    EXPECT_EQ(e[1].number, 3609);
    EXPECT_TRUE(sink.results().empty());
    EXPECT_EQ(integer(scalar("select bal from acct where id = 1")), 11);
    EXPECT_EQ(integer(scalar("select count(*) from audit")), 2);
    // Inside an open transaction the rollback takes the earlier work too.
    run("begin tran insert acct values (3, 1) update acct set bal = -1 where id = 2");
    EXPECT_EQ(integer(scalar("select @@trancount")), 0);
    EXPECT_EQ(integer(scalar("select count(*) from acct")), 2);
    // Deletes reach the trigger through `deleted`; dropping it stops it.
    run("delete acct where id = 2");
    EXPECT_EQ(integer(scalar("select count(*) from audit where new is null")), 1);
    run("drop trigger acct_upd delete acct");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(integer(scalar("select count(*) from audit")), 3);
    EXPECT_EQ(error("drop trigger acct_upd").number, 3701);
}

// Scripts that can run twice look for their triggers and functions before making them.
TEST_F(Ddl, TriggersAndFunctionsAreObjectsOfTheCatalog) {
    run("create table tt (id int) create view vt as select id from tt");
    run("create trigger tt_ins on tt for insert as print 'x'");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const Value table = scalar("select object_id('tt')");
    const Value trigger = scalar("select object_id('tt_ins')");
    EXPECT_EQ(rows("select type, parent_obj from sysobjects where name = 'tt_ins'"),
              (std::vector<std::vector<Value>>{{std::string("TR"), table}}));
    EXPECT_EQ(rows("select name, type_desc, parent_id from sys.triggers"),
              (std::vector<std::vector<Value>>{
                  {std::string("tt_ins"), std::string("SQL_TRIGGER"), table}}));
    EXPECT_EQ(scalar("select type_desc from sys.objects where object_id = object_id('tt_ins')"),
              Value(std::string("SQL_TRIGGER")));
    EXPECT_EQ(scalar("select object_name(object_id('tt_ins'))"), Value(std::string("tt_ins")));
    EXPECT_EQ(integer(scalar("select objectproperty(object_id('tt_ins'), 'IsTrigger')")), 1);
    // OBJECT_ID with a type finds only an object of that type.
    EXPECT_EQ(scalar("select object_id('tt_ins', 'TR')"), trigger);
    EXPECT_TRUE(isNull(scalar("select object_id('tt_ins', 'U')")));
    EXPECT_EQ(scalar("select object_id('tt', 'U')"), table);
    EXPECT_TRUE(isNull(scalar("select object_id('tt', 'V')")));
    EXPECT_FALSE(isNull(scalar("select object_id('vt', 'V')")));
    run("if exists (select * from sysobjects where name = 'tt_ins' and type = 'TR') "
        "drop trigger tt_ins");
    run("create trigger tt_ins on tt for insert as print 'y'");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("if object_id('tt_ins', 'TR') is not null drop trigger tt_ins");
    EXPECT_EQ(integer(scalar("select count(*) from sys.triggers")), 0);

    run("create function dbo.fn1 (@a int) returns int as begin return @a + 1 end");
    run("create function tf1 (@a int) returns @r table (k int) as begin "
        "insert @r values (@a) return end");
    run("create function if1 (@a int) returns table as return (select @a as k)");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(
        rows("select name, type, type_desc from sys.objects "
             "where type in (N'FN', N'IF', N'TF') order by name"),
        (std::vector<std::vector<Value>>{
            {std::string("fn1"), std::string("FN"), std::string("SQL_SCALAR_FUNCTION")},
            {std::string("if1"), std::string("IF"),
             std::string("SQL_INLINE_TABLE_VALUED_FUNCTION")},
            {std::string("tf1"), std::string("TF"), std::string("SQL_TABLE_VALUED_FUNCTION")}}));
    EXPECT_EQ(scalar("select object_name(object_id('dbo.fn1', 'FN'))"), Value(std::string("fn1")));
    EXPECT_TRUE(isNull(scalar("select object_id('fn1', 'IF')")));
    EXPECT_EQ(integer(scalar("select objectproperty(object_id('tf1'), 'IsTableFunction')")), 1);
    run("if object_id('dbo.fn1', 'FN') is not null drop function dbo.fn1");
    run("create function dbo.fn1 (@a int) returns int as begin return @a + 2 end");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(integer(scalar("select dbo.fn1(1)")), 3);
}

TEST_F(Ddl, RollupAndCubeAddSubtotalsMarkedByGrouping) {
    run("create table s (r varchar(5), p varchar(5), n int)"
        " insert s values ('n', 'a', 1) insert s values ('n', 'b', 2)"
        " insert s values ('s', 'a', 4)");
    auto r = rows("select case when grouping(r) = 1 then 'ALL' else r end as r, sum(n) "
                  "from s group by r with rollup order by r");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(text(r[0][0]), "ALL");
    EXPECT_EQ(integer(r[0][1]), 7);
    EXPECT_EQ(integer(r[1][1]), 3);
    r = rows("select r, p, sum(n), grouping(p) from s group by r, p with rollup");
    EXPECT_EQ(r.size(), 3u + 2u + 1u);
    r = rows("select r, p, count(*) from s group by r, p with cube");
    EXPECT_EQ(r.size(), 3u + 2u + 2u + 1u);
    r = rows("select r, sum(n) from s group by r with rollup having sum(n) > 3");
    EXPECT_EQ(r.size(), 2u); // s: 4 and the total 7
}

TEST_F(Ddl, MoneyLiteralsAndOptionsAScriptSets) {
    run("create table m (v money)");
    run("insert m values ($20.00) insert m values ($.5)");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_DOUBLE_EQ(std::stod(text(scalar("select sum(v) from m"))), 20.5);
    run("declare @d varchar(30) select @d=convert(varchar, 12) select @d");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(text(sink.results()[0].rows[0][0]), "12");
    run("alter database master set recovery simple with no_wait checkpoint"
        " update statistics m");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("alter database nosuch set recovery simple").number, 911);
    EXPECT_EQ(error("update statistics nosuch").number, 208);
}

using Schemas = EngineTest;

TEST_F(Schemas, TablesLiveInTheirSchemaAndNamesReachThem) {
    run("create schema sales");
    ASSERT_TRUE(sink.errors().empty());
    auto e = error("create schema sales");
    EXPECT_EQ(e.number, 2714);
    EXPECT_EQ(e.text, "There is already an object named 'sales' in the database.");
    EXPECT_EQ(error("create schema dbo").number, 2714);
    run("create table sales.orders (id int identity primary key, amount money)"
        " create table orders (id int, note varchar(10))");
    ASSERT_TRUE(sink.errors().empty());
    run("insert sales.orders values (5) insert [master].[sales].[orders] (amount) values (7)"
        " insert dbo.orders values (1, 'x')");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(integer(scalar("select sum(amount) from sales.orders")), 12);
    EXPECT_EQ(integer(scalar("select count(*) from master.sales.orders")), 2);
    EXPECT_EQ(integer(scalar("select count(*) from orders")), 1); // dbo is the default
    e = error("select * from sales.nosuch");
    EXPECT_EQ(e.number, 208);
    EXPECT_EQ(e.text, "Invalid object name 'sales.nosuch'.");
    EXPECT_EQ(error("select * from nosuchschema.orders").number, 208);
    // A schema with objects stays; an empty one goes.
    EXPECT_EQ(error("drop schema sales").number, 3729);
    run("drop table sales.orders drop schema sales");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("drop schema sales").number, 3701);
}

TEST_F(Schemas, CatalogViewsAndProceduresNameTheSchema) {
    run("create schema hr");
    run("create table hr.staff (id int)");
    run("create view hr.v as select id from hr.staff");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(text(scalar("select schema_name()")), "dbo");
    EXPECT_EQ(integer(scalar("select schema_id('hr')")), 5);
    EXPECT_EQ(text(scalar("select schema_name(5)")), "hr");
    EXPECT_EQ(text(scalar("select name from sys.schemas where schema_id = 5")), "hr");
    EXPECT_EQ(text(scalar("select s.name from sys.tables t join sys.schemas s on s.schema_id = "
                          "t.schema_id where t.name = 'staff'")),
              "hr");
    const auto r = rows("select TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE from "
                        "INFORMATION_SCHEMA.TABLES order by TABLE_NAME");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(text(r[0][0]), "hr");
    EXPECT_EQ(text(r[0][1]), "staff");
    EXPECT_EQ(text(r[1][2]), "VIEW");
    // Procedures too.
    run("create procedure hr.headcount as select count(*) from hr.staff");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(integer(scalar("exec hr.headcount")), 0);
    EXPECT_EQ(integer(scalar("exec master.hr.headcount")), 0);
    EXPECT_EQ(error("exec headcount").number, 2812);
    run("drop view hr.v drop table hr.staff");
    EXPECT_EQ(error("drop schema hr").text,
              "Cannot drop schema 'hr' because it is being referenced by object 'headcount'.");
    run("create table hr.staff (id int)");
    run("create view hr.v as select id from hr.staff");
    EXPECT_EQ(text(scalar("select s.name from sys.objects o join sys.schemas s on s.schema_id "
                          "= o.schema_id where o.name = 'headcount'")),
              "hr");
    run("exec sp_tables @table_owner = 'hr'");
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    ASSERT_EQ(rs[0].rows.size(), 2u);
    EXPECT_EQ(text(rs[0].rows[0][1]), "hr");
    EXPECT_EQ(text(rs[0].rows[0][2]), "staff");
}

} // namespace
