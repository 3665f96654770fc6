#include "export/fileio.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace exportfile {

void throwWriteError(const QFileDevice& f) {
    throw FileWriteError(f.fileName(), f.errorString());
}

void openForWriting(QFile& f, QIODevice::OpenMode mode) {
    if (!f.open(mode | QIODevice::Truncate))
        throw ExportError(QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden: %2")
                              .arg(f.fileName(), f.errorString()));
}

void writeBytes(QFileDevice& f, const QByteArray& bytes) {
    if (f.write(bytes) != bytes.size())
        throwWriteError(f);
}

void writeBytesAt(QFileDevice& f, qint64 pos, const QByteArray& bytes) {
    if (!f.seek(pos))
        throwWriteError(f);
    writeBytes(f, bytes);
}

void flushFile(QFileDevice& f) {
    if (f.isOpen() && !f.flush())
        throwWriteError(f);
}

QString siblingPath(const QString& path, const QString& extension) {
    const QString suffix = QFileInfo(path).suffix();
    const bool upper =
        !suffix.isEmpty() && suffix == suffix.toUpper() && suffix != suffix.toLower();
    const QString base = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
    return base + u'.' + (upper ? extension.toUpper() : extension);
}

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The permits given, most recent last. Transfers run on the threads of export jobs, so the
// list is guarded; each permit is used by the thread that gave it.
std::vector<ReplacementPermit*>& permits() {
    static std::vector<ReplacementPermit*> list;
    return list;
}

std::mutex& permitsLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

StagedFiles::StagedFiles(const QString& finalPath) {
    const QFileInfo fi(cleanAbsolute(finalPath));
    m_folder = fi.absolutePath();
    m_mainName = fi.fileName();
    // Hidden and named after the table, so a folder left by a crash says what it was.
    QByteArray pattern =
        QFile::encodeName(m_folder + QStringLiteral("/.") + m_mainName + QStringLiteral(".XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        throw ExportError(QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden: %2")
                              .arg(fi.filePath(), systemError()));
    m_staging = QFile::decodeName(pattern);
    // The marker is locked for as long as this staging lives; the lock goes with the process,
    // so a marker no one locks tells a staging folder left behind.
    m_lock = ::open(QFile::encodeName(m_staging + u'/' + QLatin1String(kStagingMarker)).constData(),
                    O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        const QString reason = systemError();
        discard();
        throw ExportError(QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden: %2")
                              .arg(fi.filePath(), reason));
    }
}

StagedFiles::~StagedFiles() {
    discard();
}

QString StagedFiles::path(const QString& finalPath) const {
    return m_staging + u'/' + QFileInfo(finalPath).fileName();
}

void StagedFiles::commit(const std::vector<QString>& obsolete) {
    if (m_staging.isEmpty())
        return;
    QStringList names =
        QDir(m_staging).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    names.removeAll(QLatin1String(kStagingMarker));
    // Memo files go first: the main file, put in place last, is what readers look for.
    if (names.removeAll(m_mainName) > 0)
        names.append(m_mainName);
    for (const QString& name : names) {
        const QString target = m_folder + u'/' + name;
        if (std::rename(QFile::encodeName(m_staging + u'/' + name).constData(),
                        QFile::encodeName(target).constData()) != 0)
            throw ExportError(QStringLiteral("Die Datei \"%1\" kann nicht ersetzt werden: %2")
                                  .arg(target, systemError()));
    }
    for (const QString& old : obsolete)
        if (!names.contains(QFileInfo(old).fileName()))
            QFile::remove(old);
    m_committed = true;
    discard();
}

void StagedFiles::discard() {
    if (!m_staging.isEmpty()) {
        QDir(m_staging).removeRecursively();
        m_staging.clear();
    }
    if (m_lock >= 0) {
        ::close(m_lock); // releases the lock
        m_lock = -1;
    }
}

int removeAbandonedStaging(const QString& folder) {
    int removed = 0;
    const QDir dir(folder);
    const QStringList candidates =
        dir.entryList({QStringLiteral(".*")}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : candidates) {
        const QString staging = dir.filePath(name);
        const int fd =
            ::open(QFile::encodeName(staging + u'/' + QLatin1String(kStagingMarker)).constData(),
                   O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue; // not a staging folder of ours
        // Locked: an export is writing there right now.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && QDir(staging).removeRecursively())
            ++removed;
        ::close(fd);
    }
    return removed;
}

QString StagedFiles::finalNames(const QString& text) const {
    if (m_staging.isEmpty())
        return text;
    QString s = text;
    return s.replace(m_staging + u'/', m_folder + u'/');
}

ReplacementPermit::ReplacementPermit(const QString& path) : m_path(cleanAbsolute(path)) {
    std::lock_guard guard(permitsLock());
    permits().push_back(this);
}

ReplacementPermit::~ReplacementPermit() {
    std::lock_guard guard(permitsLock());
    auto& list = permits();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

ReplacementPermit* ReplacementPermit::find(const QString& path) {
    const QString wanted = cleanAbsolute(path);
    std::lock_guard guard(permitsLock());
    const auto& list = permits();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->m_path == wanted)
            return *it;
    return nullptr;
}

StagedFiles& ReplacementPermit::stage(std::vector<QString> obsolete) {
    m_staged.reset();
    m_staged = std::make_unique<StagedFiles>(m_path);
    m_obsolete = std::move(obsolete);
    return *m_staged;
}

void ReplacementPermit::commit() {
    if (!m_staged)
        return;
    m_staged->commit(m_obsolete);
    m_staged.reset();
}

} // namespace exportfile
