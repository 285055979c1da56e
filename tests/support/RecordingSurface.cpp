#include "support/RecordingSurface.h"

namespace tallyport::test {

void RecordingSurface::SetTextColor(Colour colour) {
    calls.push_back({SurfaceCall::SetTextColor, 0, 0, {}, colour});
    textColour_ = colour;
}

void RecordingSurface::TextOut(int32_t x, int32_t y, std::string_view characters) {
    calls.push_back({SurfaceCall::TextOut, x, y, std::string(characters), {}});
    cells.push_back({x, y, std::string(characters), textColour_});
}

void RecordingSurface::MoveTo(int32_t x, int32_t y) {
    calls.push_back({SurfaceCall::MoveTo, x, y, {}, {}});
    penX_ = x;
    penY_ = y;
}

void RecordingSurface::LineTo(int32_t x, int32_t y) {
    calls.push_back({SurfaceCall::LineTo, x, y, {}, {}});
    segments.push_back({penX_, penY_, x, y, pen_});
    penX_ = x;
    penY_ = y;
}

void RecordingSurface::SaveDC() {
    calls.push_back({SurfaceCall::SaveDC, 0, 0, {}, {}});
    saved_.emplace_back(textColour_, pen_);
}

void RecordingSurface::RestoreDC() {
    calls.push_back({SurfaceCall::RestoreDC, 0, 0, {}, {}});
    if (saved_.empty())
        return;
    textColour_ = saved_.back().first;
    pen_ = saved_.back().second;
    saved_.pop_back();
}

void RecordingSurface::SelectPen(Colour colour) {
    calls.push_back({SurfaceCall::SelectPen, 0, 0, {}, colour});
    pen_ = colour;
}

PixelSize RecordingSurface::GetTextExtent(std::string_view text) {
    return {int32_t(text.size()) * extentPerCharacter, extentHeight};
}

std::string RecordingSurface::RowText(int32_t y) const {
    std::string text;
    for (const TextCell& cell : cells)
        if (cell.y == y)
            text += cell.text;
    return text;
}

} // namespace tallyport::test
