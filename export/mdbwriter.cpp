#include "export/mdbwriter.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace exportfile {

using namespace jet4;

namespace {

constexpr std::uint32_t kCatalogPage = 2; // the catalog's table definition
constexpr int kUsedMapRowLength = AccessDatabase::kDefaultUsageMapBytes;
constexpr int kFreeMapRowLength = 69;
// Maps of the small system tables: about a thousand pages from the file's start before they
// turn into lists of map pages.
constexpr int kSystemUsedMapRowLength = 128;
constexpr int kTdefChunk = kPageSize - kTdefPageHeader;

// Kinds of catalog objects.
constexpr std::int16_t kObjectTypeTable = 1;
constexpr std::int16_t kObjectTypeDatabase = 2;
constexpr std::int16_t kObjectTypeContainer = 3;

// Catalog flags: objects of the engine and objects the user interface hides.
constexpr std::uint32_t kEngineObject = 0x80000000u;
constexpr std::uint32_t kHiddenObject = 0x00000002u;
constexpr std::uint32_t kSystemObjectFlags = kEngineObject | kHiddenObject;

// The catalog's root and the containers below it. Engine containers have fixed ids; the
// containers of the user interface take ids counted up from the smallest integer, as every
// object without a table definition page does.
constexpr std::uint32_t kRootId = 0x0F000000u;
constexpr std::uint32_t kTablesContainerId = 0x0F000001u;
constexpr std::uint32_t kDatabasesContainerId = 0x0F000002u;
constexpr std::uint32_t kRelationshipsContainerId = 0x0F000003u;
constexpr std::uint32_t kDatabaseObjectId = 0x10000000u;
constexpr std::uint32_t kFirstSyntheticId = 0x80000000u;

// Security ids of the default workgroup: the user "Admin", the group "Users" every user
// belongs to, the engine that owns the system tables, and the stand-in for an object's
// creator in inherited entries.
const QByteArray kAdminSid("\xA6\x33", 2);
const QByteArray kUsersSid("\xA7\x33", 2);
const QByteArray kEngineSid("\xA7\x31", 2);
const QByteArray kCreatorSid("\xA7\x36", 2);

// Access rights of the entries (the engine's permission bits).
constexpr std::uint32_t kReadData = 0x00014u; // includes reading the design
constexpr std::uint32_t kReadSecurity = 0x20000u;
constexpr std::uint32_t kWriteSecurity = 0x40000u;
constexpr std::uint32_t kWriteOwner = 0x80000u;
constexpr std::uint32_t kCreate = 0x00001u;
constexpr std::uint32_t kFullAccess = 0xFFFFFu;
constexpr std::uint32_t kDatabaseOpen = 0x0000Eu; // open, open exclusively, administer
// What a new database grants on its container of tables: everything but one bit.
constexpr std::uint32_t kTablesContainerAccess = kFullAccess & ~0x00100u;
// The creator of an object may do anything with it but create objects below it.
constexpr std::uint32_t kCreatorAccess = kWriteOwner | kWriteSecurity | kReadSecurity | 0x100FEu;

constexpr int kTypeAccessObjectData = 0x11; // fixed block of the user interface's own data

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void throwCannotWrite(const QString& path, int error) {
    throw ExportError(
        QStringLiteral("Die Access-Datenbank \"%1\" kann nicht geschrieben werden: %2")
            .arg(nativePath(path), systemReason(error)));
}

struct SystemColumn {
    const char* name;
    int type;
    int length;
    bool required = false;
};

struct SystemIndex {
    const char* name;
    std::initializer_list<int> columns;
    bool primaryKey = false;
};

// A system table's definition from its columns in column order and its indexes.
TableDef systemTableDefinition(std::initializer_list<SystemColumn> cols,
                               std::initializer_list<SystemIndex> indexes) {
    TableDef def;
    def.system = true;
    for (const auto& c : cols) {
        Column col;
        col.name = QString::fromLatin1(c.name);
        col.type = std::uint8_t(c.type);
        col.length = c.length;
        const bool variable =
            c.type == TypeText || c.type == TypeMemo || c.type == TypeBinary || c.type == TypeOle;
        col.flags = variable ? FlagNullable : FlagFixed;
        if (!c.required)
            col.flags |= FlagNullable;
        col.compressed = c.type == TypeText || c.type == TypeMemo;
        col.source = columnDefFor(col).type;
        def.columns.push_back(col);
    }
    layoutColumns(def.columns);
    for (const auto& ix : indexes) {
        Index index;
        index.name = QString::fromLatin1(ix.name);
        index.columns = ix.columns;
        index.primaryKey = ix.primaryKey;
        def.indexes.push_back(index);
    }
    return def;
}

// The catalog table: its columns in the order and with the types the format's own catalog has.
TableDef catalogDefinition() {
    return systemTableDefinition(
        {
            {"Id", TypeLong, 4},
            {"ParentId", TypeLong, 4},
            {"Name", TypeText, 256},
            {"Owner", TypeBinary, 255},
            {"Flags", TypeLong, 4},
            {"Type", TypeInt, 2},
            {"DateCreate", TypeDateTime, 8},
            {"DateUpdate", TypeDateTime, 8},
            {"Connect", TypeMemo, 0},
            {"Database", TypeMemo, 0},
            {"ForeignName", TypeText, 256},
            {"RmtInfoShort", TypeBinary, 255},
            {"RmtInfoLong", TypeOle, 0},
            {"Lv", TypeOle, 0},
            {"LvProp", TypeOle, 0},
            {"LvModule", TypeOle, 0},
            {"LvExtra", TypeOle, 0},
        },
        // Objects are looked up by their id and by their name within their parent.
        {{"Id", {0}, true}, {"ParentIdName", {1, 2}}});
}

// The other system tables of a new database: access-control entries, saved queries,
// relationships and the user interface's objects.
TableDef acesDefinition() {
    return systemTableDefinition(
        {
            {"ObjectId", TypeLong, 4},
            {"SID", TypeBinary, 255},
            {"ACM", TypeLong, 4},
            {"FInheritable", TypeBool, 1, true},
        },
        {{"ObjectId", {0}}});
}

TableDef queriesDefinition() {
    return systemTableDefinition(
        {
            {"ObjectId", TypeLong, 4},
            {"Attribute", TypeByte, 1},
            {"Order", TypeBinary, 255},
            {"Name1", TypeText, 510},
            {"Name2", TypeText, 510},
            {"Expression", TypeMemo, 0},
            {"Flag", TypeInt, 2},
            {"LvExtra", TypeLong, 4},
        },
        {{"ObjectIdAttribute", {0, 1, 2}, true}});
}

TableDef relationshipsDefinition() {
    return systemTableDefinition(
        {
            {"szRelationship", TypeText, 510},
            {"grbit", TypeLong, 4},
            {"ccolumn", TypeLong, 4},
            {"icolumn", TypeLong, 4},
            {"szObject", TypeText, 510},
            {"szColumn", TypeText, 510},
            {"szReferencedObject", TypeText, 510},
            {"szReferencedColumn", TypeText, 510},
        },
        {{"szObject", {4}}, {"szReferencedObject", {6}}, {"szRelationship", {0}}});
}

TableDef accessObjectsDefinition() {
    return systemTableDefinition(
        {
            {"Data", kTypeAccessObjectData, 3992},
            {"ID", TypeLong, 4, true},
        },
        {{"AOIndex", {1}, true}});
}

const QString kAcesTable = QStringLiteral("MSysACEs");

struct CatalogObject {
    std::uint32_t id = 0;
    std::uint32_t parentId = 0;
    QString name;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    QByteArray owner;
    QByteArray properties;
};

int columnIndex(const TableDef& def, const char* name) {
    for (size_t i = 0; i < def.columns.size(); ++i)
        if (def.columns[i].name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return int(i);
    throw ExportError(QStringLiteral("Der Systemtabelle der Access-Datenbank fehlt die Spalte "
                                     "\"%1\".")
                          .arg(QLatin1String(name)));
}

std::vector<QVariant> catalogRow(const TableDef& catalog, const CatalogObject& o) {
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<QVariant> values(catalog.columns.size());
    values[size_t(columnIndex(catalog, "Id"))] = qint64(qint32(o.id));
    values[size_t(columnIndex(catalog, "ParentId"))] = qint64(qint32(o.parentId));
    values[size_t(columnIndex(catalog, "Name"))] = o.name;
    values[size_t(columnIndex(catalog, "Owner"))] = o.owner;
    values[size_t(columnIndex(catalog, "Flags"))] = qint64(qint32(o.flags));
    values[size_t(columnIndex(catalog, "Type"))] = qint64(o.type);
    values[size_t(columnIndex(catalog, "DateCreate"))] = now;
    values[size_t(columnIndex(catalog, "DateUpdate"))] = now;
    if (!o.properties.isEmpty())
        values[size_t(columnIndex(catalog, "LvProp"))] = o.properties;
    return values;
}

// The key of a row in an index: the keys of its columns one after the other.
QByteArray indexKeyOf(const TableDef& def, const Index& ix, const std::vector<QVariant>& values) {
    QByteArray key;
    for (int number : ix.columns)
        for (size_t i = 0; i < def.columns.size(); ++i)
            if (def.columns[i].number == number)
                key += indexKey(def.columns[i], values[i]);
    return key;
}

struct AccessEntry {
    std::uint32_t objectId;
    QByteArray sid;
    std::uint32_t rights;
    bool inheritable;
};

std::vector<QVariant> aceRow(const TableDef& aces, const AccessEntry& e) {
    std::vector<QVariant> values(aces.columns.size());
    values[size_t(columnIndex(aces, "ObjectId"))] = qint64(qint32(e.objectId));
    values[size_t(columnIndex(aces, "SID"))] = e.sid;
    values[size_t(columnIndex(aces, "ACM"))] = qint64(qint32(e.rights));
    values[size_t(columnIndex(aces, "FInheritable"))] = e.inheritable;
    return values;
}

// The entries of a new user table: full access for "Admin" and for every user.
std::vector<AccessEntry> userTableEntries(std::uint32_t id) {
    return {{id, kAdminSid, kFullAccess, false}, {id, kUsersSid, kFullAccess, false}};
}

// The properties a user table carries: none of its own, and for its columns what the user
// interface needs to show them as the types they are. A Yes/No column is shown as a check box
// (without it the interface shows -1 and 0 in a text box); texts and memos say that they are
// stored compressed, as the column definition does, and that they may hold empty texts, which
// the export copies from its source as they are (the engine's default would refuse to store
// such a row again once it is edited). Null when no column needs any.
QByteArray userTableProperties(const TableDef& def) {
    constexpr std::int16_t kCheckBox = 106;
    std::vector<PropertySet> sets{{QString(), {}}};
    for (const Column& c : def.columns) {
        PropertySet set{c.name, {}};
        if (c.type == TypeBool)
            set.properties.push_back(int16Property(QStringLiteral("DisplayControl"), kCheckBox));
        if (c.type == TypeText || c.type == TypeMemo) {
            set.properties.push_back(boolProperty(QStringLiteral("AllowZeroLength"), true, true));
            set.properties.push_back(
                boolProperty(QStringLiteral("UnicodeCompression"), c.compressed, true));
        }
        if (!set.properties.empty())
            sets.push_back(set);
    }
    return sets.size() > 1 ? encodePropertyBlock(sets) : QByteArray();
}

QByteArray noLongValues(const QByteArray&) {
    throw ExportError(QStringLiteral("Der Katalog der Access-Datenbank enthält keine Memos."));
}

// The definition split into table definition pages that start at firstPage.
std::vector<QByteArray> tableDefinitionPages(const QByteArray& definition,
                                             std::uint32_t firstPage) {
    std::vector<QByteArray> pages;
    for (qsizetype pos = 0; pos < definition.size(); pos += kTdefChunk) {
        const QByteArray chunk = definition.mid(pos, kTdefChunk);
        QByteArray page(kPageSize, char(0));
        page[0] = char(PageTableDef);
        page[1] = 0x01;
        put16(page, 2, std::uint16_t(kTdefChunk - chunk.size()));
        const bool more = pos + kTdefChunk < definition.size();
        put32(page, 4, more ? firstPage + std::uint32_t(pages.size()) + 1 : 0);
        std::memcpy(page.data() + kTdefPageHeader, chunk.constData(), size_t(chunk.size()));
        pages.push_back(page);
    }
    return pages;
}

int pagesFor(const QByteArray& definition) {
    return int((definition.size() + kTdefChunk - 1) / kTdefChunk);
}

// A file created beside `path` under a hidden unique name, removed again unless it is
// renamed into place.
class TempFile {
public:
    explicit TempFile(const QString& path, mode_t mode) : m_target(path) {
        const QFileInfo fi(path);
        QByteArray templ = QFile::encodeName(fi.absolutePath() + QStringLiteral("/.") +
                                             fi.fileName() + QStringLiteral(".XXXXXX"));
        const int fd = ::mkstemp(templ.data());
        if (fd < 0)
            throw ExportError(
                QStringLiteral("Die Access-Datenbank \"%1\" kann nicht angelegt werden: %2")
                    .arg(nativePath(path), systemReason(errno)));
        ::fchmod(fd, mode);
        m_name = QFile::decodeName(templ);
        if (!m_file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered,
                         QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            ::unlink(templ.constData());
            throwCannotWrite(path, EIO);
        }
    }
    ~TempFile() {
        if (!m_renamed) {
            m_file.close();
            ::unlink(QFile::encodeName(m_name).constData());
        }
    }
    QFile& file() { return m_file; }
    const QString& target() const { return m_target; }

    [[noreturn]] void fail() {
        const int error = errno ? errno : EIO;
        throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" kann nicht geschrieben "
                                         "werden: %2")
                              .arg(nativePath(m_target), m_file.error() != QFileDevice::NoError
                                                             ? m_file.errorString()
                                                             : systemReason(error)));
    }

