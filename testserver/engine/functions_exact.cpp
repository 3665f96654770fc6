// Arithmetic on exact numerics, as the translator writes it for operations
// whose operands are decimal, numeric, money or smallmoney:
//   tds_add/sub/mul/div/mod(a, b, scale a, scale b, precision, scale, kind)
//   tds_neg/abs/ceiling/floor(a, scale a, precision, scale, kind)
//   tds_round(a, places, truncate, scale a, precision, scale, kind)
//   tds_sum_<scale>(x), tds_avg_<scale>(x), tds_sum_money(x), tds_avg_money(x)
// kind: 0 decimal(precision, scale), 1 money, 2 smallmoney.
//
// Values are integers scaled by a power of ten. Operands hold up to 38
// digits, but aligned sums, products and quotients need more before they are
// rounded back, so the computing is done with GMP's integers.
// Results round half away from zero to the result's scale; quotients and
// averages are cut there. A result beyond the type's precision or range is
// error 8115, a zero divisor 8134.

#include "testserver/engine/decimal.h"
#include "testserver/engine/functions.h"
#include "testserver/engine/types.h"

#include <gmp.h>

#include <cstdint>
#include <string>

namespace tds::sqlfn {

using namespace sql;

namespace {

// 64-bit halves of the 128-bit magnitudes go through GMP's unsigned long.
static_assert(sizeof(unsigned long) == 8);

// An mpz_t that frees itself.
class BigInt {
public:
    BigInt() { mpz_init(v); }
    ~BigInt() { mpz_clear(v); }
    BigInt(const BigInt&) = delete;
    BigInt& operator=(const BigInt&) = delete;
    operator mpz_ptr() { return v; }
    operator mpz_srcptr() const { return v; }

private:
    mpz_t v;
};

// mpz_sgn is a macro that wants the bare mpz_t.
int sign(mpz_srcptr v) {
    return mpz_sgn(v);
}

void pow10(mpz_ptr out, int n) {
    mpz_ui_pow_ui(out, 10, static_cast<unsigned long>(n < 0 ? 0 : n));
}

void fromDecimal(mpz_ptr out, const ScaledDecimal& d) {
    mpz_set_ui(out, static_cast<unsigned long>(static_cast<std::uint64_t>(d.magnitude >> 64)));
    mpz_mul_2exp(out, out, 64);
    mpz_add_ui(out, out, static_cast<unsigned long>(static_cast<std::uint64_t>(d.magnitude)));
    if (d.negative)
        mpz_neg(out, out);
}

// Divides v by 10^n: rounded half away from zero, or cut towards zero.
void dropDigits(mpz_ptr v, int n, bool cut) {
    if (n <= 0)
        return;
    BigInt unit, rest;
    pow10(unit, n);
    mpz_tdiv_qr(v, rest, v, unit);
    if (cut)
        return;
    mpz_mul_2exp(rest, rest, 1);
    if (mpz_cmpabs(rest, unit) >= 0) {
        if (sign(rest) < 0)
            mpz_sub_ui(v, v, 1);
        else
            mpz_add_ui(v, v, 1);
    }
}

// v from scale `from` to scale `to`.
void rescale(mpz_ptr v, int from, int to, bool cut = false) {
    if (to >= from) {
        BigInt unit;
        pow10(unit, to - from);
        mpz_mul(v, v, unit);
    } else {
        dropDigits(v, from - to, cut);
    }
}

// The result type the translator passed: precision, scale and kind.
struct ResultType {
    int precision = 38;
    int scale = 0;
    int kind = 0; // 0 decimal, 1 money, 2 smallmoney

