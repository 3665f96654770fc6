#pragma once
// Where on a borderless window a press lands, and what the window manager is
// asked to do about it. Pure functions over form coordinates, so the zone
// arithmetic and the command codes are checked without a window.

#include <Qt>

namespace framezones {

enum class Row { Top, Middle, Bottom };
enum class Column { Left, Inner, Right };

struct Zone {
    Row row = Row::Middle;
    Column column = Column::Inner;
    bool inner() const { return row == Row::Middle && column == Column::Inner; }
    bool operator==(const Zone&) const = default;
};

// Window-manager commands, as the classic window system numbers them.
constexpr int scSize = 0xF000; // plus an edge code 1..8
constexpr int scSizeLeft = 0xF001;
constexpr int scSizeRight = 0xF002;
constexpr int scSizeTop = 0xF003;
constexpr int scSizeTopLeft = 0xF004;
constexpr int scSizeTopRight = 0xF005;
constexpr int scSizeBottom = 0xF006;
constexpr int scSizeBottomLeft = 0xF007;
constexpr int scSizeBottomRight = 0xF008;
constexpr int scMove = 0xF010;
constexpr int scDragMove = 0xF012; // move by dragging with the mouse

// The top and left zones are 5 pixels deep, the bottom and right zones 4:
// top fy < 5, bottom fy > FH - 5, left fx < 5, right fx > FW - 5.
Zone zoneAt(int fx, int fy, int formWidth, int formHeight);

// The cursor that announces the zone's resize direction (arrow in the inner zone).
Qt::CursorShape cursorFor(Zone zone);

// The size command for a zone; 0 for the inner zone.
int sizeCommandFor(Zone zone);

// Whether a press with moving enabled starts a drag move: always when the
// edges do not resize, otherwise only in the inner zone. The zone is taken
// after any resize the same press started, against the form's size then.
bool pressMoves(Zone zoneAfterResize, bool formResize);

// The edges a size command drags; empty for anything that is not a size command.
Qt::Edges edgesFor(int command);

} // namespace framezones
