#include "marking/PageScale.h"

#include <algorithm>
#include <limits>

namespace tallyport {
namespace {

PageScales currentScales;

int32_t ScaleUnits(int64_t units, int32_t scale) {
    return ClampToInt32((units * scale + 50) / 100); // C++ division truncates toward zero
}

} // namespace

int32_t ClampToInt32(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

PageScales ScalesForResolution(int32_t logPixelsY) {
    const int64_t dpi = logPixelsY;
    return {ClampToInt32((dpi * 980 / 167) / 6), ClampToInt32(dpi * 10 / 6)};
}

int32_t ScaleX() {
    return currentScales.x;
}
int32_t ScaleY() {
    return currentScales.y;
}
void SetPageScales(PageScales scales) {
    // A resolution far beyond any screen would make the 64-bit products below overflow.
    currentScales = {std::clamp(scales.x, 0, 1 << 20), std::clamp(scales.y, 0, 1 << 20)};
}

int32_t PageToPixelX(int64_t units) {
    // Page coordinates from a server fit in 32 bits; sums of them may not, so clamp first.
    return ScaleUnits(std::clamp<int64_t>(units, INT32_MIN * 4LL, INT32_MAX * 4LL), ScaleX());
}

int32_t PageToPixelY(int64_t units) {
    return ScaleUnits(std::clamp<int64_t>(units, INT32_MIN * 4LL, INT32_MAX * 4LL), ScaleY());
}

int32_t PageFontPixelHeight() {
    return PageToPixelY(kUnitsPerCell);
}

int32_t MarginLinePixelX() {
    return PageToPixelX(800);
}

} // namespace tallyport
