#include "export/streamexport.h"

#include "export/fileio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>
#include <xlsxwriter.h>

namespace exportfile {

using data::ResultStore;
using data::StorageKind;

namespace {

constexpr qint64 kTicksPerDay = qint64(864000000000);
// Days from 0001-01-01 to 1899-12-30, the day a spreadsheet's date serial 0 stands for.
constexpr qint64 kSerialEpochDays = 693593;
// Rows between two looks at the cancel flag and two progress reports.
constexpr qint64 kRowsPerCheck = 4096;
// Bytes gathered before they go to the file.
constexpr qsizetype kFlushBytes = qsizetype(1) << 20;
// Characters a spreadsheet cell holds.
constexpr qsizetype kCellChars = 32767;

// Reads cells straight from the store's blocks when it has no edits (one look-up per block,
// not per value), through the store's row map otherwise.
class CellReader {
public:
    explicit CellReader(const ResultStore& store)
        : m_store(store), m_fast(!store.hasEdits()), m_views(size_t(store.columnCount())) {}

    const ResultStore& store() const { return m_store; }
    StorageKind kind(int col) const { return m_store.column(col).kind; }

    bool isNull(qint64 row, int col) {
        return m_fast ? view(row, col).isNull(row) : m_store.isNull(row, col);
    }
    std::int64_t integer(qint64 row, int col) {
        return m_fast ? view(row, col).integer(row) : m_store.integer(row, col);
    }
    double real(qint64 row, int col) {
        return m_fast ? view(row, col).fixedValue<double>(row) : m_store.real(row, col);
    }
    QByteArrayView bytes(qint64 row, int col) {
        return m_fast ? view(row, col).bytes(row) : m_store.bytes(row, col);
    }
    QStringView utf16(qint64 row, int col) {
        if (!m_fast)
            return m_store.utf16(row, col);
        const QByteArrayView b = view(row, col).bytes(row);
        return QStringView(reinterpret_cast<const char16_t*>(b.data()), b.size() / 2);
    }
    // A text or binary value of a variable kind as UTF-8 (binary values as they are).
    QByteArray utf8(qint64 row, int col) {
        if (kind(col) == StorageKind::Utf16)
            return utf16(row, col).toUtf8();
        return bytes(row, col).toByteArray();
    }

private:
    const ResultStore::BlockView& view(qint64 row, int col) {
        ResultStore::BlockView& v = m_views[size_t(col)];
        if (!v.contains(row))
            v = m_store.blockView(row, col);
        return v;
    }

