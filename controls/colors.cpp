#include "controls/colors.h"

#include <array>
#include <cmath>

namespace {

// The system colours are fixed rather than taken from the desktop theme: the
// frame, the grid and the labels were designed against the classic Windows
// scheme, and fixed values keep every rendering reproducible. Index = the
// Windows system colour number (COLOR_SCROLLBAR = 0 ... COLOR_MENUBAR = 30).
constexpr std::array<TColor, 31> kSystemColors = {
    rgbColor(212, 208, 200), //  0 scroll bar
    rgbColor(58, 110, 165),  //  1 desktop background
    rgbColor(10, 36, 106),   //  2 active caption
    rgbColor(128, 128, 128), //  3 inactive caption
    rgbColor(212, 208, 200), //  4 menu
    rgbColor(255, 255, 255), //  5 window
    rgbColor(0, 0, 0),       //  6 window frame
    rgbColor(0, 0, 0),       //  7 menu text
    rgbColor(0, 0, 0),       //  8 window text
    rgbColor(255, 255, 255), //  9 caption text
    rgbColor(212, 208, 200), // 10 active border
    rgbColor(212, 208, 200), // 11 inactive border
    rgbColor(128, 128, 128), // 12 application workspace
    rgbColor(10, 36, 106),   // 13 highlight
    rgbColor(255, 255, 255), // 14 highlight text
    rgbColor(212, 208, 200), // 15 button face
    rgbColor(128, 128, 128), // 16 button shadow
    rgbColor(128, 128, 128), // 17 grey text
    rgbColor(0, 0, 0),       // 18 button text
    rgbColor(212, 208, 200), // 19 inactive caption text
    rgbColor(255, 255, 255), // 20 button highlight
    rgbColor(64, 64, 64),    // 21 3D dark shadow
    rgbColor(212, 208, 200), // 22 3D light
    rgbColor(0, 0, 0),       // 23 tooltip text
    rgbColor(255, 255, 225), // 24 tooltip background
    rgbColor(181, 181, 181), // 25 (unassigned)
    rgbColor(0, 0, 128),     // 26 hot-tracked item
    rgbColor(166, 202, 240), // 27 active caption gradient
    rgbColor(192, 192, 192), // 28 inactive caption gradient
    rgbColor(10, 36, 106),   // 29 menu highlight
    rgbColor(212, 208, 200), // 30 menu bar
};

} // namespace

TColor colorToRGB(TColor c) {
    if (!isSystemColor(c))
        return c;
    const std::uint32_t number = static_cast<std::uint32_t>(c) & 0xFFu;
    // An unknown system colour number draws black, as the platform does.
    return number < kSystemColors.size() ? kSystemColors[number] : clBlack;
}

QColor toQColor(TColor c) {
    const TColor rgb = colorToRGB(c);
    return QColor(redOf(rgb), greenOf(rgb), blueOf(rgb));
}

TColor fromQColor(const QColor& c) {
    return rgbColor(c.red(), c.green(), c.blue());
}

int roundHalfEven(double v) {
    const double lower = std::floor(v);
    const double fraction = v - lower;
    double result = lower;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0))
        result = lower + 1.0;
    return static_cast<int>(result);
}
