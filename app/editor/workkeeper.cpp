#include "app/editor/workkeeper.h"

#include "controls/textpane.h"
#include "settings/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThreadPool>
#include <stdexcept>

namespace editor {

void writeWork(const QString& path, const SavedWork& work) {
    if (work.text.isEmpty()) {
        QFile::remove(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QJsonObject o;
    o.insert(QStringLiteral("text"), work.text);
    o.insert(QStringLiteral("caret"), work.caret);
    o.insert(QStringLiteral("anchor"), work.anchor);
    o.insert(QStringLiteral("file"), work.fileName);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(o).toJson(QJsonDocument::Compact)) < 0 || !file.commit())
        throw std::runtime_error(file.errorString().toStdString());
}

SavedWork readWork(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    SavedWork work;
    work.text = o.value(QStringLiteral("text")).toString();
    work.caret = o.value(QStringLiteral("caret")).toInt();
    work.anchor = o.value(QStringLiteral("anchor")).toInt();
    work.fileName = o.value(QStringLiteral("file")).toString();
    return work;
}

// What the worker's writes and the window share: one write at a time, and
// a newer text is never overwritten by an older one.
struct WorkKeeper::Shared {
    std::mutex mutex;
    quint64 newest = 0; // the generation last written
    int done = 0;
};

WorkKeeper::WorkKeeper(TextPane* editor, const QString& folder, int intervalMs)
    : QObject(editor), m_editor(editor), m_folder(folder), m_shared(std::make_shared<Shared>()) {
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &WorkKeeper::autosave);
    connect(editor, &TextPane::textChanged, this, [this] {
        m_dirty = true;
        if (!m_timer.isActive())
            m_timer.start();
    });
}

WorkKeeper::~WorkKeeper() {
    // A write under way ends before the editor goes.
    std::lock_guard lock(m_shared->mutex);
}

QString WorkKeeper::path() const {
    const QString folder = m_folder.isEmpty() ? settings::configDirectory() : m_folder;
    return QDir(folder).filePath(QStringLiteral("editor.json"));
}

void WorkKeeper::setFileName(const QString& fileName) {
    if (fileName == m_fileName)
        return;
    m_fileName = fileName;
    // Written with the next timed write, as a change of the text is, so
    // that an unexpected end still names the file last saved.
    m_dirty = true;
    if (!m_timer.isActive())
        m_timer.start();
}

int WorkKeeper::writesDone() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->done;
}

SavedWork WorkKeeper::current() const {
    const QTextCursor cursor = m_editor->textCursor();
    return {m_editor->toPlainText(), cursor.position(), cursor.anchor(), m_fileName};
}

bool WorkKeeper::restore() {
    const SavedWork work = readWork(path());
    m_fileName = work.fileName;
    if (work.text.isEmpty())
        return false;
    m_editor->setPlainText(work.text);
    m_editor->setSelection(work.anchor, work.caret);
    m_dirty = false;
    m_timer.stop();
    return true;
}

void WorkKeeper::save() {
    m_timer.stop();
    m_dirty = false;
    std::lock_guard lock(m_shared->mutex);
    ++m_shared->newest;
    writeWork(path(), current());
}

void WorkKeeper::autosave() {
    if (!m_dirty) {
        m_timer.stop();
        return;
    }
    m_dirty = false;
    // The text is copied here (cheap, shared) and written on a worker.
    SavedWork work = current();
    const QString target = path();
    quint64 generation;
    {
        std::lock_guard lock(m_shared->mutex);
        generation = ++m_shared->newest;
    }
    QThreadPool::globalInstance()->start(
        [shared = m_shared, work = std::move(work), target, generation] {
            std::lock_guard lock(shared->mutex);
            if (generation != shared->newest)
                return; // a newer text was written or is on its way
            try {
                writeWork(target, work);
            } catch (const std::exception&) {
                // The next change tries again; the file left is whole.
            }
            ++shared->done;
        });
}

} // namespace editor
