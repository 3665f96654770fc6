#include "artwork.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <cstring>

QPixmap applicationIconPixmap(int size)
{
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

QPixmap wordmarkPixmap()
{
    QPixmap pm(155, 18);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(16);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 155, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("tarnwick 2005"));
    return pm;
}

QIcon actionIcon(const char* name)
{
    struct Entry {
        const char* action;
        QStyle::StandardPixmap pixmap;
    };
    static constexpr Entry table[] = {
        {"ACConnect", QStyle::SP_DriveNetIcon},
        {"ACNew", QStyle::SP_FileIcon},
        {"ACOpen", QStyle::SP_DialogOpenButton},
        {"ACSave", QStyle::SP_DialogSaveButton},
        {"ACQuery", QStyle::SP_MediaPlay},
        {"ACExecute", QStyle::SP_MediaSeekForward},
        {"ACTables", QStyle::SP_FileDialogDetailedView},
        {"AcInfo", QStyle::SP_MessageBoxInformation},
        {"ACPrint", QStyle::SP_FileDialogContentsView},
        {"ACImport", QStyle::SP_ArrowDown},
        {"ACExport", QStyle::SP_ArrowUp},
        {"ACSetup", QStyle::SP_FileDialogListView},
        {"Beenden1", QStyle::SP_DialogCloseButton},
        {"TBItemInfo", QStyle::SP_MessageBoxQuestion},
    };
    for (const Entry& e : table)
        if (std::strcmp(e.action, name) == 0)
            return QApplication::style()->standardIcon(e.pixmap);
    return {};
}
