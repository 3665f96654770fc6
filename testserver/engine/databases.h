#pragma once
// The SQLite files behind a session's databases: one file per database in the
// data folder, one connection per file, and other databases attached to a
// connection under their own name so that three-part names reach them.

#include <sqlite3.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tds {

class DatabaseFiles {
public:
    // `setup` prepares each new connection (handlers, SQL functions).
    DatabaseFiles(std::string dataDir, std::function<void(sqlite3*)> setup);
    ~DatabaseFiles();
    DatabaseFiles(const DatabaseFiles&) = delete;
    DatabaseFiles& operator=(const DatabaseFiles&) = delete;

    std::string path(const std::string& name) const;
    // The built-in databases, then the files of the data folder by name.
    std::vector<std::string> names() const;
    std::optional<std::string> find(const std::string& name) const; // actual spelling
    // The connection to a database, opened (and its file created) on first use;
    // throws std::runtime_error.
    sqlite3* open(const std::string& name);
    // The schema under which `conn` reaches database `name`, attaching it on
    // first use; nothing when there is no such database.
    std::optional<std::string> attach(sqlite3* conn, const std::string& name);
    // Detaches and closes a database everywhere and deletes its files.
    void remove(const std::string& name);

private:
    std::string m_dataDir;
    std::function<void(sqlite3*)> m_setup;
    std::map<std::string, sqlite3*> m_conns; // lower-case database name -> connection
    std::map<sqlite3*, std::map<std::string, std::string>>
        m_attached; // per connection: lower db -> schema
};

} // namespace tds
