#pragma once
// Keeps the editor's work between runs: its text, its caret and the script
// file it came from, in "editor.json" in the settings folder. The window
// writes it when it closes and restores it at the next start (an empty
// editor leaves no file, so the next start is empty too). While the text
// changes, a timer writes it every interval on a worker thread, so a crash
// loses at most that much typing. Every write goes to a temporary file that
// replaces the old one only when complete.

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <mutex>

class TextPane;

namespace editor {

struct SavedWork {
    QString text;
    int caret = 0;
    int anchor = 0;
    QString fileName;
};

// Writes `work` to `path` atomically; an empty text removes the file.
// Throws std::runtime_error when the file cannot be written.
void writeWork(const QString& path, const SavedWork& work);
// What `path` holds; an empty text when there is no file or it cannot be
// read.
SavedWork readWork(const QString& path);

class WorkKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr int kInterval = 30000; // ms

    // `folder` empty: the settings folder, taken at each write.
    explicit WorkKeeper(TextPane* editor, const QString& folder = {}, int intervalMs = kInterval);
    ~WorkKeeper() override;

    QString path() const;
    // Puts the kept work into the editor; false when there was none.
    bool restore();
    // Writes now, on this thread (when the window closes).
    void save();
    // The script file the text came from ("" for none).
    QString fileName() const { return m_fileName; }
    void setFileName(const QString& fileName);
    // Writes that the timer started and that have ended.
    int writesDone() const;

private:
    SavedWork current() const;
    void autosave();

    TextPane* m_editor;
    QString m_folder;
    QString m_fileName;
    QTimer m_timer;
    bool m_dirty = false;
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace editor
