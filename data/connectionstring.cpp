#include "data/connectionstring.h"

#include <array>

namespace data {

namespace {

// OLE DB and SQL Server provider keywords plus the ODBC-style synonyms people
// type. Only used to decide where an unquoted value ends.
constexpr std::array<const char*, 34> kKeywords = {
    "Provider",
    "Data Source",
    "Initial Catalog",
    "User ID",
    "Password",
    "Integrated Security",
    "Persist Security Info",
    "Connect Timeout",
    "Connection Timeout",
    "Application Name",
    "Workstation ID",
    "Packet Size",
    "Network Address",
    "Network Library",
    "Use Encryption for Data",
    "Trust Server Certificate",
    "Extended Properties",
    "Locale Identifier",
    "Mode",
    "Auto Translate",
    "Current Language",
    "Use Procedure for Prepare",
    "Server",
    "Database",
    "UID",
    "PWD",
    "User",
    "Trusted_Connection",
    "Encrypt",
    "Port",
    "Driver",
    "DSN",
    "Jet OLEDB:Engine Type",
    "Jet OLEDB:Database Password",
};

bool isNameChar(QChar c) {
    return c != QLatin1Char('=') && c != QLatin1Char(';');
}

// Does a "key=" start at position i (after blanks)? Returns the key's length
// including blanks before it when it does, else 0. Known keywords always
// count; an unknown name counts when it is a plain word (letters, digits,
// blanks, "_", ":", ".").
qsizetype keyAt(const QString& s, qsizetype i, bool knownOnly) {
    qsizetype j = i;
    while (j < s.size() && s.at(j).isSpace())
        ++j;
    qsizetype k = j;
    while (k < s.size() && isNameChar(s.at(k)))
        ++k;
    if (k >= s.size() || s.at(k) != QLatin1Char('=') || k == j)
        return 0;
    const QStringView key = QStringView(s).mid(j, k - j).trimmed();
    if (isKnownConnectionKeyword(key))
        return k - i;
    if (knownOnly)
        return 0;
    for (QChar c : key) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('_') ||
              c == QLatin1Char(':') || c == QLatin1Char('.')))
            return 0;
    }
    return k - i;
}

} // namespace

QString adoValue(const QString& v) {
    const bool needsQuotes =
        !v.isEmpty() && (v.front().isSpace() || v.back().isSpace() || v.contains(u';') ||
                         v.contains(u'"') || v.contains(u'\'') || v.contains(u'='));
    if (!needsQuotes)
        return v;
    if (v.contains(u'"') && !v.contains(u'\''))
        return u'\'' + v + u'\'';
    QString q = v;
    q.replace(u'"', QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

bool isKnownConnectionKeyword(QStringView key) {
    for (const char* k : kKeywords) {
        if (key.compare(QLatin1String(k), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

ConnectionString ConnectionString::parse(const QString& s) {
    ConnectionString cs;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        // Skip separators and blanks between items.
        while (i < n && (s.at(i) == QLatin1Char(';') || s.at(i).isSpace()))
            ++i;
        if (i >= n)
            break;
        qsizetype eq = i;
        while (eq < n && isNameChar(s.at(eq)))
            ++eq;
        if (eq >= n || s.at(eq) == QLatin1Char(';')) {
            // A word without "=": keep it as a key without value.
            cs.m_items.append({s.mid(i, eq - i).trimmed(), QString()});
            i = eq;
            continue;
        }
        ConnectionStringItem item;
        item.key = s.mid(i, eq - i).trimmed();
        i = eq + 1;
        while (i < n && s.at(i) == QLatin1Char(' '))
            ++i;
        if (i < n && (s.at(i) == QLatin1Char('"') || s.at(i) == QLatin1Char('\''))) {
            // Quoted value; a doubled quote stands for one.
            const QChar q = s.at(i);
            qsizetype j = i + 1;
            QString v;
            bool closed = false;
            while (j < n) {
                if (s.at(j) == q) {
                    if (j + 1 < n && s.at(j + 1) == q) {
                        v += q;
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                v += s.at(j++);
            }
            qsizetype after = j;
            while (after < n && s.at(after).isSpace())
                ++after;
            if (closed && (after >= n || s.at(after) == QLatin1Char(';'))) {
                item.value = v;
                cs.m_items.append(item);
                i = after;
                continue;
            }
            // Not a well-formed quoted value: read it as a plain one.
        }
        // Plain value: up to the ";" that a keyword follows, or the end.
        qsizetype j = i;
        while (j < n) {
            if (s.at(j) == QLatin1Char(';') &&
                (j + 1 >= n || keyAt(s, j + 1, false) > 0 || s.mid(j + 1).trimmed().isEmpty())) {
                // A ";" followed by an unknown word counts as a separator only
                // when no known keyword's value would be cut; passwords are
                // the values that contain ";" in practice, so for them only a
                // known keyword ends the value.
                const bool secret =
                    item.key.compare(QLatin1String("Password"), Qt::CaseInsensitive) == 0 ||
                    item.key.compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0;
                if (!secret || j + 1 >= n || keyAt(s, j + 1, true) > 0 ||
                    s.mid(j + 1).trimmed().isEmpty())
                    break;
            }
            ++j;
        }
        item.value = s.mid(i, j - i);
        // Trailing blanks are not part of an unquoted value.
        while (!item.value.isEmpty() && item.value.back().isSpace())
            item.value.chop(1);
        cs.m_items.append(item);
        i = j;
    }
    return cs;
}

bool ConnectionString::contains(QStringView key) const {
    for (const auto& item : m_items)
        if (item.key.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString ConnectionString::value(QStringView key) const {
    for (const auto& item : m_items)
        if (item.key.compare(key, Qt::CaseInsensitive) == 0)
            return item.value;
    return {};
}

void ConnectionString::setValue(const QString& key, const QString& value) {
    for (auto& item : m_items) {
        if (item.key.compare(key, Qt::CaseInsensitive) == 0) {
            item.value = value;
            return;
        }
    }
    m_items.append({key, value});
}

void ConnectionString::remove(QStringView key) {
    m_items.removeIf([&](const ConnectionStringItem& item) {
        return item.key.compare(key, Qt::CaseInsensitive) == 0;
    });
}

QString ConnectionString::toString() const {
    QStringList parts;
    for (const auto& item : m_items)
        parts.append(item.key + QLatin1Char('=') + adoValue(item.value));
    return parts.join(QLatin1Char(';'));
}

} // namespace data