    void write(qint64 pos, const QByteArray& bytes) {
        if (!m_file.seek(pos) || m_file.write(bytes) != bytes.size())
            fail();
    }

    QByteArray read(qint64 pos, qint64 length) {
        if (!m_file.seek(pos))
            fail();
        QByteArray b = m_file.read(length);
        if (b.size() != length)
            throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" ist beschädigt "
                                             "(Seite außerhalb der Datei).")
                                  .arg(nativePath(m_target)));
        return b;
    }

    // Everything on the disk, then the name of the target: the old file stays whole until
    // the new one is complete.
    void commit() {
        if (!m_file.flush())
            fail();
        if (::fsync(m_file.handle()) != 0)
            throwCannotWrite(m_target, errno);
        m_file.close();
        if (::rename(QFile::encodeName(m_name).constData(),
                     QFile::encodeName(m_target).constData()) != 0)
            throwCannotWrite(m_target, errno);
        m_renamed = true;
    }

private:
    QString m_target;
    QString m_name;
    QFile m_file;
    bool m_renamed = false;
};

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

// --- the database being changed ------------------------------------------------------------

struct AccessDatabase::Impl {
    QString path;
    std::unique_ptr<TempFile> temp; // the copy being changed; none when only reading
    QFile source;
    std::uint32_t pageCount = 0;
    TableDef catalog;

