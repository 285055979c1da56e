// A drawing surface for the fuzz targets: counts calls and checks that saves and restores pair
// up, without drawing anything.
#pragma once

#include "marking/DrawingSurface.h"
#include "protocol/Utf8.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace tallyport::fuzz {

class CountingSurface : public DrawingSurface {
public:
    std::optional<PixelRect> dirtyArea;
    long calls = 0;
    int depth = 0;
    int32_t rightmost = INT32_MIN; // the largest x of a text drawn

    void SetTextColor(Colour) override { ++calls; }
    void TextOut(int32_t x, int32_t, std::string_view characters) override {
        if (characters.empty() || !IsValidUtf8(characters))
            std::abort(); // every cell drawn holds a character, and surfaces take UTF-8
        rightmost = std::max(rightmost, x);
        ++calls;
    }
    void MoveTo(int32_t, int32_t) override { ++calls; }
    void LineTo(int32_t, int32_t) override { ++calls; }
    void SaveDC() override { ++depth; }
    void RestoreDC() override {
        if (--depth < 0)
            std::abort();
    }
    void SelectPen(Colour) override { ++calls; }
    PixelSize GetTextExtent(std::string_view text) override {
        return {int32_t(text.size()) * 9, 18};
    }
    std::optional<PixelRect> DirtyArea() const override { return dirtyArea; }
};

} // namespace tallyport::fuzz
