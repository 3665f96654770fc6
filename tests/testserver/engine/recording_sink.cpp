#include "tests/testserver/engine/recording_sink.h"

#include <atomic>
#include <random>

namespace tds::test {

void RecordingSink::columns(const std::vector<Column>& cols) {
    Event e;
    e.kind = Event::Columns;
    e.cols = cols;
    events.push_back(std::move(e));
}

bool RecordingSink::row(const std::vector<Value>& values) {
    Event e;
    e.kind = Event::Row;
    e.values = values;
    events.push_back(std::move(e));
    ++m_rows;
    return stopAfterRows == 0 || m_rows < stopAfterRows;
}

void RecordingSink::done(DoneKind kind, std::uint16_t status, std::uint64_t rowCount,
                         std::uint16_t) {
    Event e;
    e.kind = Event::Done;
    e.doneKind = kind;
    e.status = status;
    e.count = rowCount;
    events.push_back(std::move(e));
}

void RecordingSink::message(const tds::Message& m) {
    Event e;
    e.kind = Event::Message;
    e.msg = m;
    events.push_back(std::move(e));
}

void RecordingSink::databaseChanged(const std::string& oldDb, const std::string& newDb) {
    Event e;
    e.kind = Event::DbChange;
    e.oldDb = oldDb;
    e.newDb = newDb;
    events.push_back(std::move(e));
}

void RecordingSink::returnStatus(std::int32_t status) {
    Event e;
    e.kind = Event::ReturnStatus;
    e.returnStatus = status;
    events.push_back(std::move(e));
}

void RecordingSink::returnValue(const std::string& name, const ColumnType& type, const Value& value,
                                bool) {
    Event e;
    e.kind = Event::ReturnValue;
    e.name = name;
    e.type = type;
    e.values = {value};
    events.push_back(std::move(e));
}

std::vector<tds::Message> RecordingSink::messages() const {
    std::vector<tds::Message> r;
    for (const auto& e : events)
        if (e.kind == Event::Message)
            r.push_back(e.msg);
    return r;
}

std::vector<tds::Message> RecordingSink::errors() const {
    std::vector<tds::Message> r;
    for (const auto& e : events)
        if (e.kind == Event::Message && e.msg.error)
            r.push_back(e.msg);
    return r;
}

std::vector<const Event*> RecordingSink::dones() const {
    std::vector<const Event*> r;
    for (const auto& e : events)
        if (e.kind == Event::Done)
            r.push_back(&e);
    return r;
}

std::vector<RecordingSink::ResultSet> RecordingSink::results() const {
    std::vector<ResultSet> r;
    for (const auto& e : events) {
        if (e.kind == Event::Columns)
            r.push_back(ResultSet{e.cols, {}});
        else if (e.kind == Event::Row && !r.empty())
            r.back().rows.push_back(e.values);
    }
    return r;
}

void RecordingSink::clear() {
    events.clear();
    m_rows = 0;
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto p = base / ("engine-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(p)) {
            m_path = p.string();
            break;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string text(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v))
        return std::to_string(*d);
    if (const auto* b = std::get_if<Blob>(&v))
        return std::string(b->begin(), b->end());
    return "<NULL>";
}

std::int64_t integer(const Value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return *i;
    if (const auto* d = std::get_if<double>(&v))
        return static_cast<std::int64_t>(*d);
    return -999999;
}

bool isNull(const Value& v) {
    return std::holds_alternative<Null>(v);
}

} // namespace tds::test
