#pragma once
// Start-up of the styled controls, called by the entry point once the
// application object exists and before the first window is created.
//
// The theme table needs no filling: it is a compile-time constant and
// complete before any code runs. What remains is the fonts the windows were
// designed with: Tahoma and "MS Sans Serif" come with the Wine font package,
// which installs them outside the system font path, so they are registered
// with the application here; a face that is missing is mapped to the closest
// one available.

#include <QStringList>

void initStyledControls();

// Folders searched for the Windows-compatible fonts, first match wins.
QStringList windowsFontFolders();
