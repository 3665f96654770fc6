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
constexpr std::uint32_t kObjectTypeTable = 1;
constexpr std::uint32_t kSystemObjectFlags = 0x80000002u;
constexpr std::uint32_t kTablesContainerId = 0x0F000001u;
constexpr int kUsedMapRowLength = AccessDatabase::kDefaultUsageMapBytes;
constexpr int kFreeMapRowLength = 69;
constexpr int kTdefChunk = kPageSize - kTdefPageHeader;

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

// The catalog table: its columns in the order and with the types the format's own catalog has.
TableDef catalogDefinition() {
    struct Col {
        const char* name;
        std::uint8_t type;
        int length;
    };
    static const Col cols[] = {
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
    };
    TableDef def;
    def.system = true;
    for (const auto& c : cols) {
        Column col;
        col.name = QString::fromLatin1(c.name);
        col.type = c.type;
        col.length = c.length;
        const bool variable =
            c.type == TypeText || c.type == TypeMemo || c.type == TypeBinary || c.type == TypeOle;
        col.flags = variable ? FlagNullable : FlagFixed | FlagNullable;
        col.compressed = c.type == TypeText || c.type == TypeMemo;
        col.source = columnDefFor(col).type;
        def.columns.push_back(col);
    }
    layoutColumns(def.columns);
    return def;
}

std::vector<QVariant> catalogRow(std::uint32_t id, std::uint32_t parentId, const QString& name,
                                 std::uint32_t flags, std::uint32_t type) {
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<QVariant> values(catalogDefinition().columns.size());
    values[0] = qint64(qint32(id));
    values[1] = qint64(qint32(parentId));
    values[2] = name;
    values[4] = qint64(qint32(flags));
    values[5] = qint64(type);
    values[6] = now;
    values[7] = now;
    return values;
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
        if (def.indexCount > 0)
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
        auto index = [&](const char* name) {
            for (size_t i = 0; i < catalog.columns.size(); ++i)
                if (catalog.columns[i].name == QLatin1String(name))
                    return int(i);
            throw ExportError(QStringLiteral("Die Access-Datenbank \"%1\" ist beschädigt "
                                             "(Katalogspalte %2 fehlt).")
                                  .arg(nativePath(path), QLatin1String(name)));
        };
        const int id = index("Id"), name = index("Name"), type = index("Type"),
                  flags = index("Flags");
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

    std::uint32_t findTable(const QString& name) {
        for (const auto& e : catalogEntries())
            if (e.type == kObjectTypeTable && !(e.flags & kSystemObjectFlags) &&
                e.name.compare(name, Qt::CaseInsensitive) == 0)
                return e.id & 0x00FFFFFFu;
        return 0;
    }

    void addCatalogRow(const std::vector<QVariant>& values) {
        const QByteArray row = encodeRow(catalog, values, noLongValues);
        UsageMap map = loadMap(catalog.usedPagesMap);
        if (!map.pages.empty()) {
            const std::uint32_t last = *map.pages.rbegin();
            PageBuilder page = PageBuilder::fromBytes(readPage(last));
            if (page.fits(int(row.size()))) {
                page.add(row);
                writePage(last, page.bytes());
                setRowCount(kCatalogPage, ++catalog.rowCount);
                return;
            }
        }
        const std::uint32_t pageNo = allocatePage();
        PageBuilder page(kCatalogPage);
        page.add(row);
        writePage(pageNo, page.bytes());
        map.pages.insert(pageNo);
        saveMap(map);
        setRowCount(kCatalogPage, ++catalog.rowCount);
    }
};

// --- empty database ---------------------------------------------------------------------

void createAccessDatabase(const QString& path) {
    if (QFileInfo::exists(path))
        throw ExportError(
            QStringLiteral("Die Datei \"%1\" existiert bereits.").arg(nativePath(path)));
    TempFile temp(path, newFileMode());

    // Page 0 the header, 1 the map of free pages (none: new pages go to the end of the file),
    // 2 the catalog's definition, 3 the catalog's usage maps, 4 the catalog's rows.
    TableDef catalog = catalogDefinition();
    catalog.usedPagesMap = rowPointer(3, 0);
    catalog.freePagesMap = rowPointer(3, 1);
    catalog.rowCount = 1;

    PageBuilder freeSpace;
    freeSpace.add(emptyUsageMap(kFreeMapRowLength, 0));

    PageBuilder maps;
    QByteArray used = emptyUsageMap(kUsedMapRowLength, 0);
    used[5] = char(1u << 4); // page 4
    maps.add(used);
    maps.add(emptyUsageMap(kFreeMapRowLength, 0));

    PageBuilder rows(kCatalogPage);
    rows.add(encodeRow(catalog,
                       catalogRow(kCatalogPage, kTablesContainerId, QStringLiteral("MSysObjects"),
                                  kSystemObjectFlags, kObjectTypeTable),
                       noLongValues));

    const auto tdef = tableDefinitionPages(buildTableDefinition(catalog), kCatalogPage);
    if (tdef.size() != 1)
        throw ExportError(QStringLiteral("Die Katalogdefinition passt nicht auf eine Seite."));
    QByteArray file = headerPage() + freeSpace.bytes() + tdef.front() + maps.bytes() + rows.bytes();
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
        if (e.type == kObjectTypeTable && !(e.flags & kSystemObjectFlags))
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
    d->requireNoIndexes(d->catalog, QStringLiteral("Der Katalog"));
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

    d->addCatalogRow(catalogRow(first, kTablesContainerId, schema.tableName, 0, kObjectTypeTable));
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

    // The data page and the long value page being filled, each written once it is full.
    std::optional<PageBuilder> data;
    std::uint32_t dataPage = 0;
    std::optional<PageBuilder> longValues;
    std::uint32_t longValuePage = 0;

    auto placeLongValue = [&](const QByteArray& bytes) {
        if (!longValues || !longValues->fits(int(bytes.size()))) {
            if (longValues)
                d->writePage(longValuePage, longValues->bytes());
            longValues.emplace(PageBuilder::longValueOwner());
            longValuePage = d->allocatePage();
        }
        return rowPointer(longValuePage, longValues->add(bytes));
    };
    // A long value on one page when it fits, else in a chain of pieces, each of which starts
    // with the pointer to the next. The pieces are placed last first, so every piece knows
    // where its successor lies.
    auto storeLongValue = [&](const QByteArray& bytes) {
        QByteArray ref(12, char(0));
        const auto length = std::uint32_t(bytes.size());
        if (length > kLongValueLengthMask)
            throw ExportError(QStringLiteral("Ein Memo ist zu lang für eine Access-Datenbank."));
        if (bytes.size() <= kMaxRowSize) {
            put32(ref, 0, length | kLongValueSinglePage);
            put32(ref, 4, placeLongValue(bytes));
            return ref;
        }
        constexpr int piece = kMaxRowSize - 4;
        std::uint32_t next = 0;
        const qsizetype pieces = (bytes.size() + piece - 1) / piece;
        for (qsizetype k = pieces - 1; k >= 0; --k) {
            QByteArray chunk(4, char(0));
            put32(chunk, 0, next);
            chunk += bytes.mid(k * piece, piece);
            next = placeLongValue(chunk);
        }
        put32(ref, 0, length);
        put32(ref, 4, next);
        return ref;
    };

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
    if (longValues)
        d->writePage(longValuePage, longValues->bytes());
    d->saveMap(used);
    d->setRowCount(tdefPage, def.rowCount + std::uint32_t(count));
}

void AccessDatabase::commit() {
    d->requireWritable();
    d->temp->commit();
}

} // namespace exportfile