    const ResultStore& m_store;
    bool m_fast;
    std::vector<ResultStore::BlockView> m_views;
};

bool isDecimalText(const data::ColumnInfo& c) {
    return c.kind == StorageKind::Utf8 && (c.type == ftBCD || c.type == ftFMTBcd);
}

void appendDecimal(QByteArray& out, std::int64_t unscaled, int scale) {
    const bool negative = unscaled < 0;
    const std::uint64_t mag = negative ? 0 - std::uint64_t(unscaled) : std::uint64_t(unscaled);
    char digits[24];
    const int count = int(std::to_chars(digits, digits + sizeof digits, mag).ptr - digits);
    if (negative)
        out += '-';
    if (scale <= 0) {
        out.append(digits, count);
        return;
    }
    if (count <= scale) {
        out += "0.";
        out.append(scale - count, '0');
        out.append(digits, count);
        return;
    }
    out.append(digits, count - scale);
    out += '.';
    out.append(digits + count - scale, scale);
}

// Whether a decimal written as text survives the trip through a double: at most 15
// significant digits do.
bool fitsDouble(QByteArrayView decimal) {
    int significant = 0;
    bool leading = true;
    for (char ch : decimal) {
        if (ch < '0' || ch > '9')
            continue;
        if (leading && ch == '0')
            continue;
        leading = false;
        ++significant;
    }
    return significant <= 15;
}

// --- text of values, appended without passing through QString -----------------------------

void appendInteger(QByteArray& out, std::int64_t v) {
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    out.append(buf, end - buf);
}

// The shortest text that reads back as the same double.
void appendReal(QByteArray& out, double v) {
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    out.append(buf, end - buf);
}

void appendDigits(char*& p, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
        p[i] = char('0' + value % 10);
    p += digits;
}

// Days since 0001-01-01 as year, month and day (proleptic Gregorian).
void civilFromDays(std::int64_t days, int& y, int& m, int& d) {
    const std::int64_t z = days + 306; // from 0000-03-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// "yyyy-MM-dd"
void appendDate(QByteArray& out, std::int64_t days) {
    int y, m, d;
    civilFromDays(days, y, m, d);
    char buf[10];
    char* p = buf;
    appendDigits(p, y, 4);
    *p++ = '-';
    appendDigits(p, m, 2);
    *p++ = '-';
    appendDigits(p, d, 2);
    out.append(buf, p - buf);
}

// "hh:mm:ss", with ".zzz" when there are milliseconds, as the grid shows times.
// Fraction digits of a column's times: all the server sent for datetime2 and
// time, -1 (milliseconds where there are any) for the older types.
int fractionDigits(const data::ColumnInfo& c) {
    const bool exact = c.typeName.compare(QLatin1String("datetime2"), Qt::CaseInsensitive) == 0 ||
                       c.typeName.compare(QLatin1String("time"), Qt::CaseInsensitive) == 0;
    return exact ? std::clamp(c.scale, 0, 7) : -1;
}

void appendTime(QByteArray& out, std::int64_t ticks, int fraction = -1) {
    const std::int64_t ms = ticks / 10000;
    if (fraction >= 0) {
        char buf[20];
        const std::int64_t secs = ticks / 10000000;
        char* p = buf;
        appendDigits(p, int(secs / 3600), 2);
        *p++ = ':';
        appendDigits(p, int(secs / 60 % 60), 2);
        *p++ = ':';
        appendDigits(p, int(secs % 60), 2);
        if (fraction > 0) {
            std::int64_t f = ticks % 10000000;
            for (int k = fraction; k < 7; ++k)
                f /= 10;
            *p++ = '.';
            appendDigits(p, int(f), fraction);
        }
        out.append(buf, p - buf);
        return;
    }
    char buf[12];
    char* p = buf;
    appendDigits(p, int(ms / 3600000), 2);
    *p++ = ':';
    appendDigits(p, int(ms / 60000 % 60), 2);
    *p++ = ':';
    appendDigits(p, int(ms / 1000 % 60), 2);
    if (ms % 1000 != 0) {
        *p++ = '.';
        appendDigits(p, int(ms % 1000), 3);
    }
    out.append(buf, p - buf);
}

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD. Written straight into out's storage
// (room for three bytes per code unit, the most one takes), not a character at a time.
void appendUtf8(QByteArray& out, QStringView text) {
    const qsizetype n = text.size();
    const char16_t* u = text.utf16();
    const qsizetype start = out.size();
    out.resize(start + 3 * n);
    char* p = out.data() + start;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = u[i];
        if (c < 0x80) {
            *p++ = char(c);
            continue;
        }
        if (c >= 0xD800 && c < 0xE000) {
            if (c < 0xDC00 && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] < 0xE000)
                c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
            else
                c = 0xFFFD;
        }
        if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        } else { // two code units in, four bytes out
            *p++ = char(0xF0 | (c >> 18));
            *p++ = char(0x80 | ((c >> 12) & 0x3F));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        }
    }
    out.truncate(p - out.data());
}

// Dates and times in ISO form, as the grid shows them; other kinds as the store's text.
void appendDateTimeText(QByteArray& out, CellReader& in, qint64 row, int col) {
    const int fraction = fractionDigits(in.store().column(col));
    switch (in.kind(col)) {
    case StorageKind::DateTime: {
        const std::int64_t t = in.integer(row, col);
        appendDate(out, t / kTicksPerDay);
        out += ' ';
        appendTime(out, t % kTicksPerDay, fraction);
        return;
    }
    case StorageKind::Date:
        appendDate(out, in.integer(row, col));
        return;
    case StorageKind::Time:
        appendTime(out, in.integer(row, col), fraction);
        return;
    default:
        out += in.store().text(row, col).toUtf8();
    }
}

