#pragma once
// The window's pictures, drawn in code so the program carries no image files:
// the application icon, the wordmark and the action images.

#include <QIcon>
#include <QPixmap>

QPixmap applicationIconPixmap(int size = 32);
QPixmap wordmarkPixmap();        // 155 x 18, transparent background
QIcon actionIcon(const char* actionName);
