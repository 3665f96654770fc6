#pragma once
// The main window's own frame: the title bar that moves, resizes and
// maximises the borderless window, its three window buttons, the status bar
// with its separators, and the dimmed look while another program is active.

#include <QWidget>
#include <functional>

// Starts the window system's interactive move of `window`, the way dragging a
// caption does. Tests install a recorder; an empty function restores the
// window system's move.
using CaptionDragHandler = std::function<void(QWidget* window)>;
void setCaptionDragHandler(CaptionDragHandler handler);
