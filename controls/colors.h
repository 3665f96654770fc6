#pragma once
// Colour values as the forms store them: a signed 32-bit integer holding either
// an explicit colour 0x00BBGGRR (red in the lowest byte) or a system colour
// 0xFF0000nn, which stands for system colour number nn and is only turned
// into red, green and blue when something is drawn with it.

#include <QColor>
#include <cstdint>

using TColor = std::int32_t;

constexpr TColor systemColor(int number) {
    return static_cast<TColor>(0xFF000000u | static_cast<std::uint32_t>(number));
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor clActiveCaption = systemColor(2);
constexpr TColor clInactiveCaption = systemColor(3); // -16777213
constexpr TColor clWindow = systemColor(5);
constexpr TColor clWindowText = systemColor(8);
constexpr TColor clBtnFace = systemColor(15); // -16777201
constexpr TColor clBtnShadow = systemColor(16);
constexpr TColor clGrayText = systemColor(17); // -16777199
constexpr TColor clBtnText = systemColor(18);
constexpr TColor clBtnHighlight = systemColor(20);

constexpr bool isSystemColor(TColor c) {
    return (static_cast<std::uint32_t>(c) & 0xFF000000u) == 0xFF000000u;
}

// The explicit 0x00BBGGRR value a colour stands for right now: a system colour
// is looked up, an explicit colour is returned unchanged.
TColor colorToRGB(TColor c);

// The colour to draw with.
QColor toQColor(TColor c);

// Inverse of toQColor for explicit colours (alpha is dropped).
TColor fromQColor(const QColor& c);

constexpr TColor rgbColor(int r, int g, int b) {
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr int redOf(TColor c) {
    return c & 0xFF;
}
constexpr int greenOf(TColor c) {
    return (c >> 8) & 0xFF;
}
constexpr int blueOf(TColor c) {
    return (c >> 16) & 0xFF;
}

// Fractions that become pixel positions or colour components round to the
// nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
int roundHalfEven(double v);
