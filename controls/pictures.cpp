#include "controls/pictures.h"

#include "controls/imagelist.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QRadialGradient>

namespace {

const QColor kOrange(0xF0, 0x7D, 0x14);
const QColor kOrangeDark(0xB8, 0x52, 0x00);

QPixmap transparentPixmap(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

// A database cylinder inside `r`: body, two band lines and the top ellipse.
void drawCylinder(QPainter& p, const QRectF& r, const QColor& face, const QColor& shade,
                  const QColor& outline, qreal pen) {
    const qreal capH = r.height() * 0.28;
    QPainterPath body;
    body.moveTo(r.left(), r.top() + capH / 2);
    body.lineTo(r.left(), r.bottom() - capH / 2);
    body.arcTo(QRectF(r.left(), r.bottom() - capH, r.width(), capH), 180, 180);
    body.lineTo(r.right(), r.top() + capH / 2);
    body.closeSubpath();

    QLinearGradient g(r.left(), 0, r.right(), 0);
    g.setColorAt(0, shade);
    g.setColorAt(0.35, face);
    g.setColorAt(1, shade);
    p.setPen(QPen(outline, pen));
    p.setBrush(g);
    p.drawPath(body);

    p.setBrush(Qt::NoBrush);
    const qreal bodyH = r.height() - capH;
    for (double f : {1.0 / 3.0, 2.0 / 3.0}) {
        const qreal y = r.top() + bodyH * f;
        p.drawArc(QRectF(r.left(), y, r.width(), capH), 180 * 16, 180 * 16);
    }
    p.setBrush(face);
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), capH));
}

QFont letteringFont(int pixelSize, bool italic = false) {
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(pixelSize);
    f.setBold(true);
    f.setItalic(italic);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// Glyph of a caption button, drawn on the 16 x 16 face shifted by `offset`.
void drawGlyph(QPainter& p, int kind, QPointF offset, const QColor& color) {
    p.setBrush(Qt::NoBrush);
    p.translate(offset);
    switch (kind) {
    case 0: { // close: a cross
        p.setPen(QPen(color, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5, 5), QPointF(11, 11));
        p.drawLine(QPointF(11, 5), QPointF(5, 11));
        break;
    }
    case 1: // minimise: a bar at the bottom
        p.fillRect(QRectF(5, 10, 6, 2), color);
        break;
    default: // maximise: a window outline with a heavy top edge
        p.setPen(QPen(color, 1));
        p.drawRect(QRectF(4.5, 4.5, 7, 7));
        p.fillRect(QRectF(4, 4, 8, 2), color);
        break;
    }
    p.translate(-offset);
}

} // namespace

QPixmap emblemPixmap(int size) {
    QPixmap pm = transparentPixmap(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 48.0;

    const QRectF disc(1 * s, 1 * s, 46 * s, 46 * s);
    QRadialGradient g(disc.center() - QPointF(8 * s, 10 * s), 34 * s);
    g.setColorAt(0, QColor(0xFF, 0xB8, 0x5C));
    g.setColorAt(0.6, kOrange);
    g.setColorAt(1, QColor(0xD2, 0x5F, 0x00));
    p.setPen(QPen(kOrangeDark, 1.2 * s));
    p.setBrush(g);
    p.drawEllipse(disc);

    drawCylinder(p, QRectF(13 * s, 10 * s, 22 * s, 28 * s), Qt::white, QColor(0xDD, 0xDD, 0xDD),
                 QColor(0xA8, 0x4A, 0x00), 1.1 * s);
    return pm;
}

namespace {

constexpr QSize kLogoSize(155, 18);

QPixmap drawProductLogo(const QColor& nameColor) {
    const QString name = QStringLiteral("tarnwick");
    const QString year = QStringLiteral(" 2005");
    QPixmap pm = transparentPixmap(kLogoSize.width(), kLogoSize.height());
    QPainter p(&pm);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The largest lettering that fits the picture.
    QFont f = letteringFont(16);
    while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(name + year) > kLogoSize.width())
        f.setPixelSize(f.pixelSize() - 1);
    p.setFont(f);
    const QFontMetrics fm(f);
    const int baseline = (kLogoSize.height() + fm.ascent() - fm.descent()) / 2;
    p.setPen(nameColor);
    p.drawText(0, baseline, name);
    p.setPen(kOrange);
    p.drawText(fm.horizontalAdvance(name), baseline, year);
    return pm;
}

} // namespace

QPixmap productLogoPixmap(const QColor& nameColor) {
    // Kept in the pixmap cache, so each window that shows the lettering lays
    // it out once; the cache may drop it, and then it is drawn again.
    const QString key = QStringLiteral("tarnwick-product-logo-%1").arg(nameColor.rgba(), 8, 16);
    QPixmap logo;
    if (!QPixmapCache::find(key, &logo)) {
        logo = drawProductLogo(nameColor);
        QPixmapCache::insert(key, logo);
    }
    return logo;
}

QPixmap makerLogoPixmap() {
    QPixmap pm = transparentPixmap(150, 20);
    QPainter p(&pm);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    // Written from the right edge, so the logo lines up with right-aligned text.
    const QString maker = QStringLiteral("Kestrune");
    const QFont f = letteringFont(14, true);
    const QFontMetrics fm(f);
    const int textW = fm.horizontalAdvance(maker);
    const int textX = 150 - textW - 1;
    p.drawPixmap(textX - 22, 1, emblemPixmap(18));
    p.setFont(f);
    p.setPen(QColor(0x55, 0x55, 0x55));
    p.drawText(textX, (20 + fm.ascent() - fm.descent()) / 2, maker);
    return pm;
}

QPixmap windowButtonPixmap(WindowButtonImage image) {
    const int kind = image / 3;  // 0 close, 1 minimise, 2 maximise
    const int state = image % 3; // 0 normal, 1 hot, 2 pressed
    QPixmap pm = transparentPixmap(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    QColor top, bottom, border, glyph;
    if (state == 0) {
        top = QColor(0x5C, 0x5C, 0x5C);
        bottom = QColor(0x2A, 0x2A, 0x2A);
        border = QColor(0x77, 0x77, 0x77);
        glyph = QColor(0xD8, 0xD8, 0xD8);
    } else if (kind == 0) { // the close button turns red when hot or pressed
        top = state == 1 ? QColor(0xE8, 0x5A, 0x4F) : QColor(0x8E, 0x22, 0x1B);
        bottom = state == 1 ? QColor(0xA8, 0x22, 0x18) : QColor(0xC4, 0x3B, 0x31);
        border = QColor(0xF0, 0x9A, 0x92);
        glyph = Qt::white;
    } else {
        top = state == 1 ? QColor(0x88, 0x88, 0x88) : QColor(0x1C, 0x1C, 0x1C);
        bottom = state == 1 ? QColor(0x44, 0x44, 0x44) : QColor(0x44, 0x44, 0x44);
        border = QColor(0xAA, 0xAA, 0xAA);
        glyph = Qt::white;
    }
    QLinearGradient g(0, 0, 0, 16);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(border, 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);

    p.setRenderHint(QPainter::Antialiasing, kind == 0);
    drawGlyph(p, kind, state == 2 ? QPointF(0.5, 1) : QPointF(0, 0), glyph);
    return pm;
}

void addWindowButtonImages(ImageList& list) {
    // Drawn when first shown: the hot and pressed looks wait for the mouse.
    for (int i = 0; i < wbImageCount; ++i)
        list.addDeferred([i] { return windowButtonPixmap(static_cast<WindowButtonImage>(i)); });
}
