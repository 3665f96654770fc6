#pragma once
// The window's pictures, drawn in code so the program carries no image files:
// the application icon and the action images.

#include <QIcon>
#include <QPixmap>

QPixmap applicationIconPixmap(int size = 32);
QIcon actionIcon(const char* actionName);
