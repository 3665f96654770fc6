#pragma once
// Start-up of the styled controls, called by the entry point once the
// application object exists and before the first window is created.
//
// The theme table needs no filling: it is a compile-time constant and
// complete before any code runs. What remains is the fonts the windows were
// designed with: Tahoma comes with the Wine font package, which installs it
// outside the system font path, so it is registered with the application
// here; "MS Sans Serif" and "Courier New" are mapped to the closest faces
// available (Tahoma, Liberation Mono).
//
// The application style becomes a proxy of the style it had that makes the
// tool bars' overflow icons only when one is first drawn: making them reads
// image files, which loads every image format plugin before the first
// window can paint, while the tool bars rarely overflow.

#include <QFont>
#include <QStringList>

class QStyle;

void initStyledControls();

// A new instance of the application style (after initStyledControls(): the
// proxy described above over a new instance of its base style), for a proxy
// that changes the look of a few controls and must not take over the
// application's own style object. The caller owns it; null if the base style
// cannot be made.
QStyle* createWorkbenchStyle();

// The face the windows were designed with: Tahoma, 8 points. It is also the
// application font once initStyledControls() has run.
QFont designedFont();

// Folders searched for the Windows-compatible fonts, first match wins.
QStringList windowsFontFolders();
