#pragma once
// A ResultSink that records every event, for checking what the engine replies.

#include "testserver/engine/engine.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tds::test {

struct Event {
    enum Kind { Columns, Row, Done, Message, DbChange, ReturnStatus, ReturnValue };
    Kind kind = Columns;
    std::vector<Column> cols;
    std::vector<Value> values;
    DoneKind doneKind = DoneKind::Done;
    std::uint16_t status = 0;
    std::uint64_t count = 0;
    tds::Message msg;
    std::string oldDb, newDb;
    std::int32_t returnStatus = 0;
    std::string name;
    ColumnType type;
};

class RecordingSink : public ResultSink {
public:
    std::vector<Event> events;
    std::size_t stopAfterRows = 0; // row() returns false after this many rows (0 = never)

    void columns(const std::vector<Column>& cols) override;
    bool row(const std::vector<Value>& values) override;
    void done(DoneKind kind, std::uint16_t status, std::uint64_t rowCount,
              std::uint16_t curCmd) override;
    void message(const tds::Message& m) override;
    void databaseChanged(const std::string& oldDb, const std::string& newDb) override;
    void returnStatus(std::int32_t status) override;
    void returnValue(const std::string& name, const ColumnType& type, const Value& value,
                     bool output) override;

    // Conveniences over the recording.
    std::vector<tds::Message> messages() const;
    std::vector<tds::Message> errors() const;
    std::vector<const Event*> dones() const;
    // Result sets in order: columns and rows.
    struct ResultSet {
        std::vector<Column> cols;
        std::vector<std::vector<Value>> rows;
    };
    std::vector<ResultSet> results() const;
    std::size_t rowCount() const { return m_rows; }
    void clear();

private:
    std::size_t m_rows = 0;
};

// A fresh data folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Shorthands for comparing values.
std::string text(const Value& v);
std::int64_t integer(const Value& v);
bool isNull(const Value& v);

} // namespace tds::test