// Gathers output and writes it to the file in large pieces.
class BufferedFile {
public:
    explicit BufferedFile(const QString& path) : m_file(path) {
        openForWriting(m_file);
        m_buffer.reserve(kFlushBytes + 65536);
    }
    QByteArray& buffer() { return m_buffer; }
    // Writes what is gathered, then bytes.
    void write(const QByteArray& bytes) {
        flush();
        writeBytes(m_file, bytes);
    }
    void flushIfFull() {
        if (m_buffer.size() >= kFlushBytes)
            flush();
    }
    void finish() {
        flush();
        flushFile(m_file);
        m_file.close();
    }

private:
    void flush() {
        writeBytes(m_file, m_buffer);
        m_buffer.clear();
    }
    QFile m_file;
    QByteArray m_buffer;
};

// Calls the progress report and looks at the cancel flag every kRowsPerCheck rows.
class RowPacer {
public:
    explicit RowPacer(const StreamControl& control) : m_control(control) {}
    void row(qint64 written) {
        if (written % kRowsPerCheck != 0)
            return;
        check();
        if (m_control.progress)
            m_control.progress(written);
    }
    // After a piece of rows: the cancel flag and the progress report, whatever the count.
    void step(qint64 written) {
        check();
        if (m_control.progress)
            m_control.progress(written);
    }
    bool cancelled() const {
        return m_control.cancel && m_control.cancel->load(std::memory_order_relaxed);
    }
    void check() const {
        if (cancelled())
            throw ExportCancelled();
    }
    void done(qint64 written) const {
        check();
        if (m_control.progress)
            m_control.progress(written);
    }

private:
    const StreamControl& m_control;
};

// Formats the rows [first, last) into piece.
using PieceFormatter = std::function<void(QByteArray& piece, qint64 first, qint64 last)>;

// Formats the rows in pieces of kPieceRows on as many threads as there are cores (at most
// four), and writes the pieces to the file in order. The store is only read, so the pieces
// need no lock; each has a reader of its own. The cancel flag and the progress report are
// looked at between pieces.
void writeInPieces(BufferedFile& file, qint64 rows, RowPacer& pacer, const PieceFormatter& format) {
    constexpr qint64 kPieceRows = 8192;
    const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    // A future of std::async waits for its thread when destroyed, so a failure or a cancel
    // leaves no thread reading the store once this returns.
    std::deque<std::future<QByteArray>> pending;
    std::atomic<qsizetype> sizeHint{0}; // bytes of the largest piece so far
    qint64 next = 0;
    auto launch = [&] {
        const qint64 first = next;
        const qint64 last = std::min(rows, next + kPieceRows);
        next = last;
        pending.push_back(std::async(std::launch::async, [&format, &sizeHint, first, last] {
            // Room for what the pieces before took, so the piece does not grow step by step.
            QByteArray piece;
            const qsizetype hint = sizeHint.load(std::memory_order_relaxed);
            piece.reserve(hint + hint / 8 + 4096);
            format(piece, first, last);
            if (piece.size() > hint)
                sizeHint.store(piece.size(), std::memory_order_relaxed);
            return piece;
        }));
    };
    while (next < rows && qsizetype(pending.size()) < threads)
        launch();
    qint64 written = 0;
    while (!pending.empty()) {
        const QByteArray piece = pending.front().get();
        pending.pop_front();
        if (next < rows)
            launch();
        file.write(piece);
        written = std::min(rows, written + kPieceRows);
        pacer.step(written);
    }
    pacer.done(rows);
}

// --- .csv ----------------------------------------------------------------------------------

void appendCsvField(QByteArray& out, QByteArrayView value, char separator) {
    bool quote = false;
    for (char ch : value)
        if (ch == separator || ch == '"' || ch == '\n' || ch == '\r') {
            quote = true;
            break;
        }
    if (!quote) {
        out += value;
        return;
    }
    out += '"';
    for (char ch : value) {
        if (ch == '"')
            out += '"';
        out += ch;
    }
    out += '"';
}

// A buffer reused for one value at a time (per thread: exports may run side by side), handed
// out empty with the storage of the value before (clear() would free it).
QByteArray& scratch() {
    thread_local QByteArray buffer;
    buffer.resize(0);
    return buffer;
}

