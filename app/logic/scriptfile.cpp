#include "app/logic/scriptfile.h"

#include "export/values.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

ScriptFileError::ScriptFileError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

QString normalizeLineBreaks(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            result += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            result += c;
        }
    }
    return result;
}

QString readScriptFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw ScriptFileError(QStringLiteral("Datei %1 kann nicht geöffnet werden. %2")
                                  .arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ScriptFileError(QStringLiteral("Datei %1 kann nicht geöffnet werden. %2")
                                  .arg(fileName, file.errorString()));
    const QString text = exportfile::decodeDesktopText(bytes);
    return normalizeLineBreaks(text);
}

void writeScriptFile(const QString& fileName, const QStringList& lines) {
    auto fail = [&fileName](const QString& reason) {
        return ScriptFileError(
            QStringLiteral("Datei \"%1\" kann nicht erstellt werden. %2").arg(fileName, reason));
    };
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw fail(file.errorString());
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    const QByteArray bytes = exportfile::encodeDesktopText(text);
    // The buffered bytes are flushed here, where a full disk is reported with
    // its reason; commit() alone would take a failed flush for success.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw fail(reason);
    }
    if (!file.commit())
        throw fail(file.errorString());
}

QString withDefaultExtension(const QString& fileName, bool forSaving, const QString& extension) {
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    if (!forSaving && QFileInfo::exists(fileName))
        return fileName;
    return fileName + u'.' + extension;
}
