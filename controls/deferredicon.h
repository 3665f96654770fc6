#pragma once
// An icon made only when it is first drawn, measured or asked about: icons
// that wait in menus or hidden buttons then cost nothing before the first
// window paints. Copies of the icon share what was made.

#include <QIcon>
#include <functional>

// NeverNull: the maker always gives an icon with a picture, so asking
// whether the icon is null (tool buttons ask when they are sized) does not
// make it.
enum class DeferredIconContent { MayBeNull, NeverNull };

QIcon deferredIcon(std::function<QIcon()> make,
                   DeferredIconContent content = DeferredIconContent::MayBeNull);