    QByteArray read(qint64 pos, qint64 length) {
        if (temp)
            return temp->read(pos, length);
        QByteArray b;
        if (source.seek(pos))
            b = source.read(length);
        if (b.size() != length)
            throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" kann nicht gelesen "
                                             "werden: %2")
                                  .arg(nativePath(path), source.errorString()));
        return b;
    }
    void requireWritable() {
        if (!temp)
            throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" ist nur zum Lesen "
                                             "geöffnet.")
                                  .arg(nativePath(path)));
    }
    // Tables with indexes (those of other programs) would need their indexes kept in step.
    void requireNoIndexes(const TableDef& def, const QString& what) {
        if (!def.indexes.empty())
            throw ExportError(QStringLiteral("%1 der Access-Datenbank \"%2\" hat Indizes, die "
                                             "hier nicht fortgeschrieben werden können; bitte "
                                             "eine neue Datei wählen.")
                                  .arg(what, nativePath(path)));
    }

    // System tables whose indexes are kept up to date when rows are added.
    void requireMaintainableIndexes(const TableDef& def, const QString& what) {
        if (!def.indexesMaintainable)
            throw ExportError(QStringLiteral("%1 der Access-Datenbank \"%2\" hat Indizes, die "
                                             "hier nicht fortgeschrieben werden können; bitte "
                                             "eine neue Datei wählen.")
                                  .arg(what, nativePath(path)));
    }

    QByteArray readPage(std::uint32_t page) {
        if (page >= pageCount)
            throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" ist beschädigt "
                                             "(Seite %2 fehlt).")
                                  .arg(nativePath(path))
                                  .arg(page));
        return read(qint64(page) * kPageSize, kPageSize);
    }
    void writePage(std::uint32_t page, const QByteArray& bytes) {
        requireWritable();
        temp->write(qint64(page) * kPageSize, bytes);
        pageCount = std::max(pageCount, page + 1);
    }
    std::uint32_t allocatePage() {
        // The page is reserved now and written later; until then it reads as zeros.
        const std::uint32_t page = pageCount++;
        return page;
    }

    QByteArray readRow(std::uint32_t ptr) {
        const QByteArray page = readPage(pointerPage(ptr));
        for (const auto& [row, bytes] : pageRows(page))
            if (row == pointerRow(ptr))
                return bytes;
        throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" ist beschädigt "
                                         "(Datensatz %2 fehlt).")
                              .arg(nativePath(path))
                              .arg(ptr, 0, 16));
    }
    void rewriteRow(std::uint32_t ptr, const QByteArray& bytes) {
        QByteArray page = readPage(pointerPage(ptr));
        const int start = get16(page, kDataPageHeader + 2 * pointerRow(ptr)) & 0x1FFF;
        std::memcpy(page.data() + start, bytes.constData(), size_t(bytes.size()));
        writePage(pointerPage(ptr), page);
    }

    TableDef readTableDef(std::uint32_t page) {
        QByteArray first = readPage(page);
        if (std::uint8_t(first.at(0)) != PageTableDef)
            throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" ist beschädigt "
                                             "(keine Tabellendefinition auf Seite %2).")
                                  .arg(nativePath(path))
                                  .arg(page));
        QByteArray definition = first.mid(kTdefPageHeader);
        std::uint32_t next = get32(first, 4);
        for (int guard = 0; next != 0 && guard < 64; ++guard) {
            const QByteArray p = readPage(next);
            definition += p.mid(kTdefPageHeader);
            next = get32(p, 4);
        }
        return parseTableDefinition(definition);
    }

    void setRowCount(std::uint32_t tdefPage, std::uint32_t rows) {
        QByteArray page = readPage(tdefPage);
        put32(page, kTdefRowCountOffset, rows);
        writePage(tdefPage, page);
    }

    // Writes a number into a table definition at an offset of the definition, which runs on
    // over its chain of pages.
    void patchDefinition(std::uint32_t tdefPage, int offset, std::uint32_t value) {
        std::uint32_t page = tdefPage;
        for (; offset >= kTdefChunk; offset -= kTdefChunk)
            page = get32(readPage(page), 4);
        QByteArray bytes = readPage(page);
        for (int i = 0; i < 4; ++i, ++offset) {
            if (offset == kTdefChunk) {
                writePage(page, bytes);
                page = get32(bytes, 4);
                bytes = readPage(page);
                offset = 0;
            }
            bytes[kTdefPageHeader + offset] = char((value >> (8 * i)) & 0xFF);
        }
        writePage(page, bytes);
    }

    // The rows of a table with their row pointers.
    std::vector<std::pair<std::uint32_t, std::vector<QVariant>>> tableRows(std::uint32_t tdefPage,
                                                                           const TableDef& def) {
        std::vector<std::pair<std::uint32_t, std::vector<QVariant>>> rows;
        for (std::uint32_t page : loadMap(def.usedPagesMap).pages) {
            const QByteArray bytes = readPage(page);
            if (std::uint8_t(bytes.at(0)) != PageData || get32(bytes, 4) != tdefPage)
                continue;
            for (const auto& [row, data] : pageRows(bytes))
                rows.emplace_back(rowPointer(page, row), decodeRow(def, data));
        }
        return rows;
    }

    // Builds every index of a table anew from its rows, on the index's pages and new ones.
    void rebuildIndexes(std::uint32_t tdefPage, const TableDef& def) {
        const auto rows = tableRows(tdefPage, def);
        for (const Index& ix : def.indexes) {
            std::vector<IndexEntry> entries;
            entries.reserve(rows.size());
            for (const auto& [ptr, values] : rows)
                entries.push_back({indexKeyOf(def, ix, values), ptr});
            UsageMap map = loadMap(ix.usedPagesMap);
            std::vector<std::uint32_t> pool(map.pages.begin(), map.pages.end());
            size_t next = 0;
            const auto pages = buildIndexPages(entries, tdefPage, [&] {
                const std::uint32_t page = next < pool.size() ? pool[next++] : allocatePage();
                map.pages.insert(page);
                return page;
            });
            for (const auto& [number, bytes] : pages)
                writePage(number, bytes);
            saveMap(map);
            patchDefinition(tdefPage, ix.rootOffset, pages.front().first);
            patchDefinition(tdefPage, ix.countOffset, std::uint32_t(entries.size()));
        }
    }

    // --- usage maps ---
    struct UsageMap {
        std::uint32_t ptr = 0;
        int rowLength = 0;
        std::uint32_t start = 0;             // type 0
        std::vector<std::uint32_t> mapPages; // type 1
        std::set<std::uint32_t> pages;
    };

    UsageMap loadMap(std::uint32_t ptr) {
        UsageMap m;
        m.ptr = ptr;
        const QByteArray row = readRow(ptr);
        m.rowLength = int(row.size());
        if (row.size() < 5)
            throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" ist beschädigt "
                                             "(Belegungstabelle).")
                                  .arg(nativePath(path)));
        auto collect = [&](const QByteArray& bits, int from, std::uint32_t first) {
            for (int i = from; i < bits.size(); ++i)
                for (int b = 0; b < 8; ++b)
                    if ((std::uint8_t(bits.at(i)) >> b) & 1)
                        m.pages.insert(first + std::uint32_t((i - from) * 8 + b));
        };
        if (row.at(0) == 0) {
            m.start = get32(row, 1);
            collect(row, 5, m.start);
        } else {
            for (int k = 0; 1 + 4 * k + 4 <= row.size(); ++k) {
                const std::uint32_t mp = get32(row, 1 + 4 * k);
                m.mapPages.push_back(mp);
                if (mp != 0)
                    collect(readPage(mp), 4, std::uint32_t(k) * kPagesPerMapPage);
            }
        }
        return m;
    }

    void saveMap(UsageMap& m) {
        QByteArray row(m.rowLength, char(0));
        const std::uint32_t capacity = std::uint32_t(m.rowLength - 5) * 8;
        const bool fitsInRow =
            m.mapPages.empty() && (m.pages.empty() || (*m.pages.begin() >= m.start &&
                                                       *m.pages.rbegin() - m.start < capacity));
        if (fitsInRow) {
            put32(row, 1, m.start);
            for (std::uint32_t p : m.pages) {
                const std::uint32_t bit = p - m.start;
                row[5 + int(bit / 8)] =
                    char(std::uint8_t(row.at(5 + int(bit / 8))) | 1u << (bit % 8));
            }
            rewriteRow(m.ptr, row);
            return;
        }
        // A list of map pages, each a bitmap of its range of pages.
        row[0] = 0x01;
        const std::uint32_t ranges = m.pages.empty() ? 0 : *m.pages.rbegin() / kPagesPerMapPage + 1;
        if (1 + 4 * int(ranges) > m.rowLength)
            throw ExportError(
                QStringLiteral("Die Access-Datenbank \"%1\" wird zu groß.").arg(nativePath(path)));
        m.mapPages.resize(std::max<size_t>(m.mapPages.size(), ranges), 0);
        std::vector<QByteArray> bitmaps(m.mapPages.size());
        for (size_t k = 0; k < m.mapPages.size(); ++k) {
            if (k < ranges && m.mapPages[k] == 0)
                m.mapPages[k] = allocatePage();
            if (m.mapPages[k] != 0) {
                bitmaps[k] = QByteArray(kPageSize, char(0));
                bitmaps[k][0] = char(PageUsageMap);
                bitmaps[k][1] = 0x01;
            }
        }
        for (std::uint32_t p : m.pages) {
            QByteArray& b = bitmaps[p / kPagesPerMapPage];
            const std::uint32_t bit = p % kPagesPerMapPage;
            b[4 + int(bit / 8)] = char(std::uint8_t(b.at(4 + int(bit / 8))) | 1u << (bit % 8));
        }
        for (size_t k = 0; k < m.mapPages.size(); ++k)
            if (m.mapPages[k] != 0) {
                writePage(m.mapPages[k], bitmaps[k]);
                put32(row, 1 + 4 * int(k), m.mapPages[k]);
            }
        rewriteRow(m.ptr, row);
    }

    // --- catalog ---
    struct CatalogEntry {
        QString name;
        std::uint32_t id = 0;
        std::uint32_t type = 0;
        std::uint32_t flags = 0;
    };

    std::vector<CatalogEntry> catalogEntries() {
        std::vector<CatalogEntry> entries;
        const int id = columnIndex(catalog, "Id"), name = columnIndex(catalog, "Name"),
                  type = columnIndex(catalog, "Type"), flags = columnIndex(catalog, "Flags");
        const UsageMap map = loadMap(catalog.usedPagesMap);
        for (std::uint32_t page : map.pages) {
            const QByteArray bytes = readPage(page);
            if (std::uint8_t(bytes.at(0)) != PageData || get32(bytes, 4) != kCatalogPage)
                continue;
            for (const auto& row : pageRows(bytes)) {
                const auto v = decodeRow(catalog, row.second);
                entries.push_back({v[size_t(name)].toString(), std::uint32_t(v[size_t(id)].toInt()),
                                   std::uint32_t(v[size_t(type)].toInt()),
                                   std::uint32_t(v[size_t(flags)].toInt())});
            }
        }
        return entries;
    }

    // The definition page of a user table (system: a system table), 0 when there is none.
    std::uint32_t findTable(const QString& name, bool system = false) {
        for (const auto& e : catalogEntries())
            if (e.type == std::uint32_t(kObjectTypeTable) &&
                ((e.flags & kSystemObjectFlags) != 0) == system &&
                e.name.compare(name, Qt::CaseInsensitive) == 0)
                return e.id & 0x00FFFFFFu;
        return 0;
    }

    // Long values on long value pages, filled one after the other, each written once it is
    // full and the last one by finish(). A value is kept on one page when it fits, else in a
    // chain of pieces, each of which starts with the pointer to the next. The pieces are
    // placed last first, so every piece knows where its successor lies.
    class LongValuePages {
    public:
        explicit LongValuePages(Impl& db) : m_db(db) {}
        QByteArray store(const QByteArray& bytes) {
            QByteArray ref(12, char(0));
            const auto length = std::uint32_t(bytes.size());
            if (length > kLongValueLengthMask)
                throw ExportError(
                    QStringLiteral("Ein Memo ist zu lang für eine Access-Datenbank."));
            if (bytes.size() <= kMaxRowSize) {
                put32(ref, 0, length | kLongValueSinglePage);
                put32(ref, 4, place(bytes));
                return ref;
            }
            constexpr int piece = kMaxRowSize - 4;
            std::uint32_t next = 0;
            const qsizetype pieces = (bytes.size() + piece - 1) / piece;
            for (qsizetype k = pieces - 1; k >= 0; --k) {
                QByteArray chunk(4, char(0));
                put32(chunk, 0, next);
                chunk += bytes.mid(k * piece, piece);
                next = place(chunk);
            }
            put32(ref, 0, length);
            put32(ref, 4, next);
            return ref;
        }
        void finish() {
            if (m_page)
                m_db.writePage(m_pageNo, m_page->bytes());
            m_page.reset();
        }

    private:
        std::uint32_t place(const QByteArray& bytes) {
            if (!m_page || !m_page->fits(int(bytes.size()))) {
                finish();
                m_page.emplace(PageBuilder::longValueOwner());
                m_pageNo = m_db.allocatePage();
            }
            return rowPointer(m_pageNo, m_page->add(bytes));
        }
        Impl& m_db;
        std::optional<PageBuilder> m_page;
        std::uint32_t m_pageNo = 0;
    };

    // Appends rows of a table: to its last data page while they fit, then to new pages. Long
    // values that do not stay in their row go through store.
    void addRows(std::uint32_t tdefPage, TableDef& def,
                 const std::vector<std::vector<QVariant>>& rows,
                 const LongValueStore& store = noLongValues) {
        UsageMap map = loadMap(def.usedPagesMap);
        std::optional<PageBuilder> page;
        std::uint32_t pageNo = 0;
        if (!map.pages.empty()) {
            pageNo = *map.pages.rbegin();
            page = PageBuilder::fromBytes(readPage(pageNo));
        }
        for (const auto& values : rows) {
            const QByteArray row = encodeRow(def, values, store);
            if (!page || !page->fits(int(row.size()))) {
                if (page)
                    writePage(pageNo, page->bytes());
                pageNo = allocatePage();
                page.emplace(tdefPage);
                map.pages.insert(pageNo);
            }
            page->add(row);
        }
        if (page)
            writePage(pageNo, page->bytes());
        saveMap(map);
        def.rowCount += std::uint32_t(rows.size());
        setRowCount(tdefPage, def.rowCount);
    }
};

