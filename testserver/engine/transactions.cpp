// Transactions: BEGIN, COMMIT, ROLLBACK and savepoints over SQLite's, with
// @@TRANCOUNT counting the nesting that SQLite does not have.

#include "testserver/engine/session_impl.h"

#include "testserver/engine/lexer.h"

namespace tds {

using namespace sql;

bool Session::beginTransaction(Message* error) {
    if (!d->conn)
        d->use("master", nullptr);
    return d->beginTran(error);
}

bool Session::commitTransaction(Message* error) {
    return d->commitTran(error);
}

bool Session::rollbackTransaction(Message* error) {
    return d->rollbackTran(error);
}

bool Session::Impl::beginTran(Message* error) {
    if (tranCount == 0 && sqlite3_exec(conn, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error)
            *error = errorMessage(50000, 16, sqlite3_errmsg(conn));
        return false;
    }
    ++tranCount;
    return true;
}

bool Session::Impl::commitTran(Message* error) {
    if (tranCount == 0) {
        if (error)
            *error = errorMessage(
                3902, 16, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        return false;
    }
    if (tranCount == 1 && sqlite3_exec(conn, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error)
            *error = mapSqliteError(sqlite3_extended_errcode(conn), sqlite3_errmsg(conn),
                                    ErrorContext{"COMMIT", {}, db, {}, {}})
                         .message;
        return false;
    }
    --tranCount;
    return true;
}

bool Session::Impl::rollbackTran(Message* error) {
    if (tranCount == 0) {
        if (error)
            *error = errorMessage(
                3903, 16,
                "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        return false;
    }
    sqlite3_exec(conn, "ROLLBACK", nullptr, nullptr, nullptr);
    tranCount = 0;
    doomed = false;
    return true;
}

// BEGIN TRAN, COMMIT, ROLLBACK [TRAN savepoint], SAVE TRAN; a BEGIN that
// names no transaction opens a block and does nothing.
Outcome Session::Impl::runTransaction(const Statement& st, Out& out) {
    const Token& w = st.toks[0];
    if (w.is("begin")) {
        if (st.toks.size() >= 2 && st.toks[1].isAny({"tran", "transaction", "distributed"})) {
            Message err;
            if (!beginTran(&err))
                return fail(err, out, false);
            return Outcome::Ok;
        }
        return Outcome::Ok; // BEGIN of a block
    }
    if (w.is("commit")) {
        if (doomed && tranCount > 0)
            return fail(errorMessage(3930, 16,
                                     "The current transaction cannot be committed and cannot "
                                     "support operations that write to the log file. Roll back "
                                     "the transaction."),
                        out, false);
        Message err;
        if (!commitTran(&err))
            return fail(err, out, false);
        return Outcome::Ok;
    }
    if (w.is("rollback")) {
        // ROLLBACK TRAN <savepoint>
        if (st.toks.size() >= 3 && st.toks[1].isAny({"tran", "transaction"}) && tranCount > 0) {
            const std::string name = st.toks[2].value();
            const std::string q = "ROLLBACK TO " + quoteIdent(name);
            if (sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
                return Outcome::Ok;
        }
        Message err;
        if (!rollbackTran(&err))
            return fail(err, out, false);
        return Outcome::Ok;
    }
    if (w.is("save")) {
        if (st.toks.size() >= 3 && tranCount > 0) {
            const std::string q = "SAVEPOINT " + quoteIdent(st.toks[2].value());
            sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr);
            return Outcome::Ok;
        }
        return fail(
            errorMessage(628, 16,
                         "Cannot issue SAVE TRANSACTION when there is no active transaction."),
            out, false);
    }
    return Outcome::Ok;
}

} // namespace tds
