#pragma once
// ADO (OLE DB) connection strings: "Key=Value;Key=Value".
//
// Values may be quoted with double or single quotes (a doubled quote inside
// stands for one). The system builds its strings by plain concatenation, so a
// password or database name can contain ";" or "=" unquoted; a ";" therefore
// ends a value only where a known keyword (or, for an unknown one, any
// "name=") follows it. Formatting quotes every value that needs it, so
// format(parse(s)) always parses back to the same pairs.

#include <QList>
#include <QString>
#include <QStringView>

namespace data {

struct ConnectionStringItem {
    QString key;
    QString value;
};

class ConnectionString {
public:
    ConnectionString() = default;
    static ConnectionString parse(const QString& text);

    const QList<ConnectionStringItem>& items() const { return m_items; }
    bool contains(QStringView key) const;
    // Value of the first item with that key (case-insensitive), empty if none.
    QString value(QStringView key) const;
    // Replaces the first item with that key, or appends one.
    void setValue(const QString& key, const QString& value);
    void remove(QStringView key);
    QString toString() const;

private:
    QList<ConnectionStringItem> m_items;
};

// A value as ADO writes it into a connection string: as it is when plain; in
// double quotes when it holds ";", "=", a quote or blanks at either end; in
// single quotes instead when it holds a double quote but no single one; a
// double quote inside double quotes is doubled.
QString adoValue(const QString& value);

// Keywords the parser knows, so that an unquoted ";" inside a value is kept
// unless one of them follows.
bool isKnownConnectionKeyword(QStringView key);

} // namespace data
