#pragma once
// Keeps a top-level window's position in a registry key between runs, in
// the value names of the platform's window placement record ("FormVersion",
// "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos", "NormPos", "Visible",
// and "MinMaxPos"/"NormPos" again with the screen size appended, such as
// "NormPos(1920x1080)").
//
// The record logic works on plain values so it runs without a window; the
// two widget functions at the end are what a window calls.

#include "settings/registry.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <array>
#include <optional>

class QWidget;

namespace settings {

// A rectangle in the registry's sense: right and bottom are exclusive.
struct PlacementRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const PlacementRect&) const = default;
};

struct WindowPlacement {
    int flags = 0;   // 2: restores to maximized from minimized
    int showCmd = 1; // 1 normal, 2 minimized, 3 maximized
    QPoint minPosition{-1, -1};
    QPoint maxPosition{-1, -1};
    PlacementRect normalPosition;
    bool operator==(const WindowPlacement&) const = default;
};

struct ScreenInfo {
    QSize size;             // screen width and height, for the suffixed names
    int pixelsPerInch = 96; // logical pixels per inch
};

enum class SaveMoment { Closing, Destroying };

// "Name(WIDTHxHEIGHT)".
QString screenValueName(const QString& name, QSize screenSize);
// "a,b,c,d" from four integers; parsing accepts blanks around the numbers
// and gives nullopt for anything that is not four whole numbers.
QString formatFour(int a, int b, int c, int d);
std::optional<std::array<int, 4>> parseFour(const QString& text);

// Writes the record into the open key of registry (throws RegistryError).
void writePlacement(Registry& registry, const WindowPlacement& placement, const ScreenInfo& screen,
                    SaveMoment moment);

// Reads the record from the open key and decides whether it applies:
// nullopt unless the stored version is 0 or more, a position was stored
// (under the suffixed name first, the plain name when that is empty) and it
// was saved at the current pixels per inch. Values that cannot be read count
// as missing: a damaged record never stops a window from showing.
std::optional<WindowPlacement> readPlacement(const Registry& registry, const ScreenInfo& screen,
                                             int currentFlags = 0);

// Where a window of rectangle `window` can be reached on screens whose usable
// areas are `screens`: unchanged while a grip-sized piece of its top edge lies
// on one of them, otherwise moved onto the nearest screen (and made smaller
// where it is larger than that screen), so that a position saved on a screen
// that is gone never leaves the window out of sight. No screens: unchanged.
QRect reachableRect(const QRect& window, const QList<QRect>& screens);

// The primary screen, as the placement names it.
ScreenInfo currentScreen();

// Saves window's placement into keyPath under the current user, creating
// the key when missing; call when the window's close request is accepted
// (Closing) or, if that never happened, when it is destroyed (Destroying).
void savePlacement(const QWidget* window, SaveMoment moment,
                   const QString& keyPath = QString::fromLatin1(kSettingsKey));

// Moves window to the stored position; call before the window is shown.
// A frameless or fixed-size window takes only the stored left and top; a
// window with a sizeable frame takes the stored size too. The show state
// is left alone, so a hidden window stays hidden and a stored maximized
// state is not restored. Returns whether a position was applied.
bool restorePlacement(QWidget* window, const QString& keyPath = QString::fromLatin1(kSettingsKey));

} // namespace settings
