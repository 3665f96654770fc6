// System views (sysdatabases, sysobjects, sys.tables, INFORMATION_SCHEMA...)
// and the catalog procedures ODBC drivers call (sp_tables, sp_columns, ...).

#include "session_impl.h"

#include "types.h"

namespace tds {

using namespace sql;

void Session::Impl::refreshSystemViews(const std::set<std::string>& names)
{
    for (const auto& name : names) {
        if (name != "sysdatabases" && name != "sys.databases" && name != "sys.sysdatabases")
            continue;
        const std::string q = quoteIdent(name);
        std::string sqlText = "CREATE TEMP TABLE IF NOT EXISTS " + q
            + " (name sysname NOT NULL, dbid smallint NOT NULL, database_id int NOT NULL, crdate datetime NOT NULL, "
              "create_date datetime NOT NULL, cmptlevel tinyint NOT NULL, compatibility_level tinyint NOT NULL, "
              "filename nvarchar(260), collation_name sysname, state tinyint, state_desc nvarchar(60)); DELETE FROM temp." + q + ";";
        sqlite3_exec(conn, sqlText.c_str(), nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        const std::string ins = "INSERT INTO temp." + q + " VALUES (?1, ?2, ?2, '2005-10-14 01:54:05.000', '2005-10-14 01:54:05.000', 90, 90, ?3, 'SQL_Latin1_General_CP1_CI_AS', 0, 'ONLINE')";
        if (sqlite3_prepare_v2(conn, ins.c_str(), -1, &st, nullptr) != SQLITE_OK)
            continue;
        int id = 1;
        for (const auto& db : databaseNames()) {
            sqlite3_bind_text(st, 1, db.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(st, 2, id++);
            sqlite3_bind_text(st, 3, dbPath(db).c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
    }
}

bool Session::Impl::catalogProcedure(const std::string&, const std::vector<RpcParam>&, Out&)
{
    return false;
}

} // namespace tds
