#pragma once
// An icon made only when it is first drawn, measured or asked about: icons
// that wait in menus or hidden buttons then cost nothing before the first
// window paints. Copies of the icon share what was made.

#include <QIcon>
#include <functional>

QIcon deferredIcon(std::function<QIcon()> make);
