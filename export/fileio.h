#pragma once

// File handling shared by the writers: every failure becomes an ExportError that names the file.

#include "export/tableschema.h"

#include <QFile>
#include <memory>
#include <vector>

namespace exportfile {

[[noreturn]] void throwWriteError(const QFileDevice& f);
// Creates or truncates the file; ReadWrite where the writer seeks back to patch headers.
void openForWriting(QFile& f, QIODevice::OpenMode mode = QIODevice::WriteOnly);
void writeBytes(QFileDevice& f, const QByteArray& bytes);
void writeBytesAt(QFileDevice& f, qint64 pos, const QByteArray& bytes);
void flushFile(QFileDevice& f);

// The file beside path with the same base name and another extension (given without dot,
// lower case); the extension is upper case when path's own is ("KUNDEN.DBF" -> "KUNDEN.DBT").
QString siblingPath(const QString& path, const QString& extension);

// Files of one table written under their own names in a hidden folder beside their destination
// and put in place together once complete, so that a failure never leaves a destination file
// half written or gone. Each staging folder is used by one thread. While it lives it holds a
// lock on a marker file inside; a folder whose marker nobody locks was left by a process that
// ended early, and removeAbandonedStaging takes it away.
class StagedFiles {
public:
    // Creates the staging folder inside the folder of finalPath (the table's main file).
    // Throws ExportError naming finalPath when the folder cannot be written.
    explicit StagedFiles(const QString& finalPath);
    // Removes what is staged, unless it was committed.
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Where the file destined for finalPath (in the main file's folder) is written meanwhile.
    QString path(const QString& finalPath) const;
    // Renames every staged file over the file of the same name in the destination folder (the
    // main file last), then removes the files in obsolete that were not staged, and the
    // staging folder. Throws ExportError naming the file that could not be put in place.
    void commit(const std::vector<QString>& obsolete = {});
    // Removes the staged files; the destination folder stays as it is.
    void discard();
    bool committed() const { return m_committed; }
    // text with staging paths turned into the destination paths, for messages about files.
    QString finalNames(const QString& text) const;

private:
    QString m_folder;   // destination folder, absolute
    QString m_mainName; // file name of the main file
    QString m_staging;  // staging folder, absolute; empty once removed
    int m_lock = -1;    // the marker file, locked while the staging lives
    bool m_committed = false;
};

// Name of the marker file inside every staging folder.
inline constexpr const char* kStagingMarker = ".tarnwick-staging";

// Removes the staging folders in folder that a process left when it ended before it could
// remove them (a crash, a kill): hidden folders holding a marker no one has locked. Staging
// of exports still running, here or in another process, stays. Returns how many went.
int removeAbandonedStaging(const QString& folder);

// Leave for one transfer to replace the file at path. While it lives, a writer that finds a
// file there stages the new table (stage()) instead of refusing; commit() puts the staged
// files in place. Ending without commit removes them, so the existing file stays untouched.
// The batch move gives the leave for OverwriteExisting = ovADOyes; writers ask find().
class ReplacementPermit {
public:
    explicit ReplacementPermit(const QString& path);
    ~ReplacementPermit();
    ReplacementPermit(const ReplacementPermit&) = delete;
    ReplacementPermit& operator=(const ReplacementPermit&) = delete;

    // The permit for this file, nullptr when there is none.
    static ReplacementPermit* find(const QString& path);

    // Starts staging a new version of the file (an earlier, uncommitted one is discarded).
    // obsolete: files of the old version that commit removes unless new ones were staged.
    StagedFiles& stage(std::vector<QString> obsolete = {});
    // The current staging, nullptr before stage() and after commit().
    StagedFiles* staged() const { return m_staged.get(); }
    // Puts the staged files in place; nothing happens when nothing was staged.
    void commit();

private:
    QString m_path;
    std::unique_ptr<StagedFiles> m_staged;
    std::vector<QString> m_obsolete;
};

} // namespace exportfile