void appendCsvValue(QByteArray& out, CellReader& in, qint64 row, int col, char separator) {
    if (in.isNull(row, col))
        return;
    const data::ColumnInfo& c = in.store().column(col);
    switch (c.kind) {
    case StorageKind::Bool:
        out += in.integer(row, col) ? "True" : "False";
        return;
    case StorageKind::UInt8:
    case StorageKind::Int16:
    case StorageKind::Int32:
    case StorageKind::Int64:
        appendInteger(out, in.integer(row, col));
        return;
    case StorageKind::Double:
        appendReal(out, in.real(row, col));
        return;
    case StorageKind::Decimal:
        appendDecimal(out, in.integer(row, col), c.scale);
        return;
    case StorageKind::Utf8:
        appendCsvField(out, in.bytes(row, col), separator);
        return;
    case StorageKind::Utf16: {
        QByteArray& text = scratch();
        appendUtf8(text, in.utf16(row, col));
        appendCsvField(out, text, separator);
        return;
    }
    case StorageKind::DateTime:
    case StorageKind::Date:
    case StorageKind::Time:
        appendDateTimeText(out, in, row, col);
        return;
    default:
        // GUIDs and binary values as the grid shows them.
        appendCsvField(out, in.store().text(row, col).toUtf8(), separator);
    }
}

qint64 writeCsv(const ResultStore& store, const QString& path, const StreamOptions& options,
                RowPacer& pacer) {
    const char separator = char(options.csvSeparator.toLatin1());
    BufferedFile file(path);
    QByteArray& out = file.buffer();
    out += "\xEF\xBB\xBF"; // the byte-order mark by which spreadsheets know UTF-8
    const int columns = store.columnCount();
    for (int col = 0; col < columns; ++col) {
        if (col > 0)
            out += separator;
        appendCsvField(out, store.column(col).name.toUtf8(), separator);
    }
    out += "\r\n";
    const qint64 rows = store.rowCount();
    writeInPieces(file, rows, pacer, [&](QByteArray& piece, qint64 first, qint64 last) {
        CellReader in(store);
        for (qint64 row = first; row < last; ++row) {
            for (int col = 0; col < columns; ++col) {
                if (col > 0)
                    piece += separator;
                appendCsvValue(piece, in, row, col, separator);
            }
            piece += "\r\n";
        }
    });
    file.finish();
    return rows;
}

// --- .json ---------------------------------------------------------------------------------

void appendJsonString(QByteArray& out, QByteArrayView utf8) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const char* run = utf8.data(); // start of the characters not yet appended
    const char* const end = utf8.data() + utf8.size();
    for (const char* p = run; p != end; ++p) {
        const auto u = static_cast<unsigned char>(*p);
        if (u >= 0x20 && u != '"' && u != '\\')
            continue;
        out.append(run, p - run);
        run = p + 1;
        switch (u) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    out.append(run, end - run);
    out += '"';
}

// A number literal, or a string where a reader's double would lose digits.
void appendJsonNumber(QByteArray& out, QByteArrayView decimal) {
    if (fitsDouble(decimal))
        out += decimal;
    else
        appendJsonString(out, decimal);
}

void appendJsonValue(QByteArray& out, CellReader& in, qint64 row, int col) {
    if (in.isNull(row, col)) {
        out += "null";
        return;
    }
    const data::ColumnInfo& c = in.store().column(col);
    switch (c.kind) {
    case StorageKind::Bool:
        out += in.integer(row, col) ? "true" : "false";
        return;
    case StorageKind::UInt8:
    case StorageKind::Int16:
    case StorageKind::Int32:
        appendInteger(out, in.integer(row, col));
        return;
    case StorageKind::Int64: {
        const std::int64_t v = in.integer(row, col);
        // Beyond 2^53 a double no longer tells neighbouring integers apart.
        constexpr std::int64_t exact = std::int64_t(1) << 53;
        if (v > exact || v < -exact) {
            out += '"';
            appendInteger(out, v);
            out += '"';
        } else {
            appendInteger(out, v);
        }
        return;
    }
    case StorageKind::Double: {
        const double v = in.real(row, col);
        if (std::isfinite(v))
            appendReal(out, v);
        else
            out += "null"; // JSON has no infinities
        return;
    }
    case StorageKind::Decimal: {
        QByteArray& decimal = scratch();
        appendDecimal(decimal, in.integer(row, col), c.scale);
        appendJsonNumber(out, decimal);
        return;
    }
    case StorageKind::Utf8:
        if (isDecimalText(c))
            appendJsonNumber(out, in.bytes(row, col));
        else
            appendJsonString(out, in.bytes(row, col));
        return;
    case StorageKind::Utf16: {
        QByteArray& text = scratch();
        appendUtf8(text, in.utf16(row, col));
        appendJsonString(out, text);
        return;
    }
    case StorageKind::DateTime:
    case StorageKind::Date:
    case StorageKind::Time:
        out += '"';
        appendDateTimeText(out, in, row, col);
        out += '"';
        return;
    case StorageKind::Bytes:
        out += '"';
        out += in.bytes(row, col).toByteArray().toBase64();
        out += '"';
        return;
    case StorageKind::Guid:
        appendJsonString(out, in.store().text(row, col).mid(1, 36).toUtf8());
        return;
    default: // dates and times in ISO form
        appendJsonString(out, in.store().text(row, col).toUtf8());
    }
}

