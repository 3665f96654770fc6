// The SQLite files behind a session's databases.

#include "testserver/engine/databases.h"

#include "testserver/engine/lexer.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tds {

using namespace sql;

namespace {

const std::vector<std::string>& builtinDatabases() {
    static const std::vector<std::string> names = {"master", "tempdb", "model", "msdb"};
    return names;
}

bool validDatabaseName(const std::string& name) {
    if (name.empty() || name.size() > 128 || name == "." || name == "..")
        return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0' || c == ':')
            return false;
    return true;
}

} // namespace

DatabaseFiles::DatabaseFiles(std::string dataDir, std::function<void(sqlite3*)> setup)
    : m_dataDir(std::move(dataDir)), m_setup(std::move(setup)) {}

DatabaseFiles::~DatabaseFiles() {
    for (auto& [name, c] : m_conns)
        sqlite3_close_v2(c);
}

std::string DatabaseFiles::path(const std::string& name) const {
    return (fs::path(m_dataDir) / (name + ".db")).string();
}

std::vector<std::string> DatabaseFiles::names() const {
    std::vector<std::string> names = builtinDatabases();
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m_dataDir, ec)) {
        if (!e.is_regular_file(ec) || e.path().extension() != ".db")
            continue;
        const std::string stem = e.path().stem().string();
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string& n) { return iequals(n, stem); }))
            files.push_back(stem);
    }
    std::sort(files.begin(), files.end(),
              [](const std::string& a, const std::string& b) { return toLower(a) < toLower(b); });
    names.insert(names.end(), files.begin(), files.end());
    return names;
}

std::optional<std::string> DatabaseFiles::find(const std::string& name) const {
    if (!validDatabaseName(name))
        return std::nullopt;
    for (const auto& n : names())
        if (iequals(n, name))
            return n;
    return std::nullopt;
}

sqlite3* DatabaseFiles::open(const std::string& name) {
    const std::string key = toLower(name);
    if (auto it = m_conns.find(key); it != m_conns.end())
        return it->second;
    std::error_code ec;
    fs::create_directories(m_dataDir, ec);
    sqlite3* c = nullptr;
    const int rc =
        sqlite3_open_v2(path(name).c_str(), &c,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = c ? sqlite3_errmsg(c) : "out of memory";
        sqlite3_close_v2(c);
        throw std::runtime_error(msg);
    }
    sqlite3_extended_result_codes(c, 1);
    m_setup(c);
    sqlite3_exec(c, "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL;",
                 nullptr, nullptr, nullptr);
    m_conns[key] = c;
    return c;
}

std::optional<std::string> DatabaseFiles::attach(sqlite3* conn, const std::string& name) {
    const auto actual = find(name);
    if (!actual)
        return std::nullopt;
    auto& att = m_attached[conn];
    const std::string key = toLower(*actual);
    if (auto it = att.find(key); it != att.end())
        return it->second;
    open(*actual); // creates the file of a built-in database when missing
    const std::string sqlText =
        "ATTACH DATABASE " + quoteString(path(*actual)) + " AS " + quoteIdent(*actual);
    if (sqlite3_exec(conn, sqlText.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::nullopt;
    att[key] = *actual;
    return *actual;
}

void DatabaseFiles::remove(const std::string& name) {
    for (auto& [c, att] : m_attached) {
        if (att.erase(toLower(name))) {
            const std::string q = "DETACH DATABASE " + quoteIdent(name);
            sqlite3_exec(c, q.c_str(), nullptr, nullptr, nullptr);
        }
    }
    if (auto it = m_conns.find(toLower(name)); it != m_conns.end()) {
        m_attached.erase(it->second);
        sqlite3_close_v2(it->second);
        m_conns.erase(it);
    }
    std::error_code ec;
    const std::string file = path(name);
    fs::remove(file, ec);
    fs::remove(file + "-wal", ec);
    fs::remove(file + "-shm", ec);
}

} // namespace tds
