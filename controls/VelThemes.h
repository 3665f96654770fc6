#pragma once
// The seventeen named colour schemes of the styled controls and the fixed
// table that describes them. The table is a compile-time constant: it is
// complete before any code runs, so every control that applies a stored theme
// while its window is built finds it filled, and it can never be changed.

#include "controls/colors.h"

#include <array>
#include <cstdint>
#include <string_view>

enum TVelThemeTypes : std::uint8_t {
    thCustom,
    thHorizontalDark,
    thHorizontalMedium,
    thHorizontalLight,
    thVerticalDark,
    thVerticalDarkDisabled,
    thVerticalMedium,
    thVerticalLight,
    thVerticalLightWhite,
    thVerticalAquaDark,
    thVerticalAquaLight,
    thVerticalGreen,
    thVerticalRed,
    thVerticalYellow,
    thVerticalBlue,
    thVerticalWhite,
    thXPDark,
    thXPLight,
};

constexpr int kThemeCount = thXPLight + 1;

// Set of font styles, one bit each.
enum TFontStyle : std::uint8_t {
    fsBold = 0x01,
    fsItalic = 0x02,
    fsUnderline = 0x04,
    fsStrikeOut = 0x08
};
using TFontStyles = std::uint8_t;

struct TVelTheme {
    TColor LineColor = 0;
    TColor ExtraColor1 = 0;
    TColor ExtraColor2 = 0;
    TColor GradientColor1 = 0;
    TColor GradientColor2 = 0;
    TColor GradientColor3 = 0;
    TColor GradientColor4 = 0;
    TColor GradientColor3DLight = 0;
    TColor GradientColor3DDark = 0;
    TColor FontColor1 = 0;
    TFontStyles FontStyle1 = 0;
    std::string_view FontName1;
    TColor FontColor2 = 0;
    TFontStyles FontStyle2 = 0;
    std::string_view FontName2;
    TColor FontColor3 = 0;
    TFontStyles FontStyle3 = 0;
    std::string_view FontName3;
    TColor ExtraColor3 = 0;
    TColor GripColor3DDark = 0;
    TColor GripColor3DLight = 0;
    bool GradientVertical = false;
};

// Read access by theme: ThemeTable[thVerticalDark]. The thCustom entry is all
// zero and is never applied by a control.
class TVelThemeTable {
public:
    const TVelTheme& operator[](TVelThemeTypes theme) const;
    static constexpr int size() { return kThemeCount; }
};

extern const TVelThemeTable ThemeTable;

// The value names the forms store ("thVerticalDark"); unknown names give
// false and leave the output alone.
std::string_view themeName(TVelThemeTypes theme);
bool themeFromName(std::string_view name, TVelThemeTypes& theme);