qint64 writeJson(const ResultStore& store, const QString& path, RowPacer& pacer) {
    BufferedFile file(path);
    QByteArray& out = file.buffer();
    const int columns = store.columnCount();
    // Every key once, written ahead as `"key":`, after the first with the comma before it.
    std::vector<QByteArray> keys;
    for (const QString& key : uniqueKeys(store.columns())) {
        QByteArray k = keys.empty() ? QByteArray() : QByteArray(",");
        appendJsonString(k, key.toUtf8());
        keys.push_back(k + ':');
    }
    const qint64 rows = store.rowCount();
    out += '[';
    writeInPieces(file, rows, pacer, [&](QByteArray& piece, qint64 first, qint64 last) {
        CellReader in(store);
        for (qint64 row = first; row < last; ++row) {
            piece += row == 0 ? "\n{" : ",\n{";
            for (int col = 0; col < columns; ++col) {
                piece += keys[size_t(col)];
                appendJsonValue(piece, in, row, col);
            }
            piece += '}';
        }
    });
    file.buffer() += "\n]\n";
    file.finish();
    return rows;
}

// --- .xlsx ---------------------------------------------------------------------------------

[[noreturn]] void throwXlsxError(const QString& path, lxw_error error) {
    throw FileWriteError(path, QString::fromUtf8(lxw_strerror(error)));
}

void checkXlsx(const QString& path, lxw_error error) {
    if (error != LXW_NO_ERROR)
        throwXlsxError(path, error);
}

// At most kCellChars characters of UTF-8 text, cut on a character boundary.
QByteArray cellText(QByteArray text) {
    if (text.size() <= kCellChars)
        return text; // fewer bytes than the limit: fewer characters too
    qsizetype chars = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (chars == kCellChars) {
            text.truncate(i);
            break;
        }
        ++chars;
    }
    return text;
}

// The state of one workbook's close, shared by the close's thread and the export.
struct CloseState {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    lxw_error error = LXW_NO_ERROR;
    std::unique_ptr<StagedFiles> abandoned; // set when nobody waits any more
};

// Closes of workbooks whose export was cancelled while they assembled their file; each ends
// by itself and takes its staging folder with it. Those that have ended are joined when the
// next comes, those still running when the program ends are waited for, so no staging is left
// behind.
class AbandonedCloses {
public:
    static AbandonedCloses& instance() {
        static AbandonedCloses closes;
        return closes;
    }
    void add(std::thread thread, std::shared_ptr<CloseState> state) {
        std::lock_guard guard(m_lock);
        for (auto it = m_closes.begin(); it != m_closes.end();) {
            bool done;
            {
                std::lock_guard stateGuard(it->second->lock);
                done = it->second->done;
            }
            if (done) {
                it->first.join(); // at most the removal of its staging folder
                it = m_closes.erase(it);
            } else {
                ++it;
            }
        }
        m_closes.emplace_back(std::move(thread), std::move(state));
    }
    ~AbandonedCloses() {
        for (auto& close : m_closes)
            close.first.join();
    }

private:
    std::mutex m_lock;
    std::vector<std::pair<std::thread, std::shared_ptr<CloseState>>> m_closes;
};

