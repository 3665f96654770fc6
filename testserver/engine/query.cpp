// Running SQLite statements and streaming their rows.

#include "testserver/engine/session_impl.h"

#include "testserver/engine/collation.h"
#include "testserver/engine/functions.h"
#include "testserver/engine/variant.h"

#include "testserver/engine/types.h"
#include "testserver/engine/udt.h"
#include "testserver/engine/values.h"
#include "testserver/engine/wide_select.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace tds {

using namespace sql;

namespace {

// How a column's values are brought into the form its type promises.
enum class Conv {
    Integer,
    Bit,
    Double,
    Numeric,
    Text,
    FixedText,
    Blob,
    FixedBlob,
    DateTime,
    Guid,
    Native
};

Conv convFor(const ColumnType& t) {
    switch (t.type) {
    case SqlType::Int:
    case SqlType::BigInt:
    case SqlType::SmallInt:
    case SqlType::TinyInt:
        return Conv::Integer;
    case SqlType::Bit:
        return Conv::Bit;
    case SqlType::Float:
    case SqlType::Real:
        return Conv::Double;
    case SqlType::Money:
    case SqlType::SmallMoney:
    case SqlType::Decimal:
        return Conv::Numeric;
    case SqlType::Char:
    case SqlType::NChar:
        return Conv::FixedText;
    case SqlType::VarChar:
    case SqlType::NVarChar:
    case SqlType::Xml:
    case SqlType::Text:
    case SqlType::NText:
        return Conv::Text;
    case SqlType::Binary:
        return Conv::FixedBlob;
    case SqlType::VarBinary:
    case SqlType::Image:
    case SqlType::Udt:
        return Conv::Blob;
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::Date:
    case SqlType::Time:
    case SqlType::DateTime2:
        return Conv::DateTime;
    case SqlType::UniqueIdentifier:
        return Conv::Guid;
    case SqlType::DateTimeOffset:
        return Conv::DateTime;
    case SqlType::SqlVariant:
        return Conv::Native;
    }
    return Conv::Native;
}

void setText(Value& v, const char* p, std::size_t n) {
    if (auto* s = std::get_if<std::string>(&v))
        s->assign(p, n);
    else
        v.emplace<std::string>(p, n);
}

void setBlob(Value& v, const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    if (auto* s = std::get_if<Blob>(&v))
        s->assign(b, b + n);
    else
        v.emplace<Blob>(b, b + n);
}

struct ColumnPlan {
    Conv conv;
    ColumnType type;
    std::int64_t limit; // max chars/bytes kept (-1: none)
    // An int, smallint or tinyint computed by an expression: SQLite computes
    // in 64 bits, so a value may not fit the type the first row gave.
    bool checkRange = false;
};

// 8115 for an integer value its column's type cannot hold.
std::optional<MappedError> rangeError(const ColumnPlan& p, const Value& v) {
    const auto* i = std::get_if<std::int64_t>(&v);
    if (!p.checkRange || !i)
        return std::nullopt;
    std::int64_t lo = INT32_MIN, hi = INT32_MAX;
    if (p.type.type == SqlType::SmallInt) {
        lo = INT16_MIN;
        hi = INT16_MAX;
    } else if (p.type.type == SqlType::TinyInt) {
        lo = 0;
        hi = 255;
    }
    if (*i >= lo && *i <= hi)
        return std::nullopt;
    return MappedError{sql::errorMessage(8115, 16,
                                         "Arithmetic overflow error converting expression to "
                                         "data type " +
                                             baseTypeName(p.type.type) + ".",
                                         2),
                       false};
}

} // namespace

Column makeColumn(std::string name, SqlType type, int length, bool nullable) {
    Column c;
    c.name = std::move(name);
    c.type.type = type;
    c.type.length = length;
    c.type.nullable = nullable;
    if (type == SqlType::Money) {
        c.type.precision = 19;
        c.type.scale = 4;
    }
    return c;
}

void sendRows(Out& out, const std::vector<Column>& cols,
              const std::vector<std::vector<Value>>& rows) {
    out.sink.columns(cols);
    for (const auto& r : rows)
        if (!out.sink.row(r))
            return;
}

