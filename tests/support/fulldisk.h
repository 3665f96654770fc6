#pragma once
// A full disk for tests: a tiny tmpfs mounted on a temporary folder for the
// object's lifetime and filled to its last block, so that every write into it
// fails with the system's "no space left" error. Mounting needs the right to
// do so (root, as in CI); mounted() tells whether it worked.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

class FullDisk {
public:
    FullDisk() {
        if (!m_dir.isValid())
            return;
        const QByteArray where = QFile::encodeName(m_dir.path());
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
            return;
        m_mounted = true;
        const QByteArray filler = where + "/filler";
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            return;
        const QByteArray block(4096, 'x');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) {
        }
        for (char c = 'x'; ::write(fd, &c, 1) > 0;) {
        }
        ::close(fd);
    }
    ~FullDisk() {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // What the system says for a write onto a full disk.
    static QString reason() { return QString::fromLocal8Bit(std::strerror(ENOSPC)); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