// Closes book: libxlsxwriter assembles and compresses the file then, which is much of an
// .xlsx's time and has no place to stop. It runs on a thread of its own while this one looks
// at the cancel flag every few milliseconds; on a cancel this returns at once (throwing
// ExportCancelled) and the close goes on unobserved, its staging folder removed when it ends,
// so the old file stays untouched and the window is free again without waiting for it.
void closeWorkbook(lxw_workbook* book, const QString& path, std::unique_ptr<StagedFiles>& staged,
                   const RowPacer& pacer) {
    auto state = std::make_shared<CloseState>();
    std::thread close([state, book] {
        const lxw_error error = workbook_close(book); // frees the workbook, whatever it answers
        std::unique_ptr<StagedFiles> abandoned;
        {
            std::lock_guard guard(state->lock);
            state->done = true;
            state->error = error;
            abandoned = std::move(state->abandoned);
        }
        state->ended.notify_all();
        abandoned.reset(); // removes the staging folder
    });
    std::unique_lock guard(state->lock);
    while (!state->done) {
        state->ended.wait_for(guard, std::chrono::milliseconds(5));
        if (!state->done && pacer.cancelled()) {
            state->abandoned = std::move(staged);
            guard.unlock();
            AbandonedCloses::instance().add(std::move(close), state);
            throw ExportCancelled();
        }
    }
    guard.unlock();
    close.join();
    checkXlsx(path, state->error);
}