    ColumnType columnType() const {
        ColumnType t;
        t.type = kind == 1 ? SqlType::Money : kind == 2 ? SqlType::SmallMoney : SqlType::Decimal;
        t.precision = precision;
        t.scale = scale;
        return t;
    }
    std::string typeName() const {
        return kind == 1 ? "money" : kind == 2 ? "smallmoney" : "numeric";
    }
};

ResultType resultType(sqlite3_value** a) {
    return {sqlite3_value_int(a[0]), sqlite3_value_int(a[1]), sqlite3_value_int(a[2])};
}

void overflow(sqlite3_context* ctx, const ResultType& r) {
    resultError(ctx, 8115, 16,
                "Arithmetic overflow error converting expression to data type " + r.typeName() +
                    ".");
}

// Sets v (at the result's scale) as the function's result: checked against the
// precision or money's range, then in the form CAST gives such values.
void setResult(sqlite3_context* ctx, mpz_srcptr v, const ResultType& r) {
    BigInt limit;
    if (r.kind == 0) {
        pow10(limit, r.precision);
        if (mpz_cmpabs(v, limit) >= 0)
            return overflow(ctx, r);
    } else {
        // money: -2^63 .. 2^63-1, smallmoney: -2^31 .. 2^31-1, in 1/10000.
        mpz_set_ui(limit, 1);
        mpz_mul_2exp(limit, limit, r.kind == 1 ? 63 : 31);
        const bool above = mpz_cmp(v, limit) >= 0;
        mpz_neg(limit, limit);
        if (above || mpz_cmp(v, limit) < 0)
            return overflow(ctx, r);
    }
    // Within 38 digits now: back to 128 bits.
    ScaledDecimal d;
    d.negative = sign(v) < 0;
    BigInt m, high;
    mpz_abs(m, v);
    mpz_tdiv_q_2exp(high, m, 64);
    d.magnitude = (Int128(mpz_get_ui(high)) << 64) | Int128(mpz_get_ui(m));
    ConvertError e;
    const Value value =
        convertValue(r.columnType(), formatDecimal(d, r.kind ? 4 : r.scale), -1, true, &e);
    if (!e.text.empty())
        return overflow(ctx, r);
    result(ctx, value);
}

// Argument a as an integer at `scale`; false when it is NULL. Text that is no
// number fails as SQL Server's conversion to numeric does.
bool scaledArg(sqlite3_context* ctx, sqlite3_value* a, int scale, mpz_ptr out, bool* failed) {
    *failed = false;
    if (sqlite3_value_type(a) == SQLITE_NULL)
        return false;
    const Value v = argValue(a);
    const auto d = decimalFromValue(v, scale);
    if (!d) {
        *failed = true;
        if (std::holds_alternative<std::string>(v))
            resultError(ctx, 8114, 16, "Error converting data type varchar to numeric.");
        else
            resultError(ctx, 8115, 16,
                        "Arithmetic overflow error converting expression to data type numeric.");
        return false;
    }
    fromDecimal(out, *d);
    return true;
}

// An operand of a scalar function: false when the function's result is set
// already (NULL for a NULL operand, or the conversion's error).
bool operand(sqlite3_context* ctx, sqlite3_value* a, int scale, mpz_ptr out) {
    bool failed = false;
    if (scaledArg(ctx, a, scale, out, &failed))
        return true;
    if (!failed)
        sqlite3_result_null(ctx);
    return false;
}

enum class Op { Add, Sub, Mul, Div, Mod, Neg, Abs, Ceiling, Floor };

Op opOf(sqlite3_context* ctx) {
    return static_cast<Op>(reinterpret_cast<std::intptr_t>(sqlite3_user_data(ctx)));
}

// tds_add ... tds_mod(a, b, scale a, scale b, precision, scale, kind)
void sqlBinary(sqlite3_context* ctx, int, sqlite3_value** a) {
    const int sa = sqlite3_value_int(a[2]), sb = sqlite3_value_int(a[3]);
    const ResultType r = resultType(a + 4);
    BigInt x, y;
    if (!operand(ctx, a[0], sa, x) || !operand(ctx, a[1], sb, y))
        return;
    const Op op = opOf(ctx);
    if ((op == Op::Div || op == Op::Mod) && sign(y) == 0)
        return resultError(ctx, 8134, 16, "Divide by zero error encountered.");
    switch (op) {
    case Op::Add:
    case Op::Sub:
    case Op::Mod: {
        const int s = std::max(sa, sb);
        rescale(x, sa, s);
        rescale(y, sb, s);
        if (op == Op::Add)
            mpz_add(x, x, y);
        else if (op == Op::Sub)
            mpz_sub(x, x, y);
        else
            mpz_tdiv_r(x, x, y); // the sign of the dividend, as T-SQL's %
        rescale(x, s, r.scale);
        break;
    }
    case Op::Mul:
        mpz_mul(x, x, y);
        rescale(x, sa + sb, r.scale);
        break;
    default: // Div: x / y at the result's scale, cut
        rescale(x, sa, r.scale + sb);
        mpz_tdiv_q(x, x, y);
        break;
    }
    setResult(ctx, x, r);
}

// tds_neg, tds_abs, tds_ceiling, tds_floor(a, scale a, precision, scale, kind)
void sqlUnary(sqlite3_context* ctx, int, sqlite3_value** a) {
    const int sa = sqlite3_value_int(a[1]);
    const ResultType r = resultType(a + 2);
    BigInt x;
    if (!operand(ctx, a[0], sa, x))
        return;
    int scale = sa; // of x
    switch (opOf(ctx)) {
    case Op::Neg:
        mpz_neg(x, x);
        break;
    case Op::Abs:
        mpz_abs(x, x);
        break;
    default: { // Ceiling, Floor: the next whole number up or down
        const bool up = opOf(ctx) == Op::Ceiling;
        BigInt unit, rest;
        pow10(unit, sa);
        mpz_tdiv_qr(x, rest, x, unit);
        if (up && sign(rest) > 0)
            mpz_add_ui(x, x, 1);
        if (!up && sign(rest) < 0)
            mpz_sub_ui(x, x, 1);
        scale = 0;
        break;
    }
    }
    rescale(x, scale, r.scale);
    setResult(ctx, x, r);
}

// tds_round(a, places, truncate, scale a, precision, scale, kind): ROUND keeps
// the type; a result that no longer fits it (ROUND(999.9, 0) as decimal(4,1))
// overflows.
void sqlRound(sqlite3_context* ctx, int, sqlite3_value** a) {
    const int sa = sqlite3_value_int(a[3]);
    const ResultType r = resultType(a + 4);
    BigInt x;
    if (!operand(ctx, a[0], sa, x))
        return;
    if (sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const sqlite3_int64 places = sqlite3_value_int64(a[1]);
    const int drop = places >= sa ? 0 : static_cast<int>(std::min<sqlite3_int64>(sa - places, 80));
    if (drop > 0) {
        dropDigits(x, drop, sqlite3_value_int(a[2]) != 0);
        rescale(x, 0, drop);
    }
    rescale(x, sa, r.scale);
    setResult(ctx, x, r);
}

// SUM and AVG: the exact total at the input's scale and the count of values.
struct Total {
    BigInt sum;
    std::int64_t count = 0;
    bool failed = false;
};

struct AggregateKind {
    int scale = 0; // of the input
    bool avg = false;
    bool money = false;
};

AggregateKind kindOf(sqlite3_context* ctx) {
    const auto bits = reinterpret_cast<std::intptr_t>(sqlite3_user_data(ctx));
    return {static_cast<int>(bits & 0xFF), (bits & 0x100) != 0, (bits & 0x200) != 0};
}

void sqlTotalStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    auto** slot = static_cast<Total**>(sqlite3_aggregate_context(ctx, sizeof(Total*)));
    if (!slot)
        return sqlite3_result_error_nomem(ctx);
    if (!*slot)
        *slot = new Total;
    Total& t = **slot;
    if (t.failed)
        return;
    BigInt x;
    if (!scaledArg(ctx, a[0], kindOf(ctx).scale, x, &t.failed))
        return;
    mpz_add(t.sum, t.sum, x);
    ++t.count;
}

// The window's value so far, or the aggregate's result.
void sqlTotalValue(sqlite3_context* ctx) {
    auto** slot = static_cast<Total**>(sqlite3_aggregate_context(ctx, 0));
    const Total* t = slot ? *slot : nullptr;
    const AggregateKind kind = kindOf(ctx);
    if (!t || t->failed || t->count == 0) {
        if (!t || !t->failed)
            sqlite3_result_null(ctx);
        return;
    }
    ResultType r{38, kind.money ? 4 : kind.scale, kind.money ? 1 : 0};
    BigInt v;
    mpz_set(v, t->sum);
    if (kind.avg) {
        if (!kind.money)
            r.scale = std::max(kind.scale, 6);
        rescale(v, kind.scale, r.scale);
        BigInt n;
        mpz_set_si(n, static_cast<long>(t->count));
        mpz_tdiv_q(v, v, n);
    }
    setResult(ctx, v, r);
}

// A row leaves the window.
void sqlTotalInverse(sqlite3_context* ctx, int, sqlite3_value** a) {
    auto** slot = static_cast<Total**>(sqlite3_aggregate_context(ctx, 0));
    Total* t = slot ? *slot : nullptr;
    if (!t || t->failed)
        return;
    BigInt x;
    if (!scaledArg(ctx, a[0], kindOf(ctx).scale, x, &t->failed))
        return;
    mpz_sub(t->sum, t->sum, x);
    --t->count;
}

void sqlTotalFinal(sqlite3_context* ctx) {
    sqlTotalValue(ctx);
    if (auto** slot = static_cast<Total**>(sqlite3_aggregate_context(ctx, 0)))
        delete *slot;
}

} // namespace

void registerExactFunctions(sqlite3* c) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    auto tag = [](auto v) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(v)); };
    const struct {
        const char* name;
        Op op;
    } binary[] = {{"tds_add", Op::Add},
                  {"tds_sub", Op::Sub},
                  {"tds_mul", Op::Mul},
                  {"tds_div", Op::Div},
                  {"tds_mod", Op::Mod}},
      unary[] = {{"tds_neg", Op::Neg},
                 {"tds_abs", Op::Abs},
                 {"tds_ceiling", Op::Ceiling},
                 {"tds_floor", Op::Floor}};
    for (const auto& f : binary)
        sqlite3_create_function_v2(c, f.name, 7, flags, tag(f.op), sqlBinary, nullptr, nullptr,
                                   nullptr);
    for (const auto& f : unary)
        sqlite3_create_function_v2(c, f.name, 5, flags, tag(f.op), sqlUnary, nullptr, nullptr,
                                   nullptr);
    sqlite3_create_function_v2(c, "tds_round", 7, flags, nullptr, sqlRound, nullptr, nullptr,
                               nullptr);
    for (int avg = 0; avg <= 1; ++avg) {
        const std::string prefix = avg ? "tds_avg_" : "tds_sum_";
        for (int s = 0; s <= 39; ++s) {
            const bool money = s == 39;
            const std::string name = prefix + (money ? std::string("money") : std::to_string(s));
            const int bits = (money ? 4 : s) | (avg ? 0x100 : 0) | (money ? 0x200 : 0);
            sqlite3_create_window_function(c, name.c_str(), 1, flags, tag(bits), sqlTotalStep,
                                           sqlTotalFinal, sqlTotalValue, sqlTotalInverse, nullptr);
        }
    }
}

} // namespace tds::sqlfn