std::string valueText(const Value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* b = std::get_if<Blob>(&v))
        return std::string(b->begin(), b->end());
    return {};
}

Value valueOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return static_cast<std::int64_t>(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return sqlite3_value_double(v);
    case SQLITE_TEXT:
        return std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                           sqlite3_value_bytes(v));
    case SQLITE_BLOB: {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_value_blob(v));
        return Blob(p, p + sqlite3_value_bytes(v));
    }
    default:
        return Null{};
    }
}

Value columnValue(sqlite3_stmt* st, int i) {
    return valueOf(sqlite3_column_value(st, i));
}

void bindValue(sqlite3_stmt* st, int index, const Value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v))
        sqlite3_bind_int64(st, index, *i);
    else if (const auto* d = std::get_if<double>(&v))
        sqlite3_bind_double(st, index, *d);
    else if (const auto* s = std::get_if<std::string>(&v))
        sqlite3_bind_text(st, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
    else if (const auto* b = std::get_if<Blob>(&v); b && b->empty())
        sqlite3_bind_zeroblob(st, index, 0); // no data pointer would bind NULL
    else if (b)
        sqlite3_bind_blob(st, index, b->data(), static_cast<int>(b->size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(st, index);
}

bool Session::Impl::bindParameters(sqlite3_stmt* st, Out& out) {
    const int n = sqlite3_bind_parameter_count(st);
    for (int i = 1; i <= n; ++i) {
        const char* name = sqlite3_bind_parameter_name(st, i);
        if (!name)
            continue;
        const Variable* var = findVariable(toLower(name));
        if (!var) {
            fail(mustDeclare(name), out, true);
            return false;
        }
        bindValue(st, i, var->value);
    }
    return true;
}

std::vector<Column> Session::Impl::describe(sqlite3_stmt* st, bool haveRow, const TypeHints* hints,
                                            sqlite3_value* const* firstRow) {
    const int n = sqlite3_column_count(st);
    if (hints && hints->size() != static_cast<std::size_t>(n))
        hints = nullptr; // not this statement's select list (SELECT *, a UNION, ...)
    std::vector<Column> cols(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        Column& c = cols[static_cast<std::size_t>(i)];
        const char* name = sqlite3_column_name(st, i);
        c.name = name ? name : "";
        const char* decl = sqlite3_column_decltype(st, i);
        const char* table = sqlite3_column_table_name(st, i);
        const char* origin = sqlite3_column_origin_name(st, i);
        const char* dbName = sqlite3_column_database_name(st, i);
        std::optional<ColumnType> t = decl ? parseDeclType(decl) : std::nullopt;
        if (t && table && origin) {
            const char* d2 = nullptr;
            const char* coll = nullptr;
            int notNull = 0, pk = 0, autoinc = 0;
            if (sqlite3_table_column_metadata(sqlite3_db_handle(st), dbName, table, origin, &d2,
                                              &coll, &notNull, &pk, &autoinc) == SQLITE_OK) {
                const bool rowidAlias = pk && decl && iequals(decl, "integer");
                t->nullable = !(notNull || rowidAlias);
                t->identity = autoinc != 0;
                c.key = pk != 0;
                if (isTextType(t->type) && coll && findCollation(coll))
                    t->collation = findCollation(coll)->name;
            }
            c.table = table;
            c.baseColumn = origin;
            if (c.table.size() > 0 && c.table[0] == '#')
                c.table.clear();
        } else if (!t) {
            const auto& hint = hints ? (*hints)[static_cast<std::size_t>(i)] : std::nullopt;
            // An expression: SQL Server leaves it unnamed unless aliased.
            if (!origin) {
                bool plain = !c.name.empty();
                for (unsigned char ch : c.name)
                    if (!(std::isalnum(ch) || ch == '_' || ch == ' ' || ch == '#' || ch == '$' ||
                          ch >= 0x80))
                        plain = false;
                if (!c.name.empty() && std::isdigit(static_cast<unsigned char>(c.name[0])))
                    plain = false;
                if (!plain)
                    c.name.clear();
            }
            ColumnType et;
            et.nullable = true;
            sqlite3_value* first = firstRow  ? firstRow[i]
                                   : haveRow ? sqlite3_column_value(st, i)
                                             : nullptr;
            const int vt = first ? sqlite3_value_type(first) : SQLITE_NULL;
            switch (vt) {
            case SQLITE_INTEGER: {
                const auto v = sqlite3_value_int64(first);
                et.type = (v < std::numeric_limits<std::int32_t>::min() ||
                           v > std::numeric_limits<std::int32_t>::max())
                              ? SqlType::BigInt
                              : SqlType::Int;
                break;
            }
            case SQLITE_FLOAT:
                et.type = SqlType::Float;
                break;
            case SQLITE_TEXT:
                et.type = SqlType::NVarChar;
                et.length = utf16Length(std::string_view(
                                reinterpret_cast<const char*>(sqlite3_value_text(first)),
                                static_cast<std::size_t>(sqlite3_value_bytes(first)))) > 4000
                                ? -1
                                : 4000;
                break;
            case SQLITE_BLOB:
                et.type = SqlType::VarBinary;
                et.length = -1;
                break;
            default:
                et.type = SqlType::Int;
                break;
            }
            t = hint ? *hint : et;
            // A value put into a sql_variant (CAST, a variable, MAX of a
            // sql_variant column, ...) makes the column a sql_variant.
            if (vt == SQLITE_TEXT && isTaggedVariant(std::string_view(
                                         reinterpret_cast<const char*>(sqlite3_value_text(first)),
                                         static_cast<std::size_t>(sqlite3_value_bytes(first))))) {
                t = ColumnType{};
                t->type = SqlType::SqlVariant;
                t->length = 8016;
            }
        }
        c.type = *t;
    }
    return cols;
}

namespace {

std::vector<ColumnPlan> planColumns(const std::vector<Column>& cols,
                                    const SessionOptions& options) {
    std::vector<ColumnPlan> plan;
    plan.reserve(cols.size());
    for (const auto& c : cols) {
        ColumnPlan p{convFor(c.type), c.type, -1};
        p.checkRange = c.baseColumn.empty() &&
                       (c.type.type == SqlType::Int || c.type.type == SqlType::SmallInt ||
                        c.type.type == SqlType::TinyInt);
        if (c.type.length > 0 && (p.conv == Conv::Text || p.conv == Conv::FixedText ||
                                  p.conv == Conv::Blob || p.conv == Conv::FixedBlob))
            p.limit = c.type.length;
        if (options.textSize > 0 &&
            (c.type.type == SqlType::Text || c.type.type == SqlType::Image || c.type.length < 0))
            p.limit = options.textSize;
        if (options.textSize > 0 && c.type.type == SqlType::NText)
            p.limit = options.textSize / 2;
        plan.push_back(p);
    }
    return plan;
}

// Brings one value of a row into the form its column's type promises.
// (The sqlite3_value calls skip the per-call checks of sqlite3_column_*; the
// statement's connection is used by this thread only.)
inline void convertValue(sqlite3_value* cv, const ColumnPlan& p, Value& v) {
    const int type = sqlite3_value_type(cv);
    if (type == SQLITE_NULL) {
        v.emplace<Null>();
        return;
    }
    switch (p.conv) {
    case Conv::Integer:
        v = static_cast<std::int64_t>(sqlite3_value_int64(cv));
        break;
    case Conv::Bit:
        v = static_cast<std::int64_t>(type == SQLITE_FLOAT ? sqlite3_value_double(cv) != 0.0
                                                           : sqlite3_value_int64(cv) != 0);
        break;
    case Conv::Double:
        v = sqlite3_value_double(cv);
        break;
    case Conv::Numeric:
        if (type == SQLITE_INTEGER)
            v = static_cast<std::int64_t>(sqlite3_value_int64(cv));
        else if (type == SQLITE_FLOAT)
            v = sqlite3_value_double(cv);
        else {
            const char* s = reinterpret_cast<const char*>(sqlite3_value_text(cv));
            const std::size_t len = static_cast<std::size_t>(sqlite3_value_bytes(cv));
            if (isDecimalText(std::string_view(s, len)))
                setText(v, s, len);
            else
                v = sqlite3_value_double(cv);
        }
        break;
    case Conv::Text:
    case Conv::FixedText: {
        const char* s = reinterpret_cast<const char*>(sqlite3_value_text(cv));
        std::size_t len = static_cast<std::size_t>(sqlite3_value_bytes(cv));
        if (p.limit >= 0 && len > static_cast<std::size_t>(p.limit)) {
            len = utf8PrefixForUnits(std::string_view(s, len), static_cast<std::size_t>(p.limit));
        }
        setText(v, s, len);
        if (p.conv == Conv::FixedText && p.limit > 0) {
            const std::size_t units = utf16Length(std::get<std::string>(v));
            if (units < static_cast<std::size_t>(p.limit))
                std::get<std::string>(v).append(static_cast<std::size_t>(p.limit) - units, ' ');
        }
        break;
    }
    case Conv::Blob:
    case Conv::FixedBlob: {
        if (p.type.type == SqlType::Udt && type == SQLITE_TEXT) {
            // Text stored in a CLR column ('/1/', 'POINT(1 2)') is the value SQL
            // Server would have made of it.
            const std::string_view text(reinterpret_cast<const char*>(sqlite3_value_text(cv)),
                                        static_cast<std::size_t>(sqlite3_value_bytes(cv)));
            udt::Error e;
            if (auto bytes = udt::fromText(p.type.udt, text, &e)) {
                v = std::move(*bytes);
                break;
            }
        }
        const void* b = sqlite3_value_blob(cv);
        std::size_t len = static_cast<std::size_t>(sqlite3_value_bytes(cv));
        if (p.limit >= 0 && len > static_cast<std::size_t>(p.limit))
            len = static_cast<std::size_t>(p.limit);
        setBlob(v, b, len);
        if (p.conv == Conv::FixedBlob && p.limit > 0)
            std::get<Blob>(v).resize(static_cast<std::size_t>(p.limit), 0);
        break;
    }
    case Conv::DateTime: {
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
            v = formatDateTime(fromDays(sqlite3_value_double(cv)), p.type.type, p.type.scale);
            break;
        }
        const char* s = reinterpret_cast<const char*>(sqlite3_value_text(cv));
        setText(v, s, static_cast<std::size_t>(sqlite3_value_bytes(cv)));
        if (!normalizeDateTime(std::get<std::string>(v), p.type.type, p.type.scale))
            v.emplace<Null>(); // not a date: the client could not decode it
        break;
    }
    case Conv::Guid:
        if (type == SQLITE_BLOB && sqlite3_value_bytes(cv) == 16)
            v = guidText(static_cast<const unsigned char*>(sqlite3_value_blob(cv)));
        else
            setText(v, reinterpret_cast<const char*>(sqlite3_value_text(cv)),
                    static_cast<std::size_t>(sqlite3_value_bytes(cv)));
        break;
    case Conv::Native:
        v = valueOf(cv);
        break;
    }
}

} // namespace

Outcome Session::Impl::streamRows(sqlite3_stmt* st, int rc, const RowFiller& fill,
                                  const std::vector<Value>& values, Out& out) {
    std::uint64_t count = 0;
    const std::int64_t maxRows = options.rowcountLimit;
    while (rc == SQLITE_ROW) {
        // A value that fails ends the statement after the rows before it.
        if (const std::optional<MappedError> error = fill())
            return fail(error->message, out, error->abortsBatch, 0xC1);
        ++count;
        if (!out.sink.row(values))
            return Outcome::Cancelled;
        if (cancel && cancel->load(std::memory_order_relaxed))
            return Outcome::Cancelled;
        if (maxRows > 0 && static_cast<std::int64_t>(count) >= maxRows)
            break;
        rc = sqlite3_step(st);
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        if (cancel && cancel->load())
            return Outcome::Cancelled;
        // An error after rows were sent: the statement ends with it.
        return failSqlite(sqlite3_extended_errcode(conn), "SELECT", {}, out, 0xC1);
    }
    lastRowCount = static_cast<std::int64_t>(count);
    out.done(options.nocount ? 0 : DoneCount, count, 0xC1);
    return Outcome::Ok;
}

Outcome Session::Impl::runQuery(sqlite3_stmt* st, Out& out, const TypeHints* hints) {
    int rc = sqlite3_step(st);
    const bool failed = rc != SQLITE_ROW && rc != SQLITE_DONE;
    if (failed && cancel && cancel->load())
        return Outcome::Cancelled;
    // The columns are known before the first row is computed: a statement
    // that fails on its first row still describes its result, as SQL Server's
    // COLMETADATA comes ahead of the ERROR.
    if (failed && std::string_view(sqlite3_errmsg(conn)).starts_with("tds:")) {
        // A value failed: perhaps not on the first row SQL Server would send.
        const std::string error = sqlite3_errmsg(conn);
        if (const auto oc = replayFailedQuery(st, out, hints))
            return *oc;
        out.sink.columns(describe(st, false, hints));
        const MappedError me = mapSqliteError(SQLITE_ERROR, error, ErrorContext{});
        return fail(me.message, out, me.abortsBatch, 0xC1);
    }
    if (failed) {
        out.sink.columns(describe(st, false, hints));
        return failSqlite(sqlite3_extended_errcode(conn), "SELECT", {}, out, 0xC1);
    }
    return sendResult(st, rc, describe(st, rc == SQLITE_ROW, hints), out, nullptr);
}

Outcome Session::Impl::sendResult(sqlite3_stmt* st, int rc, const std::vector<Column>& cols,
                                  Out& out, const std::vector<std::string>* deferred) {
    out.sink.columns(cols);
    if (options.browseTable)
        out.sink.browseInfo(cols);
    const std::vector<ColumnPlan> plan = planColumns(cols, options);
    std::vector<Value> values(cols.size());
    return streamRows(
        st, rc,
        [&]() -> std::optional<MappedError> {
            for (std::size_t i = 0; i < values.size(); ++i) {
                sqlite3_value* v = sqlite3_column_value(st, static_cast<int>(i));
                if (deferred)
                    if (const auto e = sqlfn::deferredError(v); e && *e < deferred->size())
                        return mapSqliteError(SQLITE_ERROR, (*deferred)[*e], ErrorContext{});
                convertValue(v, plan[i], values[i]);
                if (auto error = rangeError(plan[i], values[i]))
                    return error;
            }
            return std::nullopt;
        },
        values, out);
}

// SQLite computes the select list of a sorted or grouped query before its
// first row comes out, SQL Server as each row leaves the sort: there the
// rows before the failing one reach the client. The statement runs again
// with value errors kept as marker values; when every kept error comes out
// whole as a value of the result (not inside an aggregate or an expression
// around it), a second run streams the rows up to the first marked one.
std::optional<Outcome> Session::Impl::replayFailedQuery(sqlite3_stmt* st, Out& out,
                                                        const TypeHints* hints) {
    std::vector<std::string> errors;
    sqlfn::DeferredValueErrors deferring(errors);
    const int n = sqlite3_column_count(st);
    auto markedColumn = [&]() -> std::optional<std::size_t> {
        for (int i = 0; i < n; ++i)
            if (const auto e = sqlfn::deferredError(sqlite3_column_value(st, i)))
                return e;
        return std::nullopt;
    };
    sqlite3_reset(st);
    std::size_t placed = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        for (int i = 0; i < n; ++i)
            placed += sqlfn::deferredError(sqlite3_column_value(st, i)) ? 1 : 0;
    const bool placeable = rc == SQLITE_DONE && !errors.empty() && placed == errors.size();
    sqlite3_reset(st);
    if (!placeable)
        return std::nullopt;
    errors.clear();
    rc = sqlite3_step(st);
    if (rc != SQLITE_ROW)
        return std::nullopt;
    return sendResult(st, rc, describe(st, !markedColumn(), hints), out, &errors);
}

namespace {

// Select-list items per packed result column, and per statement that is
// only prepared to learn the names and types of a slice of the list.
constexpr std::size_t kPackGroup = 100;
constexpr std::size_t kDescribeSlice = 1000;
// SQL Server's limit on the elements of a select list.
constexpr std::size_t kMaxSelectList = 4096;

struct Finalizer {
    std::vector<sqlite3_stmt*> stmts;
    std::vector<sqlite3_value*> values;
    ~Finalizer() {
        for (auto* s : stmts)
            sqlite3_finalize(s);
        for (auto* v : values)
            sqlite3_value_free(v);
    }
};

std::string quoteName(std::string_view name) {
    std::string r = "\"";
    for (char c : name) {
        r += c;
        if (c == '"')
            r += '"';
    }
    return r + '"';
}

} // namespace

std::optional<Outcome> Session::Impl::runWideQuery(std::string_view sql, const TypeHints& hints,
                                                   Out& out) {
    std::optional<WideSelect> w = splitSelect(sql);
    if (!w)
        return std::nullopt;
    Finalizer f;
    auto prepare = [&](const std::string& text, int* rc = nullptr) -> sqlite3_stmt* {
        sqlite3_stmt* st = nullptr;
        const int r =
            sqlite3_prepare_v2(conn, text.c_str(), static_cast<int>(text.size()), &st, nullptr);
        if (rc)
            *rc = r;
        if (r != SQLITE_OK) {
            sqlite3_finalize(st);
            return nullptr;
        }
        f.stmts.push_back(st);
        return st;
    };
    // Stars become the columns they stand for, so that each can go into a group.
    std::vector<std::string> exprs, items;
    bool starred = false;
    for (std::size_t i = 0; i < w->exprs.size(); ++i) {
        std::string qualifier;
        if (!isStar(w->items[i], &qualifier)) {
            exprs.push_back(w->exprs[i]);
            items.push_back(w->items[i]);
            continue;
        }
        starred = true;
        sqlite3_stmt* st = prepare(w->head + " " + w->items[i] + " " + w->rest);
        if (!st)
            return std::nullopt;
        const int n = sqlite3_column_count(st);
        std::vector<std::string> names;
        for (int c = 0; c < n; ++c)
            names.emplace_back(sqlite3_column_name(st, c));
        if (qualifier.empty()) {
            // Unqualified names are only safe when no two columns share one.
            for (std::size_t a = 0; a < names.size(); ++a)
                for (std::size_t b = a + 1; b < names.size(); ++b)
                    if (iequals(names[a], names[b]))
                        return std::nullopt;
        }
        for (const auto& name : names) {
            std::string e = (qualifier.empty() ? "" : qualifier + ".") + quoteName(name);
            items.push_back(e + " AS " + quoteName(name));
            exprs.push_back(std::move(e));
        }
    }
    if (exprs.size() > kMaxSelectList) {
        fail(errorMessage(1056, 15,
                          "The number of elements in the select list exceeds the maximum allowed "
                          "number of 4096 elements."),
             out, true);
        return Outcome::Abort;
    }
    const TypeHints* allHints = !starred && hints.size() == exprs.size() ? &hints : nullptr;

    // The statement that runs: every result column a packed group.
    std::string packed = w->head;
    for (std::size_t g = 0; g < exprs.size(); g += kPackGroup) {
        packed += g ? ", tds_pack(" : " tds_pack(";
        for (std::size_t i = g; i < std::min(exprs.size(), g + kPackGroup); ++i) {
            packed += i > g ? ", " : "";
            packed += exprs[i];
        }
        packed += ')';
    }
    packed += ' ';
    packed += w->rest;
    int rc = SQLITE_OK;
    sqlite3_stmt* run = prepare(packed, &rc);
    if (!run)
        return failSqlite(rc, "SELECT", {}, out);
    if (!bindParameters(run, out))
        return Outcome::Abort;
    // Hands one group's values to a statement that only selects its
    // parameters: its result columns are then values as SQLite holds them,
    // for the conversion every other result goes through.
    std::string selectParams = "SELECT ?1";
    for (std::size_t i = 2; i <= kPackGroup; ++i)
        selectParams += ", ?" + std::to_string(i);
    sqlite3_stmt* unpack = prepare(selectParams);
    if (!unpack)
        return std::nullopt;
    const std::size_t groups = static_cast<std::size_t>(sqlite3_column_count(run));
    std::vector<PackedValue> packedValues;
    auto loadGroup = [&](std::size_t g) {
        sqlite3_reset(unpack);
        const auto* p = static_cast<const char*>(sqlite3_column_blob(run, static_cast<int>(g)));
        const std::string_view blob(
            p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(run, static_cast<int>(g))));
        if (!unpackGroup(blob, packedValues))
            packedValues.clear();
        for (std::size_t i = 0; i < kPackGroup; ++i) {
            const int at = static_cast<int>(i + 1);
            if (i >= packedValues.size()) {
                sqlite3_bind_null(unpack, at);
                continue;
            }
            const PackedValue& v = packedValues[i];
            switch (v.type) {
            case SQLITE_INTEGER:
                sqlite3_bind_int64(unpack, at, v.integer);
                break;
            case SQLITE_FLOAT:
                sqlite3_bind_double(unpack, at, v.real);
                break;
            case SQLITE_TEXT:
                sqlite3_bind_text64(unpack, at, v.bytes.data(), v.bytes.size(), SQLITE_STATIC,
                                    SQLITE_UTF8);
                break;
            case SQLITE_BLOB:
                sqlite3_bind_blob64(unpack, at, v.bytes.data(), v.bytes.size(), SQLITE_STATIC);
                break;
            default:
                sqlite3_bind_null(unpack, at);
            }
        }
        sqlite3_step(unpack);
    };

    rc = options.fmtOnly ? SQLITE_DONE : sqlite3_step(run);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return failSqlite(sqlite3_extended_errcode(conn), "SELECT", {}, out);
    // The first row's values tell the types of expressions.
    std::vector<sqlite3_value*> first;
    if (rc == SQLITE_ROW) {
        for (std::size_t g = 0; g < groups; ++g) {
            loadGroup(g);
            for (std::size_t i = 0; i < kPackGroup && g * kPackGroup + i < exprs.size(); ++i) {
                first.push_back(
                    sqlite3_value_dup(sqlite3_column_value(unpack, static_cast<int>(i))));
                f.values.push_back(first.back());
            }
        }
    }
    // Names and types, from slices of the select list that are only prepared.
    std::vector<Column> cols;
    for (std::size_t s = 0; s < items.size(); s += kDescribeSlice) {
        const std::size_t end = std::min(items.size(), s + kDescribeSlice);
        std::string slice = w->head;
        for (std::size_t i = s; i < end; ++i) {
            slice += i > s ? ", " : " ";
            slice += items[i];
        }
        slice += ' ';
        slice += w->rest;
        int prc = SQLITE_OK;
        sqlite3_stmt* meta = prepare(slice, &prc);
        if (!meta)
            return failSqlite(prc, "SELECT", {}, out);
        TypeHints sliceHints;
        if (allHints)
            sliceHints.assign(allHints->begin() + static_cast<std::ptrdiff_t>(s),
                              allHints->begin() + static_cast<std::ptrdiff_t>(end));
        std::vector<Column> part = describe(meta, false, allHints ? &sliceHints : nullptr,
                                            first.empty() ? nullptr : first.data() + s);
        cols.insert(cols.end(), std::make_move_iterator(part.begin()),
                    std::make_move_iterator(part.end()));
    }
    out.sink.columns(cols);
    if (options.fmtOnly) {
        out.done(0, 0, 0xC1);
        return Outcome::Ok;
    }
    if (options.browseTable)
        out.sink.browseInfo(cols);

    const std::vector<ColumnPlan> plan = planColumns(cols, options);
    std::vector<Value> values(cols.size());
    const Outcome oc = streamRows(
        run, rc,
        [&]() -> std::optional<MappedError> {
            for (std::size_t g = 0; g < groups; ++g) {
                loadGroup(g);
                for (std::size_t i = 0; i < kPackGroup && g * kPackGroup + i < cols.size(); ++i) {
                    const std::size_t k = g * kPackGroup + i;
                    convertValue(sqlite3_column_value(unpack, static_cast<int>(i)), plan[k],
                                 values[k]);
                    if (auto error = rangeError(plan[k], values[k]))
                        return error;
                }
            }
            return std::nullopt;
        },
        values, out);
    return oc;
}

} // namespace tds
