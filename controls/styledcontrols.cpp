#include "styledcontrols.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>

QStringList windowsFontFolders()
{
    return {QStringLiteral("/usr/share/wine/fonts"), QStringLiteral("/usr/local/share/wine/fonts")};
}

namespace {

bool registerFont(const QString& fileName)
{
    for (const QString& folder : windowsFontFolders()) {
        const QString path = QDir(folder).filePath(fileName);
        if (QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0)
            return true;
    }
    return false;
}

} // namespace

void initStyledControls()
{
    static bool done = false;
    if (done)
        return;
    done = true;

    const bool tahoma = registerFont(QStringLiteral("tahoma.ttf"));
    registerFont(QStringLiteral("tahomabd.ttf"));

    // The Wine "MS Sans Serif" is a bitmap face with a single size and no
    // bold; Tahoma, the scalable face that replaced it in the dialogs of the
    // time, stands in for it. Without Tahoma, a plain sans face does.
    if (!tahoma)
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono")});
}