class XlsxWriter {
public:
    XlsxWriter(const ResultStore& store, const QString& path, const QString& tempFolder,
               const StreamOptions& options)
        : m_store(store), m_path(path), m_options(options), m_tempFolder(tempFolder.toUtf8()) {
        lxw_workbook_options opts{};
        opts.constant_memory = LXW_TRUE;
        opts.tmpdir = m_tempFolder.data(); // beside the file, not in a memory-backed /tmp
        opts.use_zip64 = LXW_TRUE;
        m_book = workbook_new_opt(QFile::encodeName(path).constData(), &opts);
        if (!m_book)
            throw ExportError(
                QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden.").arg(path));
        m_bold = workbook_add_format(m_book);
        format_set_bold(m_bold);
        m_dateTime = workbook_add_format(m_book);
        format_set_num_format(m_dateTime, "yyyy-mm-dd hh:mm:ss");
        m_date = workbook_add_format(m_book);
        format_set_num_format(m_date, "yyyy-mm-dd");
        m_time = workbook_add_format(m_book);
        format_set_num_format(m_time, "hh:mm:ss");
        // datetime2 and time: the spreadsheet shows at most milliseconds.
        m_dateTimeFraction = workbook_add_format(m_book);
        format_set_num_format(m_dateTimeFraction, "yyyy-mm-dd hh:mm:ss.000");
        m_timeFraction = workbook_add_format(m_book);
        format_set_num_format(m_timeFraction, "hh:mm:ss.000");
    }
    ~XlsxWriter() {
        if (m_book)
            lxw_workbook_free(m_book); // not completed: nothing is assembled
    }

    qint64 write(RowPacer& pacer) {
        const int columns = m_store.columnCount();
        if (columns > 16384)
            throw ExportError(QStringLiteral("Ein Tabellenblatt fasst höchstens 16384 Spalten; "
                                             "das Ergebnis hat %1.")
                                  .arg(columns));
        CellReader in(m_store);
        const qint64 rows = m_store.rowCount();
        const qint64 perSheet = std::max<qint64>(1, m_options.sheetRows);
        qint64 row = 0;
        int sheetNumber = 0;
        do {
            const qint64 sheetRows = std::min(perSheet, rows - row);
            lxw_worksheet* sheet = addSheet(++sheetNumber, sheetRows);
            for (qint64 r = 0; r < sheetRows; ++r, ++row) {
                for (int col = 0; col < columns; ++col)
                    writeCell(sheet, lxw_row_t(r + 1), lxw_col_t(col), in, row, col);
                pacer.row(row + 1);
            }
        } while (row < rows);
        pacer.done(rows);
        return rows;
    }
    // The workbook with every row, for closeWorkbook; this writer no longer frees it.
    lxw_workbook* release() { return std::exchange(m_book, nullptr); }

private:
    lxw_worksheet* addSheet(int number, qint64 dataRows) {
        QString name = sheetNameFor(m_options.sheetName);
        if (number > 1) {
            const QString suffix = QStringLiteral(" (%1)").arg(number);
            name = name.left(31 - suffix.size()) + suffix;
        }
        lxw_worksheet* sheet = workbook_add_worksheet(m_book, name.toUtf8().constData());
        if (!sheet)
            throw ExportError(
                QStringLiteral("Das Tabellenblatt \"%1\" kann nicht angelegt werden.").arg(name));
        const int columns = m_store.columnCount();
        for (int col = 0; col < columns; ++col)
            checkXlsx(m_path, worksheet_write_string(
                                  sheet, 0, lxw_col_t(col),
                                  cellText(m_store.column(col).name.toUtf8()).constData(), m_bold));
        worksheet_freeze_panes(sheet, 1, 0);
        if (columns > 0)
            checkXlsx(m_path, worksheet_autofilter(sheet, 0, 0, lxw_row_t(dataRows),
                                                   lxw_col_t(columns - 1)));
        return sheet;
    }

    void text(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, const QByteArray& utf8) {
        checkXlsx(m_path, worksheet_write_string(sheet, r, c, cellText(utf8).constData(), nullptr));
    }
    void number(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, double v,
                lxw_format* format = nullptr) {
        checkXlsx(m_path, worksheet_write_number(sheet, r, c, v, format));
    }
    // A date serial from 1900-03-01 on, the ISO text before. Spreadsheets disagree on the
    // serials before it: Excel counts a 29 February 1900 that never was, LibreOffice does not,
    // so the same serial is a day apart in them; as text the date reads the same everywhere.
    void dateCell(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, qint64 ticks, lxw_format* format,
                  CellReader& in, qint64 row, int col) {
        const double serial = double(ticks) / double(kTicksPerDay) - double(kSerialEpochDays);
        if (serial < 61)
            text(sheet, r, c, in.store().text(row, col).toUtf8());
        else
            number(sheet, r, c, serial, format);
    }

    void writeCell(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, CellReader& in, qint64 row,
                   int col) {
        if (in.isNull(row, col))
            return; // an empty cell
        const data::ColumnInfo& info = m_store.column(col);
        switch (info.kind) {
        case StorageKind::Bool:
            checkXlsx(m_path,
                      worksheet_write_boolean(sheet, r, c, in.integer(row, col) != 0, nullptr));
            return;
        case StorageKind::UInt8:
        case StorageKind::Int16:
        case StorageKind::Int32:
            number(sheet, r, c, double(in.integer(row, col)));
            return;
        case StorageKind::Int64: {
            const std::int64_t v = in.integer(row, col);
            constexpr std::int64_t exact = std::int64_t(1) << 53;
            if (v > exact || v < -exact)
                text(sheet, r, c, QByteArray::number(qlonglong(v)));
            else
                number(sheet, r, c, double(v));
            return;
        }
        case StorageKind::Double:
            number(sheet, r, c, in.real(row, col));
            return;
        case StorageKind::Decimal: {
            const std::int64_t unscaled = in.integer(row, col);
            // Up to 15 digits the quotient is the double nearest to the decimal: both
            // operands are exact and the division rounds once.
            constexpr std::int64_t kExactDigits = 1000000000000000; // 10^15
            if (unscaled < kExactDigits && unscaled > -kExactDigits && info.scale >= 0 &&
                info.scale <= 18) {
                double divisor = 1;
                for (int i = 0; i < info.scale; ++i)
                    divisor *= 10;
                number(sheet, r, c, double(unscaled) / divisor);
                return;
            }
            QByteArray decimal;
            appendDecimal(decimal, unscaled, info.scale);
            decimalCell(sheet, r, c, decimal);
            return;
        }
        case StorageKind::DateTime:
            dateCell(sheet, r, c, in.integer(row, col),
                     fractionDigits(info) > 0 ? m_dateTimeFraction : m_dateTime, in, row, col);
            return;
        case StorageKind::Date:
            dateCell(sheet, r, c, in.integer(row, col) * kTicksPerDay, m_date, in, row, col);
            return;
        case StorageKind::Time:
            number(sheet, r, c, double(in.integer(row, col)) / double(kTicksPerDay),
                   fractionDigits(info) > 0 ? m_timeFraction : m_time);
            return;
        case StorageKind::Utf8:
            if (isDecimalText(info))
                decimalCell(sheet, r, c, in.bytes(row, col).toByteArray());
            else
                text(sheet, r, c, in.bytes(row, col).toByteArray());
            return;
        case StorageKind::Utf16:
            text(sheet, r, c, in.utf16(row, col).toUtf8());
            return;
        case StorageKind::Guid:
            text(sheet, r, c, m_store.text(row, col).mid(1, 36).toUtf8());
            return;
        case StorageKind::Bytes:
            text(sheet, r, c, m_store.text(row, col).toUtf8());
            return;
        }
    }
    // A number where a double keeps every digit, the exact text otherwise.
    void decimalCell(lxw_worksheet* sheet, lxw_row_t r, lxw_col_t c, const QByteArray& decimal) {
        if (fitsDouble(decimal))
            number(sheet, r, c, decimal.toDouble());
        else
            text(sheet, r, c, decimal);
    }

    const ResultStore& m_store;
    QString m_path;
    const StreamOptions& m_options;
    QByteArray m_tempFolder;
    lxw_workbook* m_book = nullptr;
    lxw_format* m_bold = nullptr;
    lxw_format* m_dateTime = nullptr;
    lxw_format* m_date = nullptr;
    lxw_format* m_time = nullptr;
    lxw_format* m_dateTimeFraction = nullptr;
    lxw_format* m_timeFraction = nullptr;
};

} // namespace

