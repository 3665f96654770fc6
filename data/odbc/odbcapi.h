#pragma once
// The driver manager's entry points, resolved from the ODBC library when the
// first one is called. The program thus starts without loading the driver
// manager and its module loader; a session that never connects never loads
// them.
//
// Inside namespace data::odbc each entry point is an object named like the
// function it stands for, so calls read as plain ODBC calls (SQLFetch(h)),
// with the exact parameter types of the header's declaration.

#include <atomic>
#include <cstdint>
#include <sql.h>
#include <sqlext.h>

namespace data::odbc {

#define TARNWICK_ODBC_ENTRY_POINTS(X)                                                              \
    X(SQLAllocHandle)                                                                              \
    X(SQLBindCol)                                                                                  \
    X(SQLBindParameter)                                                                            \
    X(SQLCancel)                                                                                   \
    X(SQLColAttributeW)                                                                            \
    X(SQLDescribeColW)                                                                             \
    X(SQLDisconnect)                                                                               \
    X(SQLDriverConnectW)                                                                           \
    X(SQLExecDirectW)                                                                              \
    X(SQLFetch)                                                                                    \
    X(SQLFreeHandle)                                                                               \
    X(SQLFreeStmt)                                                                                 \
    X(SQLGetConnectAttr)                                                                           \
    X(SQLGetConnectAttrW)                                                                          \
    X(SQLGetData)                                                                                  \
    X(SQLGetDiagFieldW)                                                                            \
    X(SQLGetDiagRecW)                                                                              \
    X(SQLGetInfoW)                                                                                 \
    X(SQLMoreResults)                                                                              \
    X(SQLNumResultCols)                                                                            \
    X(SQLPrimaryKeysW)                                                                             \
    X(SQLRowCount)                                                                                 \
    X(SQLSetConnectAttr)                                                                           \
    X(SQLSetEnvAttr)                                                                               \
    X(SQLSetStmtAttr)                                                                              \
    X(SQLTablesW)

// The resolved addresses. decltype only names the header's types: it does not
// make the program depend on the library at link time.
struct DriverManager {
#define TARNWICK_ODBC_POINTER(name) decltype(&::name) name = nullptr;
    TARNWICK_ODBC_ENTRY_POINTS(TARNWICK_ODBC_POINTER)
#undef TARNWICK_ODBC_POINTER
};

// Loads the driver manager on the first call (thread-safe) and returns its
// entry points. Raises ConnectionError when the library or one of its entry
// points is missing; the next call tries again.
const DriverManager& driverManager();

// Where a thread counts its driver calls, or null: the count is odd while a
// call runs and even between calls. A thread that runs a statement another
// thread may cancel sets it, so the canceller can tell a call that waits for
// the server from one that is about to return.
inline constinit thread_local std::atomic<std::uint64_t>* t_driverCalls = nullptr;

template <auto Member, typename Function> struct EntryPoint;

template <auto Member, typename R, typename... Params> struct EntryPoint<Member, R (*)(Params...)> {
    R operator()(Params... params) const {
        std::atomic<std::uint64_t>* calls = t_driverCalls;
        if (!calls)
            return (driverManager().*Member)(params...);
        // Only this thread writes the count: a plain store, no locked add.
        struct Counted {
            std::atomic<std::uint64_t>* calls;
            explicit Counted(std::atomic<std::uint64_t>* c) : calls(c) { step(); }
            ~Counted() { step(); }
            void step() {
                calls->store(calls->load(std::memory_order_relaxed) + 1, std::memory_order_release);
            }
        } counted(calls);
        return (driverManager().*Member)(params...);
    }
};

#define TARNWICK_ODBC_CALLABLE(name)                                                               \
    inline constexpr EntryPoint<&DriverManager::name, decltype(&::name)> name{};
TARNWICK_ODBC_ENTRY_POINTS(TARNWICK_ODBC_CALLABLE)
#undef TARNWICK_ODBC_CALLABLE

} // namespace data::odbc
