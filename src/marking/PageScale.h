// Page units and the process-wide scale factors that turn them into device pixels. One text
// column is 10 units wide and one text line 10 units high; pixels = (units * scale + 50) / 100.
#pragma once

#include <cstdint>

namespace tallyport {

inline constexpr int32_t kUnitsPerCell = 10;

struct PageScales {
    int32_t x = 0;
    int32_t y = 0;
};

// Both scales come from the screen's vertical resolution in dots per inch: 93 and 160 at 96.
PageScales ScalesForResolution(int32_t logPixelsY);

// The process-wide factors, 0 until the first scrolling window sets them.
int32_t ScaleX();
int32_t ScaleY();
void SetPageScales(PageScales scales);

// Page units to device pixels with the current scales. The products are formed in 64 bits and
// the results clamped to 32 bits, so far-off coordinates from a server cannot overflow.
int32_t PageToPixelX(int64_t units);
int32_t PageToPixelY(int64_t units);

// The page font's character height in pixels: one line pitch.
int32_t PageFontPixelHeight();

// The x of the 80-column margin line, in page pixels.
int32_t MarginLinePixelX();

int32_t ClampToInt32(int64_t value);

} // namespace tallyport
