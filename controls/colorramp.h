#pragma once
// The banded colour ramp of the gradient panels: from colour A towards colour
// B in bands that differ by at most one step per component.

#include "controls/colors.h"

#include <vector>

struct RampBand {
    TColor color = 0; // explicit 0x00BBGGRR
    int offset = 0;   // first pixel, relative to the start of the half
    int length = 0;   // pixels covered
};

// Ramp over an extent of `extent` pixels, each half of the panel taking half
// of it. The red, green and blue bytes are the low three bytes of the values
// as stored (a system colour is not looked up). n = the largest component
// difference (at least 1); band i has colour A + rnd(i * d / n) per component,
// starts at rnd(i * s) and is rnd(s) + 1 pixels long, with s = extent / n / 2.
// Colour B itself is never reached: the last band stops one step short.
std::vector<RampBand> colorRamp(TColor from, TColor to, int extent);