// --- empty database ---------------------------------------------------------------------

void createAccessDatabase(const QString& path) {
    if (QFileInfo::exists(path))
        throw ExportError(
            QStringLiteral("Die Datei \"%1\" existiert bereits.").arg(nativePath(path)));
    TempFile temp(path, newFileMode());

    // Page 0 the header, 1 the map of free pages (none: new pages go to the end of the file),
    // 2 the catalog's definition, 3 the catalog's usage maps, 4 the other usage maps (of the
    // system tables and of all indexes), 5 the catalog's rows, then the other system tables'
    // definitions, the rows of the access-control entries and the index pages.
    constexpr std::uint32_t kCatalogMapsPage = 3, kSystemMapsPage = 4, kCatalogRowsPage = 5;
    struct SystemTable {
        const char* name;
        TableDef def;
        std::uint32_t flags;
        std::uint32_t page = 0;
        std::vector<std::vector<QVariant>> rows;
    };
    std::vector<SystemTable> tables;
    tables.push_back({"MSysObjects", catalogDefinition(), kEngineObject, kCatalogPage, {}});
    tables.push_back({"MSysACEs", acesDefinition(), kEngineObject, 0, {}});
    tables.push_back({"MSysQueries", queriesDefinition(), kEngineObject, 0, {}});
    tables.push_back({"MSysRelationships", relationshipsDefinition(), kEngineObject, 0, {}});
    tables.push_back({"MSysAccessObjects", accessObjectsDefinition(), kHiddenObject, 0, {}});
    std::uint32_t nextPage = kCatalogRowsPage + 1;
    for (auto& t : tables)
        if (t.page == 0)
            t.page = nextPage++;
    const std::uint32_t acesRowsPage = nextPage++;
    SystemTable& catalog = tables[0];
    SystemTable& aces = tables[1];

    // The catalog: the root's containers, the database object with its properties, the
    // system tables; and who may do what with them.
    std::vector<CatalogObject> objects = {
        {kTablesContainerId,
         kRootId,
         QStringLiteral("Tables"),
         kObjectTypeContainer,
         kEngineObject,
         kEngineSid,
         {}},
        {kDatabasesContainerId,
         kRootId,
         QStringLiteral("Databases"),
         kObjectTypeContainer,
         kEngineObject,
         kEngineSid,
         {}},
        {kRelationshipsContainerId,
         kRootId,
         QStringLiteral("Relationships"),
         kObjectTypeContainer,
         kEngineObject,
         kEngineSid,
         {}},
        {kDatabaseObjectId, kDatabasesContainerId, QStringLiteral("MSysDb"), kObjectTypeDatabase,
         kEngineObject, kAdminSid,
         encodePropertyBlock(
             {{QString(),
               {textProperty(QStringLiteral("AccessVersion"), QStringLiteral("08.50"))}}})},
    };
    std::vector<AccessEntry> entries = {
        // New tables and relationships inherit these: their creator, "Admin" and every user.
        {kTablesContainerId, kCreatorSid, kCreatorAccess, true},
        {kTablesContainerId, kAdminSid, kTablesContainerAccess, true},
        {kTablesContainerId, kUsersSid, kTablesContainerAccess, true},
        {kRelationshipsContainerId, kCreatorSid, kCreatorAccess, true},
        {kRelationshipsContainerId, kAdminSid, kReadSecurity | kWriteSecurity | kCreate, false},
        {kRelationshipsContainerId, kUsersSid, kFullAccess, true},
        {kDatabasesContainerId, kAdminSid, kReadSecurity | kWriteSecurity, false},
        {kDatabaseObjectId, kAdminSid, kReadSecurity | kWriteSecurity | kDatabaseOpen, false},
        {kDatabaseObjectId, kUsersSid, kDatabaseOpen, false},
    };
    std::uint32_t synthetic = kFirstSyntheticId;
    for (const char* name :
         {"DataAccessPages", "Forms", "Modules", "Reports", "Scripts", "SysRel"}) {
        const std::uint32_t id = synthetic++;
        objects.push_back(
            {id, kRootId, QString::fromLatin1(name), kObjectTypeContainer, 0, kAdminSid, {}});
        for (const QByteArray& sid : {kAdminSid, kUsersSid, kCreatorSid})
            entries.push_back({id, sid, kFullAccess, true});
    }
    for (const auto& t : tables) {
        const bool engine = t.flags & kEngineObject;
        objects.push_back({t.page,
                           kTablesContainerId,
                           QString::fromLatin1(t.name),
                           kObjectTypeTable,
                           t.flags,
                           engine ? kEngineSid : kAdminSid,
                           {}});
        // Every user reads the engine's tables but the access-control entries; "Admin" keeps
        // their security (and owns the relationships). The user interface keeps its own
        // objects in the last table.
        if (engine) {
            const bool relationships = qstrcmp(t.name, "MSysRelationships") == 0;
            entries.push_back({t.page, kAdminSid,
                               kReadSecurity | kWriteSecurity | (relationships ? kWriteOwner : 0),
                               false});
            if (&t != &aces)
                entries.push_back({t.page, kUsersSid, kReadData, false});
        } else {
            entries.push_back({t.page, kAdminSid, kFullAccess, false});
            entries.push_back({t.page, kUsersSid, kFullAccess, false});
        }
    }
    for (const auto& o : objects)
        catalog.rows.push_back(catalogRow(catalog.def, o));
    for (const auto& e : entries)
        aces.rows.push_back(aceRow(aces.def, e));

    PageBuilder freeSpace;
    freeSpace.add(emptyUsageMap(kFreeMapRowLength, 0));

    // Usage maps: the catalog's on a page of their own (its map of data pages is large), the
    // others together.
    auto usedMap = [](int length, std::uint32_t page) {
        QByteArray used = emptyUsageMap(length, 0);
        used[5 + int(page / 8)] = char(1u << (page % 8));
        return used;
    };
    PageBuilder catalogMaps;
    catalogMaps.add(usedMap(kUsedMapRowLength, kCatalogRowsPage));
    catalogMaps.add(emptyUsageMap(kFreeMapRowLength, 0));
    catalog.def.usedPagesMap = rowPointer(kCatalogMapsPage, 0);
    catalog.def.freePagesMap = rowPointer(kCatalogMapsPage, 1);
    PageBuilder systemMaps;
    for (size_t i = 1; i < tables.size(); ++i) {
        SystemTable& t = tables[i];
        const int used =
            systemMaps.add(t.rows.empty() ? emptyUsageMap(kSystemUsedMapRowLength, 0)
                                          : usedMap(kSystemUsedMapRowLength, acesRowsPage));
        const int free = systemMaps.add(emptyUsageMap(kFreeMapRowLength, 0));
        t.def.usedPagesMap = rowPointer(kSystemMapsPage, used);
        t.def.freePagesMap = rowPointer(kSystemMapsPage, free);
    }

    // Each table's rows on one page (catalog and access-control entries), and its indexes
    // over them on pages from the end.
    auto rowsPage = [](const SystemTable& t) {
        PageBuilder page(t.page);
        for (const auto& values : t.rows) {
            const QByteArray row = encodeRow(t.def, values, noLongValues);
            if (!page.fits(int(row.size())))
                throw ExportError(QStringLiteral("Der Katalog passt nicht auf eine Seite."));
            page.add(row);
        }
        return page;
    };
    std::vector<std::pair<std::uint32_t, QByteArray>> indexPages;
    for (auto& t : tables) {
        const std::uint32_t rowsAt = &t == &catalog ? kCatalogRowsPage : acesRowsPage;
        for (Index& ix : t.def.indexes) {
            std::vector<IndexEntry> keys;
            for (size_t r = 0; r < t.rows.size(); ++r)
                keys.push_back({indexKeyOf(t.def, ix, t.rows[r]), rowPointer(rowsAt, int(r))});
            const auto pages = buildIndexPages(keys, t.page, [&] { return nextPage++; });
            QByteArray map = emptyUsageMap(kSystemUsedMapRowLength, 0);
            for (const auto& [number, bytes] : pages) {
                map[5 + int(number / 8)] =
                    char(std::uint8_t(map.at(5 + int(number / 8))) | 1u << (number % 8));
                indexPages.emplace_back(number, bytes);
            }
            ix.usedPagesMap = rowPointer(kSystemMapsPage, systemMaps.add(map));
            ix.rootPage = pages.front().first;
            ix.entryCount = std::uint32_t(keys.size());
        }
    }
    auto tdefPage = [](SystemTable& t) {
        t.def.rowCount = std::uint32_t(t.rows.size());
        const auto pages = tableDefinitionPages(buildTableDefinition(t.def), t.page);
        if (pages.size() != 1)
            throw ExportError(QStringLiteral("Eine Systemtabelle passt nicht auf eine Seite."));
        return pages.front();
    };

    QByteArray file = headerPage() + freeSpace.bytes() + tdefPage(catalog) + catalogMaps.bytes() +
                      systemMaps.bytes() + rowsPage(catalog).bytes();
    for (size_t i = 1; i < tables.size(); ++i)
        file += tdefPage(tables[i]);
    file += rowsPage(aces).bytes();
    std::sort(indexPages.begin(), indexPages.end());
    for (const auto& [number, bytes] : indexPages) {
        if (number * kPageSize != std::uint32_t(file.size()))
            throw ExportError(QStringLiteral("Die Seiten der Indizes sind nicht fortlaufend."));
        file += bytes;
    }
    temp.write(0, file);
    temp.commit();
}

