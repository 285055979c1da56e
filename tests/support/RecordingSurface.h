// A drawing surface for tests: records every call in order and keeps the text colour and pen
// (with SaveDC/RestoreDC) so that each text cell and line segment can be read back with the
// colour it was drawn in.
#pragma once

#include "marking/DrawingSurface.h"
#include "marking/PageScale.h"

#include <optional>
#include <string>
#include <vector>

namespace tallyport::test {

struct SurfaceCall {
    enum Kind { SetTextColor, TextOut, MoveTo, LineTo, SaveDC, RestoreDC, SelectPen };
    Kind kind;
    int32_t x = 0;
    int32_t y = 0;
    std::string text;
    Colour colour; // of SetTextColor and SelectPen
    friend bool operator==(const SurfaceCall&, const SurfaceCall&) = default;
};

struct TextCell {
    int32_t x = 0;
    int32_t y = 0;
    std::string text;
    Colour colour;
    friend bool operator==(const TextCell&, const TextCell&) = default;
};

struct Segment {
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;
    Colour pen;
    friend bool operator==(const Segment&, const Segment&) = default;
};

class RecordingSurface : public DrawingSurface {
public:
    std::vector<SurfaceCall> calls;
    std::vector<TextCell> cells;
    std::vector<Segment> segments;
    // What GetTextExtent answers: per character width, and the height.
    int32_t extentPerCharacter = 8;
    int32_t extentHeight = 18;
    std::optional<PixelRect> dirtyArea;

    explicit RecordingSurface(Colour pen = kRed) : pen_(pen) {}

    void SetTextColor(Colour colour) override;
    void TextOut(int32_t x, int32_t y, std::string_view characters) override;
    void MoveTo(int32_t x, int32_t y) override;
    void LineTo(int32_t x, int32_t y) override;
    void SaveDC() override;
    void RestoreDC() override;
    void SelectPen(Colour colour) override;
    PixelSize GetTextExtent(std::string_view text) override;
    std::optional<PixelRect> DirtyArea() const override { return dirtyArea; }

    // The text of the cells drawn at pixel row y, in drawing order.
    std::string RowText(int32_t y) const;
    Colour textColour() const { return textColour_; }
    Colour pen() const { return pen_; }
    int saveDepth() const { return int(saved_.size()); }

private:
    Colour textColour_ = kBlack;
    Colour pen_;
    int32_t penX_ = 0;
    int32_t penY_ = 0;
    std::vector<std::pair<Colour, Colour>> saved_;
};

// Sets the process-wide page scales for one test (those of a 96 dots-per-inch screen unless
// told otherwise: 93 and 160) and puts the previous ones back afterwards.
class ScopedPageScales {
public:
    explicit ScopedPageScales(int32_t logPixelsY = 96) : previous_{ScaleX(), ScaleY()} {
        SetPageScales(ScalesForResolution(logPixelsY));
    }
    ~ScopedPageScales() { SetPageScales(previous_); }
    ScopedPageScales(const ScopedPageScales&) = delete;
    ScopedPageScales& operator=(const ScopedPageScales&) = delete;

private:
    PageScales previous_;
};

} // namespace tallyport::test
