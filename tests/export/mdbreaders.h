#pragma once
// Independent readers of Access databases for the export tests: the mdbtools programs and,
// through unixODBC, the mdbtools ODBC driver.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace mdbreaders {

// How the readers show a null value in the rows below.
inline const QString kNull = QStringLiteral("<NULL>");

// True when the mdbtools programs are installed.
bool mdbtoolsPresent();
// mdb-ver's answer ("JET4").
QString version(const QString& path);
// mdb-tables: user tables, one per entry.
QStringList tables(const QString& path);
// mdb-schema for one table.
QString schema(const QString& path, const QString& table);
// mdb-prop for one catalog object: its property sets by name ("(none)" for the object
// itself, else the column's), each as property name to value text.
QMap<QString, QMap<QString, QString>> properties(const QString& path, const QString& object,
                                                 QString* error);
// mdb-export's rows (header left out), values as texts, dates as "yyyy-MM-dd HH:mm:ss",
// nulls as kNull. An empty list with *error set when the program failed.
QList<QStringList> exportRows(const QString& path, const QString& table, QString* error);

// True when unixODBC knows the driver "MDBTools".
bool odbcDriverRegistered();
// The rows of a query through the driver, nulls as kNull; *error set on failure.
QList<QStringList> odbcRows(const QString& path, const QString& sql, QString* error);

// The strict Jet 4 reader (a Java program): its path, empty when it is not there.
QString strictReader();
// Runs it once over the files: true when it opens every one and reads all their rows; *output
// gets what it printed (per file its tables, their row counts and the first rows).
bool strictRead(const QStringList& paths, QString* output);

} // namespace mdbreaders
