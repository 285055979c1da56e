#include "ui/PdfPageSurface.h"

#include <QPainter>

namespace tallyport {

PdfPageSurface::PdfPageSurface(QPainter& painter, PixelRect band, Colour pen)
    : painter_(painter), band_(band), page_(painter, band, pen) {}

void PdfPageSurface::TextOut(int32_t x, int32_t y, std::string_view characters) {
    if (y >= band_.top && y < band_.bottom)
        page_.TextOut(x, y, characters);
}

void PdfPageSurface::LineTo(int32_t x, int32_t y) {
    painter_.save();
    painter_.setClipRect(
        QRect(QPoint(band_.left, band_.top), QPoint(band_.right - 1, band_.bottom - 1)),
        Qt::IntersectClip);
    page_.LineTo(x, y);
    painter_.restore();
}

} // namespace tallyport
