#include "controls/styledcontrols.h"

#include "controls/deferredicon.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>

QStringList windowsFontFolders() {
    return {QStringLiteral("/usr/share/wine/fonts"), QStringLiteral("/usr/local/share/wine/fonts")};
}

namespace {

bool registerFont(const QString& fileName) {
    for (const QString& folder : windowsFontFolders()) {
        const QString path = QDir(folder).filePath(fileName);
        if (QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0)
            return true;
    }
    return false;
}

// The application style: the style the application had, with one change
// that leaves its look as it was: the tool bars' overflow icons are made when
// one is first drawn (see the header).
class WorkbenchStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override {
        if (which == SP_ToolBarHorizontalExtensionButton ||
            which == SP_ToolBarVerticalExtensionButton) {
            return deferredIcon([style = QPointer<QStyle>(baseStyle()), which] {
                // The style may have been replaced meanwhile: then the current one answers.
                return (style ? style.data() : QApplication::style())->standardIcon(which);
            });
        }
        return QProxyStyle::standardIcon(which, option, widget);
    }
};

} // namespace

QStyle* createWorkbenchStyle() {
    QStyle* current = QApplication::style();
    if (auto* workbench = dynamic_cast<WorkbenchStyle*>(current))
        current = workbench->baseStyle();
    QStyle* base = current ? QStyleFactory::create(current->name()) : nullptr;
    return base ? new WorkbenchStyle(base) : nullptr;
}

namespace {

void installWorkbenchStyle() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QStyle* current = QApplication::style();
    if (!current || dynamic_cast<WorkbenchStyle*>(current))
        return;
    if (QStyle* style = createWorkbenchStyle())
        QApplication::setStyle(style);
}

} // namespace

QFont designedFont() {
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSize(8);
    return f;
}

void initStyledControls() {
    static bool done = false;
    if (done)
        return;
    done = true;

    installWorkbenchStyle();

    const bool tahoma = registerFont(QStringLiteral("tahoma.ttf"));
    registerFont(QStringLiteral("tahomabd.ttf"));

    // The Wine "MS Sans Serif" is a bitmap face with a single size and no
    // bold; Tahoma, the scalable face that replaced it in the dialogs of the
    // time, stands in for it. Without Tahoma, a plain sans face does.
    if (!tahoma)
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans"),
                                                              QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono")});

    // Controls without a font of their own take the designed face too (every
    // line edit lays out its text with the application font while it is made).
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setFont(designedFont());
}