// --- changes ----------------------------------------------------------------------------

AccessDatabase::AccessDatabase(const QString& path, OpenMode mode) : d(std::make_unique<Impl>()) {
    d->path = path;
    QFile& source = d->source;
    source.setFileName(path);
    if (!source.open(QIODevice::ReadOnly))
        throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" kann nicht geöffnet "
                                         "werden: %2")
                              .arg(nativePath(path), source.errorString()));
    const QByteArray header = source.read(kPageSize);
    if (header.size() != kPageSize || header.at(0) != 0 ||
        header.mid(4, 15) != QByteArrayLiteral("Standard Jet DB") || get32(header, 0x14) != 1 ||
        source.size() % kPageSize != 0)
        throw ExportError(QStringLiteral("Die Datei \"%1\" ist keine Access-Datenbank im "
                                         "Jet-4-Format.")
                              .arg(nativePath(path)));
    d->pageCount = std::uint32_t(source.size() / kPageSize);

    if (mode == ReadWrite) {
        // Changes go to a copy that keeps the file's permissions.
        struct stat st {};
        const mode_t fileMode = ::stat(QFile::encodeName(path).constData(), &st) == 0
                                    ? st.st_mode & 07777
                                    : newFileMode();
        d->temp = std::make_unique<TempFile>(path, fileMode);
        if (!source.seek(0))
            d->temp->fail();
        qint64 pos = 0;
        while (!source.atEnd()) {
            const QByteArray chunk = source.read(1 << 20);
            if (chunk.isEmpty())
                throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" kann nicht "
                                                 "gelesen werden: %2")
                                      .arg(nativePath(path), source.errorString()));
            d->temp->write(pos, chunk);
            pos += chunk.size();
        }
        source.close();
    }
    d->catalog = d->readTableDef(kCatalogPage);
}

