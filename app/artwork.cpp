#include "app/artwork.h"

#include "controls/deferredicon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>
#include <cstring>

QPixmap applicationIconPixmap(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    // A database drum: three stacked discs.
    QLinearGradient g(4 * s, 0, 28 * s, 0);
    g.setColorAt(0, QColor(0x3A, 0x6E, 0xA5));
    g.setColorAt(0.5, QColor(0x8C, 0xB8, 0xE6));
    g.setColorAt(1, QColor(0x2B, 0x50, 0x7A));
    p.setPen(QPen(QColor(0x1C, 0x33, 0x4F), s));
    p.setBrush(g);
    const QRectF body(5 * s, 7 * s, 22 * s, 20 * s);
    QPainterPath path;
    path.moveTo(body.left(), body.top());
    path.lineTo(body.left(), body.bottom());
    path.arcTo(QRectF(body.left(), body.bottom() - 3 * s, body.width(), 6 * s), 180, 180);
    path.lineTo(body.right(), body.top());
    path.closeSubpath();
    p.drawPath(path);
    for (qreal y : {13.0, 19.0})
        p.drawArc(QRectF(body.left(), (y - 3) * s, body.width(), 6 * s), 180 * 16, 180 * 16);
    p.setBrush(QColor(0xC9, 0xDD, 0xF2));
    p.drawEllipse(QRectF(body.left(), body.top() - 3 * s, body.width(), 6 * s));
    return pm;
}

namespace {

enum class Glyph {
    Plug,
    Page,
    Folder,
    Disk,
    Play,
    FastForward,
    Grid,
    Info,
    Printer,
    ArrowDown,
    ArrowUp,
    Gear,
    Cross,
    Question,
    Stop
};

// Draws one 16 x 16 action image. Painted rather than loaded: the style's
// stock images would be decoded from compressed files before the window's
// first paint.
QPixmap glyphPixmap(Glyph glyph) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x33, 0x44, 0x66);
    p.setPen(QPen(ink, 1));
    switch (glyph) {
    case Glyph::Plug:
        p.setBrush(QColor(0xE8, 0xB0, 0x30));
        p.drawRect(QRectF(3.5, 5.5, 7, 6));
        p.drawLine(QPointF(10.5, 8.5), QPointF(14.5, 8.5));
        p.drawLine(QPointF(5.5, 2.5), QPointF(5.5, 5.5));
        p.drawLine(QPointF(8.5, 2.5), QPointF(8.5, 5.5));
        break;
    case Glyph::Page:
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({{3.5, 1.5}, {10.5, 1.5}, {13.5, 4.5}, {13.5, 14.5}, {3.5, 14.5}}));
        break;
    case Glyph::Folder:
        p.setBrush(QColor(0xF2, 0xC8, 0x4B));
        p.drawPolygon(QPolygonF(
            {{1.5, 4.5}, {6.5, 4.5}, {7.5, 3.5}, {14.5, 3.5}, {14.5, 13.5}, {1.5, 13.5}}));
        break;
    case Glyph::Disk:
        p.setBrush(QColor(0x4A, 0x6F, 0xB5));
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 2.5, 7, 4));
        break;
    case Glyph::Play:
        p.setBrush(QColor(0x3C, 0xA0, 0x3C));
        p.drawPolygon(QPolygonF({{4.5, 2.5}, {13.5, 8}, {4.5, 13.5}}));
        break;
    case Glyph::FastForward:
        p.setBrush(QColor(0xD0, 0x6A, 0x20));
        p.drawPolygon(QPolygonF({{1.5, 3.5}, {8, 8}, {1.5, 12.5}}));
        p.drawPolygon(QPolygonF({{7.5, 3.5}, {14.5, 8}, {7.5, 12.5}}));
        break;
    case Glyph::Grid:
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        for (qreal y : {5.5, 8.5, 11.0})
            p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
        p.drawLine(QPointF(6.5, 2.5), QPointF(6.5, 13.5));
        break;
    case Glyph::Info:
        p.setBrush(QColor(0x3A, 0x70, 0xC8));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        // The letter as shapes: the toolbar shows this glyph in the window's
        // first picture, and a text glyph would load a bold face just for it.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(6.8, 3.5, 2.4, 2.4));
        p.drawRect(QRectF(7.0, 6.8, 2.0, 5.7));
        break;
    case Glyph::Question: {
        p.setBrush(QColor(0x3A, 0x70, 0xC8));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        QFont f = p.font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case Glyph::Printer:
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(0x90, 0x90, 0x90));
        p.drawRect(QRectF(1.5, 6.5, 13, 6));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 10.5, 7, 4));
        break;
    case Glyph::ArrowDown:
    case Glyph::ArrowUp: {
        p.setBrush(QColor(0x3C, 0x8C, 0xC8));
        QPolygonF arrow(
            {{5.5, 1.5}, {10.5, 1.5}, {10.5, 8.5}, {13.5, 8.5}, {8, 14.5}, {2.5, 8.5}, {5.5, 8.5}});
        if (glyph == Glyph::ArrowUp)
            arrow = QTransform(1, 0, 0, -1, 0, 16).map(arrow);
        p.drawPolygon(arrow);
        break;
    }
    case Glyph::Gear:
        p.setBrush(QColor(0x80, 0x80, 0x90));
        p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
        break;
    case Glyph::Stop:
        p.setBrush(QColor(0xC8, 0x3C, 0x3C));
        p.drawRect(QRectF(3.5, 3.5, 9, 9));
        break;
    case Glyph::Cross:
        p.setPen(QPen(QColor(0xC0, 0x30, 0x30), 2));
        p.drawLine(QPointF(3, 3), QPointF(13, 13));
        p.drawLine(QPointF(13, 3), QPointF(3, 13));
        break;
    }
    return pm;
}

} // namespace

QIcon actionIcon(const char* name) {
    struct Entry {
        const char* action;
        Glyph glyph;
    };
    static constexpr Entry table[] = {
        {"ACConnect", Glyph::Plug},   {"ACNew", Glyph::Page},
        {"ACOpen", Glyph::Folder},    {"ACSave", Glyph::Disk},
        {"ACQuery", Glyph::Play},     {"ACExecute", Glyph::FastForward},
        {"ACTables", Glyph::Grid},    {"AcInfo", Glyph::Info},
        {"ACPrint", Glyph::Printer},  {"ACImport", Glyph::ArrowDown},
        {"ACExport", Glyph::ArrowUp}, {"ACSetup", Glyph::Gear},
        {"Beenden1", Glyph::Cross},   {"TBItemInfo", Glyph::Question},
        {"ACCancel", Glyph::Stop},
    };
    // Drawn when first shown: most of them wait in menus.
    for (const Entry& e : table)
        if (std::strcmp(e.action, name) == 0)
            return deferredIcon([glyph = e.glyph] { return QIcon(glyphPixmap(glyph)); },
                                DeferredIconContent::NeverNull);
    return {};
}