QChar csvSeparatorFor(const QLocale& locale) {
    return locale.decimalPoint() == QStringLiteral(",") ? u';' : u',';
}

QString sheetNameFor(const QString& tableName) {
    QString name = tableName;
    for (QChar& ch : name)
        if (ch.unicode() < 0x20 || QStringLiteral("[]:*?/\\").contains(ch))
            ch = u'_';
    while (name.startsWith(u'\''))
        name.remove(0, 1);
    name.truncate(31);
    while (name.endsWith(u'\''))
        name.chop(1);
    // A lone high surrogate at the cut would make the name invalid UTF-16.
    if (!name.isEmpty() && name.back().isHighSurrogate())
        name.chop(1);
    return name.trimmed().isEmpty() ? QStringLiteral("Tabelle") : name;
}

QStringList uniqueKeys(const QList<data::ColumnInfo>& columns) {
    QStringList keys;
    QSet<QString> used;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        QString base = columns[i].name;
        if (base.isEmpty())
            base = QStringLiteral("Spalte%1").arg(i + 1);
        QString key = base;
        for (int n = 2; used.contains(key); ++n)
            key = base + QStringLiteral("_%1").arg(n);
        used.insert(key);
        keys << key;
    }
    return keys;
}

qint64 writeStream(StreamFormat format, const ResultStore& store, const QString& path,
                   const StreamOptions& options, const StreamControl& control) {
    RowPacer pacer(control);
    pacer.check();
    if (QFileInfo(path).isDir())
        throw ExportError(QStringLiteral("\"%1\" ist ein Ordner.").arg(path));
    removeAbandonedStaging(QFileInfo(path).absolutePath());
    auto staged = std::make_unique<StagedFiles>(path);
    const QString target = staged->path(path);
    qint64 rows = 0;
    try {
        switch (format) {
        case StreamFormat::Csv:
            rows = writeCsv(store, target, options, pacer);
            break;
        case StreamFormat::Json:
            rows = writeJson(store, target, pacer);
            break;
        case StreamFormat::Xlsx: {
            XlsxWriter writer(store, target, QFileInfo(target).absolutePath(), options);
            rows = writer.write(pacer);
            closeWorkbook(writer.release(), target, staged, pacer);
            break;
        }
        }
    } catch (const ExportCancelled&) {
        throw;
    } catch (const ExportError& e) {
        throw ExportError(staged->finalNames(e.message()));
    }
    // The last look before the file takes its name: a cancel now still keeps the old file.
    pacer.check();
    staged->commit();
    return rows;
}

} // namespace exportfile
