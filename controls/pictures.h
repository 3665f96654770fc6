#pragma once
// The pictures of the title bar and the about window, drawn in code so the
// program carries no image files:
// the emblem (a white database cylinder on an orange disc), the product
// lettering, the maker's logo and the caption-button images.

#include <QColor>
#include <QPixmap>

class ImageList;

// The emblem on a transparent background, `size` pixels square.
QPixmap emblemPixmap(int size = 48);

// The product lettering "tarnwick 2005" in a 155 x 18 picture with a
// transparent background: the name in `nameColor`, the year in orange. Drawn
// with the designed fonts when a colour is first asked for, then cached.
QPixmap productLogoPixmap(const QColor& nameColor);

// The name colours of the lettering on the title panel and the about window.
inline constexpr QRgb logoNameOnTitle = 0xffffffff;
inline constexpr QRgb logoNameOnAbout = 0xff333333;

// The maker's logo, 150 x 20: a small emblem and the maker's name.
QPixmap makerLogoPixmap();

// Order of the caption-button images: close, minimise and maximise, each as
// normal, hot and pressed image.
enum WindowButtonImage {
    wbCloseNormal,
    wbCloseHot,
    wbClosePressed,
    wbMinNormal,
    wbMinHot,
    wbMinPressed,
    wbMaxNormal,
    wbMaxHot,
    wbMaxPressed,
    wbImageCount
};

// One 16 x 16 caption-button image.
QPixmap windowButtonPixmap(WindowButtonImage image);

// Fills `list` (16 x 16) with the nine caption-button images in the order above.
void addWindowButtonImages(ImageList& list);