AccessDatabase::~AccessDatabase() = default;

QStringList AccessDatabase::tableNames() {
    QStringList names;
    for (const auto& e : d->catalogEntries())
        if (e.type == std::uint32_t(kObjectTypeTable) && !(e.flags & kSystemObjectFlags))
            names << e.name;
    return names;
}

bool AccessDatabase::hasTable(const QString& name) {
    return d->findTable(name) != 0;
}

void AccessDatabase::createTable(const TableSchema& schema, int usageMapBytes) {
    checkObjectName(schema.tableName, true);
    if (schema.columns.empty())
        throw ExportError(QStringLiteral("Eine Tabelle braucht mindestens ein Feld."));
    if (schema.columns.size() > 255)
        throw ExportError(QStringLiteral("Eine Access-Tabelle hat höchstens 255 Felder."));
    d->requireWritable();
    d->requireMaintainableIndexes(d->catalog, QStringLiteral("Der Katalog"));
    if (!indexableText(schema.tableName))
        throw ExportError(QStringLiteral("Der Tabellenname \"%1\" enthält ein Zeichen, das der "
                                         "Katalog einer Access-Datenbank hier nicht einsortieren "
                                         "kann (erlaubt sind die Buchstaben A bis Z, Ä, Ö, "
                                         "Ü, ß und É, Ziffern, Leerzeichen außer am Ende und "
                                         "%2).")
                              .arg(schema.tableName, QString::fromLatin1(kIndexablePunctuation)));
    if (hasTable(schema.tableName))
        throw ExportError(
            QStringLiteral("Die Tabelle \"%1\" existiert bereits.").arg(schema.tableName));

    TableDef def;
    for (const auto& c : schema.columns) {
        for (const auto& other : def.columns)
            if (other.name.compare(c.name, Qt::CaseInsensitive) == 0)
                throw ExportError(
                    QStringLiteral("Der Feldname \"%1\" kommt mehrfach vor.").arg(c.name));
        def.columns.push_back(columnFor(c));
    }
    layoutColumns(def.columns);

    const int tdefPages = pagesFor(buildTableDefinition(def));
    const std::uint32_t first = d->allocatePage();
    for (int i = 1; i < tdefPages; ++i)
        d->allocatePage();
    const std::uint32_t mapPage = d->allocatePage();
    def.usedPagesMap = rowPointer(mapPage, 0);
    def.freePagesMap = rowPointer(mapPage, 1);

    const auto pages = tableDefinitionPages(buildTableDefinition(def), first);
    for (size_t i = 0; i < pages.size(); ++i)
        d->writePage(first + std::uint32_t(i), pages[i]);
    PageBuilder maps(first);
    maps.add(emptyUsageMap(std::clamp(usageMapBytes, 9, kUsedMapRowLength), mapPage));
    maps.add(emptyUsageMap(kFreeMapRowLength, mapPage));
    d->writePage(mapPage, maps.bytes());

    // The table's catalog row under the container of tables, owned by "Admin" like every
    // object of the default user, and its access-control entries.
    // Its properties stay in the row when short, else go to long value pages.
    Impl::LongValuePages longValues(*d);
    d->addRows(kCatalogPage, d->catalog,
               {catalogRow(d->catalog, {first, kTablesContainerId, schema.tableName,
                                        kObjectTypeTable, 0, kAdminSid, userTableProperties(def)})},
               [&](const QByteArray& b) { return longValues.store(b); });
    longValues.finish();
    d->rebuildIndexes(kCatalogPage, d->catalog);
    if (const std::uint32_t acesPage = d->findTable(kAcesTable, true)) {
        TableDef aces = d->readTableDef(acesPage);
        d->requireMaintainableIndexes(aces,
                                      QStringLiteral("Die Systemtabelle \"%1\"").arg(kAcesTable));
        std::vector<std::vector<QVariant>> rows;
        for (const auto& e : userTableEntries(first))
            rows.push_back(aceRow(aces, e));
        d->addRows(acesPage, aces, rows);
        d->rebuildIndexes(acesPage, aces);
    }
}

