#include "controls/framezones.h"

namespace framezones {

Zone zoneAt(int fx, int fy, int formWidth, int formHeight) {
    Zone z;
    if (fy < 5)
        z.row = Row::Top;
    else if (fy > formHeight - 5)
        z.row = Row::Bottom;
    if (fx < 5)
        z.column = Column::Left;
    else if (fx > formWidth - 5)
        z.column = Column::Right;
    return z;
}

Qt::CursorShape cursorFor(Zone zone) {
    switch (zone.row) {
    case Row::Top:
        return zone.column == Column::Left    ? Qt::SizeFDiagCursor
               : zone.column == Column::Right ? Qt::SizeBDiagCursor
                                              : Qt::SizeVerCursor;
    case Row::Bottom:
        return zone.column == Column::Left    ? Qt::SizeBDiagCursor
               : zone.column == Column::Right ? Qt::SizeFDiagCursor
                                              : Qt::SizeVerCursor;
    case Row::Middle:
        break;
    }
    return zone.column == Column::Inner ? Qt::ArrowCursor : Qt::SizeHorCursor;
}

int sizeCommandFor(Zone zone) {
    static constexpr int table[3][3] = {
        {scSizeTopLeft, scSizeTop, scSizeTopRight},
        {scSizeLeft, 0, scSizeRight},
        {scSizeBottomLeft, scSizeBottom, scSizeBottomRight},
    };
    return table[static_cast<int>(zone.row)][static_cast<int>(zone.column)];
}

bool pressMoves(Zone zoneAfterResize, bool formResize) {
    return !formResize || zoneAfterResize.inner();
}

Qt::Edges edgesFor(int command) {
    switch (command) {
    case scSizeLeft:
        return Qt::LeftEdge;
    case scSizeRight:
        return Qt::RightEdge;
    case scSizeTop:
        return Qt::TopEdge;
    case scSizeTopLeft:
        return Qt::TopEdge | Qt::LeftEdge;
    case scSizeTopRight:
        return Qt::TopEdge | Qt::RightEdge;
    case scSizeBottom:
        return Qt::BottomEdge;
    case scSizeBottomLeft:
        return Qt::BottomEdge | Qt::LeftEdge;
    case scSizeBottomRight:
        return Qt::BottomEdge | Qt::RightEdge;
    default:
        return {};
    }
}

} // namespace framezones
