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
    const bool sansSerif = registerFont(QStringLiteral("ms_sans_serif.ttf"));

    // The Wine "MS Sans Serif" is a bitmap-style face without bold or sizes
    // other than its own; where it is missing, Tahoma (its successor in the
    // dialogs of the time) stands in, and where Tahoma is missing too, a
    // metric-compatible sans face.
    if (!tahoma)
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    if (!sansSerif)
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono")});
}