std::vector<ColumnDef> AccessDatabase::columns(const QString& table) {
    const std::uint32_t page = d->findTable(table);
    if (page == 0)
        throw ExportError(QStringLiteral("Die Tabelle \"%1\" wurde nicht gefunden.").arg(table));
    std::vector<ColumnDef> defs;
    for (const auto& c : d->readTableDef(page).columns)
        defs.push_back(columnDefFor(c));
    return defs;
}

void AccessDatabase::appendRows(const QString& table, qint64 count, const RowSource& row,
                                const std::vector<ColumnDef>& columnTypes) {
    const std::uint32_t tdefPage = d->findTable(table);
    if (tdefPage == 0)
        throw ExportError(QStringLiteral("Die Tabelle \"%1\" wurde nicht gefunden.").arg(table));
    d->requireWritable();
    TableDef def = d->readTableDef(tdefPage);
    d->requireNoIndexes(def, QStringLiteral("Die Tabelle \"%1\"").arg(table));
    if (columnTypes.size() == def.columns.size())
        for (size_t i = 0; i < columnTypes.size(); ++i)
            if (def.columns[i].type == TypeDateTime)
                def.columns[i].source = columnTypes[i].type;
    if (qint64(def.rowCount) + count > qint64(0x7FFFFFFF))
        throw ExportError(QStringLiteral("Die Tabelle \"%1\" kann nicht so viele Datensätze "
                                         "aufnehmen.")
                              .arg(table));
    Impl::UsageMap used = d->loadMap(def.usedPagesMap);

    // The data page being filled, written once it is full; long values go to pages of their own.
    std::optional<PageBuilder> data;
    std::uint32_t dataPage = 0;
    Impl::LongValuePages longValues(*d);
    const LongValueStore storeLongValue = [&](const QByteArray& b) { return longValues.store(b); };

    std::vector<QVariant> values(def.columns.size());
    for (qint64 r = 0; r < count; ++r) {
        std::fill(values.begin(), values.end(), QVariant());
        row(r, values);
        const QByteArray bytes = encodeRow(def, values, storeLongValue);
        if (!data || !data->fits(int(bytes.size()))) {
            if (data)
                d->writePage(dataPage, data->bytes());
            data.emplace(tdefPage);
            dataPage = d->allocatePage();
            used.pages.insert(dataPage);
        }
        data->add(bytes);
    }
    if (data)
        d->writePage(dataPage, data->bytes());
    longValues.finish();
    d->saveMap(used);
    d->setRowCount(tdefPage, def.rowCount + std::uint32_t(count));
}

void AccessDatabase::commit() {
    d->requireWritable();
    d->temp->commit();
}

} // namespace exportfile
