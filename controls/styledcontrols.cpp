#include "controls/styledcontrols.h"

#include "controls/deferredicon.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <utility>

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

// Draws a large frame from a rendering of the same frame at a small size:
// the corners as drawn, the middle row and column stretched over the rest.
// Returns false, having drawn nothing, where that cannot be exact.
//
// Why: Qt's raster engine hands a fill of 96 spans or more to its thread
// pool, one task per 64 spans, and waits for them. A line drawn with a pen is
// one span per pixel, so the outline of a tab page took dozens of hand-overs,
// each costing far more than its pixels; that was about 2 ms of the main
// window's first paint. The stretched drawing is rectangle fills, which the
// engine does on the painting thread. Only for frames the base style draws
// from straight lines and plain fills, where the middle of every edge is the
// same all along (the tests compare it with the style's own drawing).
bool drawStretchedFrame(const QStyle* base, QStyle::PrimitiveElement element,
                        const QStyleOption* option, QPainter* painter, const QWidget* widget) {
    constexpr int corner = 6;
    constexpr int side = 2 * corner + 1;
    const QRect target = option->rect;
    const QTransform& transform = painter->transform();
    if (target.width() < side || target.height() < side ||
        painter->device()->devicePixelRatio() != 1.0 ||
        transform.type() > QTransform::TxTranslate || transform.dx() != qRound(transform.dx()) ||
        transform.dy() != qRound(transform.dy()) || painter->opacity() != 1.0 ||
        painter->compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;

    QImage sample(side, side, QImage::Format_ARGB32_Premultiplied);
    sample.fill(Qt::transparent);
    {
        QPainter small(&sample);
        if (const auto* frame = qstyleoption_cast<const QStyleOptionTabWidgetFrame*>(option)) {
            QStyleOptionTabWidgetFrame copy = *frame;
            copy.rect = sample.rect();
            base->drawPrimitive(element, &copy, &small, widget);
        } else {
            return false;
        }
    }

    // Where row or column s of the sample goes: its first target line and count.
    const auto place = [](int s, int origin, int length) -> std::pair<int, int> {
        if (s < corner)
            return {origin + s, 1};
        if (s == corner)
            return {origin + corner, length - 2 * corner};
        return {origin + length - side + s, 1};
    };
    for (int sy = 0; sy < side; ++sy) {
        const auto [y, height] = place(sy, target.y(), target.height());
        const QRgb* row = reinterpret_cast<const QRgb*>(sample.constScanLine(sy));
        for (int sx = 0; sx < side;) {
            int last = sx;
            while (last + 1 < side && row[last + 1] == row[sx])
                ++last;
            if (qAlpha(row[sx]) != 0) {
                const int x = place(sx, target.x(), target.width()).first;
                const auto [lastX, lastWidth] = place(last, target.x(), target.width());
                painter->fillRect(QRect(x, y, lastX + lastWidth - x, height),
                                  QColor::fromRgba(qUnpremultiply(row[sx])));
            }
            sx = last + 1;
        }
    }
    return true;
}

// The application style: the style the application had, with two changes
// that leave its look as it was. The tool bars' overflow icons are made when
// one is first drawn (see the header), and the frames of tab pages are drawn
// stretched from a small one (drawStretchedFrame).
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

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const bool stretched =
            element == PE_FrameTabWidget && option && painter &&
            baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0 &&
            drawStretchedFrame(baseStyle(), element, option, painter, widget);
        if (!stretched)
            QProxyStyle::drawPrimitive(element, option, painter, widget);
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
