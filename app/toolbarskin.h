#pragma once
// The skin of the main window's toolbar dock: a flat light dock with a dark
// line at its foot, the button bar with a light-blue gradient in a thin grey
// border, flat tool buttons that light up blue under the mouse, and a
// transparent menu bar whose items light up the same way.
//
// Drawn by a proxy style set on the dock and the controls in it, rather than
// by a style sheet: a style sheet restyles each control through the general
// style-sheet machinery as it is made, a cost every start would pay.

#include <QColor>

class QWidget;

namespace toolbarskin {

inline const QColor dockFace{0xEF, 0xED, 0xDE};
inline const QColor dockFoot{0x92, 0x8F, 0x82};
inline const QColor barTop{0xEC, 0xF1, 0xF9};
inline const QColor barBottom{0xC1, 0xD2, 0xEE};
inline const QColor barBorder{0x8A, 0x86, 0x7A};
inline const QColor separator{0xB8, 0xB5, 0xA8};
inline const QColor hot{0xC1, 0xD2, 0xEE};
inline const QColor pressed{0xAD, 0xC4, 0xE8};
inline const QColor checked{0xE5, 0xE9, 0xE9};

// Gives the dock and every control in it (the menus excepted, which have a
// skin of their own) the skin. Call once the bars are filled.
void apply(QWidget* dock);

} // namespace toolbarskin
