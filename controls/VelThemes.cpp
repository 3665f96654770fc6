#include "controls/VelThemes.h"

namespace {

constexpr TColor kInactiveCaption = clInactiveCaption;

// One row per theme; the font fields are the same in every filled entry.
constexpr TVelTheme theme(TColor line, TColor extra1, TColor extra2, TColor g1, TColor g2,
                          TColor g3, TColor g4, TColor light3D, TColor dark3D, TColor fontColor1,
                          TColor extra3, TColor gripDark, TColor gripLight, bool vertical) {
    TVelTheme t;
    t.LineColor = line;
    t.ExtraColor1 = extra1;
    t.ExtraColor2 = extra2;
    t.GradientColor1 = g1;
    t.GradientColor2 = g2;
    t.GradientColor3 = g3;
    t.GradientColor4 = g4;
    t.GradientColor3DLight = light3D;
    t.GradientColor3DDark = dark3D;
    t.FontColor1 = fontColor1;
    t.FontStyle1 = fsBold;
    t.FontName1 = "Tahoma";
    t.FontColor2 = 0x000000;
    t.FontStyle2 = fsBold;
    t.FontName2 = "Tahoma";
    t.FontColor3 = 0x000000;
    t.FontStyle3 = 0;
    t.FontName3 = "Tahoma";
    t.ExtraColor3 = extra3;
    t.GripColor3DDark = gripDark;
    t.GripColor3DLight = gripLight;
    t.GradientVertical = vertical;
    return t;
}

// Colours are written 0xBBGGRR.
constexpr std::array<TVelTheme, kThemeCount> kThemes = {
    TVelTheme{}, // thCustom: never applied
    //     line      extra1    extra2    grad1     grad2     grad3     grad4     3Dlight   3Ddark
    //     font1     extra3            gripDark  gripLight vertical
    theme(0x555555, 0xFFFFFF, 0xCCCCCC, 0x000000, 0x666666, 0x666666, 0x000000, 0x999999, 0x333333,
          0xFFFFFF, kInactiveCaption, 0x000000, 0xFFFFFF, false), // thHorizontalDark
    theme(0x555555, 0xFFFFFF, 0xCCCCCC, 0x666666, 0xBBBBBB, 0xBBBBBB, 0x666666, 0xEEEEEE, 0x999999,
          0xFFFFFF, kInactiveCaption, 0x000000, 0xFFFFFF, false), // thHorizontalMedium
    theme(0x888888, 0xFFFFFF, 0xDDDDDD, 0xBBBBBB, 0xFFFFFF, 0xFFFFFF, 0xBBBBBB, 0xFFFFFF, 0x999999,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, false), // thHorizontalLight
    theme(0x000000, 0xFFFFFF, 0xDDDDDD, 0x444444, 0x222222, 0x222222, 0x000000, 0x999999, 0x000000,
          0xFFFFFF, kInactiveCaption, 0x000000, 0x999999, true), // thVerticalDark
    theme(0x000000, 0xFFFFFF, 0xDDDDDD, 0x555555, 0x333333, 0x333333, 0x111111, 0x999999, 0x000000,
          0xFFFFFF, kInactiveCaption, 0x000000, 0x999999, true), // thVerticalDarkDisabled
    theme(0x000000, 0xFFFFFF, 0xDDDDDD, 0x999999, 0x777777, 0x777777, 0x555555, 0xCCCCCC, 0x000000,
          0xFFFFFF, kInactiveCaption, 0x000000, 0xBBBBBB, true), // thVerticalMedium
    theme(0x888888, 0xEEEEEE, 0xDDDDDD, 0xEEEEEE, 0xDDDDDD, 0xDDDDDD, 0xCCCCCC, 0xFFFFFF, 0x808080,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalLight
    theme(0x888888, 0xFFFFFF, 0xEEEEEE, 0xFFFFFF, 0xEEEEEE, 0xEEEEEE, 0xDDDDDD, 0xFFFFFF, 0x808080,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalLightWhite
    theme(0x000000, 0xFFFFFF, 0xDDDDDD, 0x666666, 0x333333, 0x181818, 0x000000, 0x666666, 0x000000,
          0xFFFFFF, kInactiveCaption, 0x000000, 0x999999, true), // thVerticalAquaDark
    theme(0x888888, 0xFFFFFF, 0xDDDDDD, 0xFFFFFF, 0xDDDDDD, 0xD4D4D4, 0xCCCCCC, 0xFFFFFF, 0x808080,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalAquaLight
    theme(0xC0C0C0, 0xFFFFFF, 0xDDDDDD, 0xAADDBB, 0x33BB66, 0x33BB66, 0x66DDAA, 0xAADDBB, 0x999999,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalGreen
    theme(0xC0C0C0, 0xFFFFFF, 0xDDDDDD, 0xCCCCEE, 0x2222BB, 0x2222BB, 0x9999EE, 0xCCCCEE, 0x999999,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalRed
    theme(0xC0C0C0, 0xFFFFFF, 0xDDDDDD, 0xCCEEFF, 0x00BBDD, 0x00BBDD, 0x88EEFF, 0xCCEEFF, 0x999999,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalYellow
    theme(0xC0C0C0, 0xFFFFFF, 0xDDDDDD, 0xFFCCBB, 0xCC2200, 0xCC2200, 0xFF8888, 0xFFCCBB, 0x999999,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalBlue
    theme(0xC0C0C0, 0xFFFFFF, 0xDDDDDD, 0xFFFFFF, 0xDDDDDD, 0xDDDDDD, 0xEEEEEE, 0xFFFFFF, 0x999999,
          0x000000, kInactiveCaption, 0x888888, 0xFFFFFF, true), // thVerticalWhite
    theme(0x962D00, 0xFADAC4, 0xF5BFA0, 0xD68759, 0xB75B2D, 0xB75B2D, 0x962D00, 0xD28153, 0x999999,
          0xFFFFFF, 0x962D00, 0x000000, 0xFFFFFF, true), // thXPDark
    theme(0x962D00, 0xFADAC4, 0xF5BFA0, 0xD68759, 0xB75B2D, 0xB75B2D, 0x962D00, 0xD28153, 0x999999,
          0xFFFFFF, 0x962D00, 0x000000, 0xFFFFFF, true), // thXPLight
};

constexpr std::array<std::string_view, kThemeCount> kNames = {
    "thCustom",
    "thHorizontalDark",
    "thHorizontalMedium",
    "thHorizontalLight",
    "thVerticalDark",
    "thVerticalDarkDisabled",
    "thVerticalMedium",
    "thVerticalLight",
    "thVerticalLightWhite",
    "thVerticalAquaDark",
    "thVerticalAquaLight",
    "thVerticalGreen",
    "thVerticalRed",
    "thVerticalYellow",
    "thVerticalBlue",
    "thVerticalWhite",
    "thXPDark",
    "thXPLight",
};

} // namespace

const TVelThemeTable ThemeTable;

const TVelTheme& TVelThemeTable::operator[](TVelThemeTypes theme) const {
    // An out-of-range value (a corrupt stored setting) reads the empty entry
    // instead of memory beyond the table.
    return static_cast<int>(theme) < kThemeCount ? kThemes[theme] : kThemes[thCustom];
}

std::string_view themeName(TVelThemeTypes theme) {
    return static_cast<int>(theme) < kThemeCount ? kNames[theme] : std::string_view();
}

bool themeFromName(std::string_view name, TVelThemeTypes& theme) {
    for (int i = 0; i < kThemeCount; ++i) {
        if (kNames[i] == name) {
            theme = static_cast<TVelThemeTypes>(i);
            return true;
        }
    }
    return false;
}
