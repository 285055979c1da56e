#include "ui/PdfPageSurface.h"

#include <QPainter>

#include <algorithm>

namespace tallyport {

PdfPageSurface::PdfPageSurface(QPainter& painter, PixelRect band, Colour pen)
    : painter_(painter), band_(band), page_(painter, band, pen) {}

void PdfPageSurface::TextOut(int32_t x, int32_t y, std::string_view characters) {
    // Cells starting left or right of the sheet's width are not printed (the screen scrolls).
    if (y >= band_.top && y < band_.bottom && x >= band_.left && x < band_.right)
        page_.TextOut(x, y, characters);
}

void PdfPageSurface::MoveTo(int32_t x, int32_t y) {
    positionY_ = y;
    page_.MoveTo(x, y);
}

void PdfPageSurface::SaveDC() {
    savedY_.push_back(positionY_);
    page_.SaveDC();
}

void PdfPageSurface::RestoreDC() {
    if (!savedY_.empty()) {
        positionY_ = savedY_.back();
        savedY_.pop_back();
    }
    page_.RestoreDC();
}

void PdfPageSurface::LineTo(int32_t x, int32_t y) {
    const int32_t from = positionY_;
    positionY_ = y;
    if (std::max(from, y) < band_.top || std::min(from, y) >= band_.bottom) {
        page_.MoveTo(x, y);
        return;
    }
    painter_.save();
    painter_.setClipRect(
        QRect(QPoint(band_.left, band_.top), QPoint(band_.right - 1, band_.bottom - 1)),
        Qt::IntersectClip);
    page_.LineTo(x, y);
    painter_.restore();
}

} // namespace tallyport
