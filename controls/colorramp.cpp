#include "controls/colorramp.h"

#include <algorithm>
#include <cstdlib>

std::vector<RampBand> colorRamp(TColor from, TColor to, int extent) {
    const int r = redOf(from), g = greenOf(from), b = blueOf(from);
    const int dR = redOf(to) - r, dG = greenOf(to) - g, dB = blueOf(to) - b;
    const int n = std::max({std::abs(dR), std::abs(dG), std::abs(dB), 1});

    const double stepR = static_cast<double>(dR) / n;
    const double stepG = static_cast<double>(dG) / n;
    const double stepB = static_cast<double>(dB) / n;
    const double s = static_cast<double>(extent) / n / 2.0;
    const int length = roundHalfEven(s) + 1;

    std::vector<RampBand> bands;
    bands.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        RampBand band;
        band.color = rgbColor(r + roundHalfEven(i * stepR), g + roundHalfEven(i * stepG),
                              b + roundHalfEven(i * stepB));
        band.offset = roundHalfEven(i * s);
        band.length = length;
        bands.push_back(band);
    }
    return bands;
}
