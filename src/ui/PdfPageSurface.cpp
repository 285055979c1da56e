#include "ui/PdfPageSurface.h"

#include "ui/PageGlyphs.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>

#include <algorithm>

namespace tallyport {

PdfPageSurface::PdfPageSurface(QPainter& painter, PixelRect band, Colour pen, PageGlyphs& glyphs)
    : painter_(painter), band_(band), page_(painter, band, pen), glyphs_(glyphs),
      ascent_(QFontMetrics(painter.font()).ascent()) {}

// The colour is kept here and given to the page surface only when it draws text itself: every
// annotation sets its colour on every sheet, mostly to draw nothing there.
void PdfPageSurface::SetTextColor(Colour colour) {
    if (colour == textColour_)
        return;
    Flush();
    textColour_ = colour;
}

void PdfPageSurface::TextOut(int32_t x, int32_t y, std::string_view characters) {
    // Cells starting left or right of the sheet's width are not printed (the screen scrolls).
    if (y < band_.top || y >= band_.bottom || x < band_.left || x >= band_.right)
        return;
    const auto glyph = glyphs_.Of(characters);
    if (!glyph) { // not one character of the page font: drawn as text, in its place
        Flush();
        page_.SetTextColor(textColour_);
        page_.TextOut(x, y, characters);
        return;
    }
    // (x, y) is the top of the cell; glyphs sit on the baseline.
    const QPointF position(x, y + ascent_);
    runGlyphs_.push_back(*glyph);
    runPositions_.push_back(position);
}

void PdfPageSurface::Flush() {
    if (runGlyphs_.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(glyphs_.font());
    run.setGlyphIndexes(runGlyphs_);
    run.setPositions(runPositions_);
    painter_.setPen(QColor(textColour_.red, textColour_.green, textColour_.blue));
    painter_.drawGlyphRun(QPointF(), run);
    runGlyphs_.clear();
    runPositions_.clear();
}

void PdfPageSurface::MoveTo(int32_t x, int32_t y) {
    positionY_ = y;
    page_.MoveTo(x, y);
}

void PdfPageSurface::SaveDC() {
    savedY_.push_back(positionY_);
    savedColours_.push_back(textColour_);
    page_.SaveDC();
}

void PdfPageSurface::RestoreDC() {
    if (!savedY_.empty()) {
        positionY_ = savedY_.back();
        savedY_.pop_back();
        SetTextColor(savedColours_.back());
        savedColours_.pop_back();
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
    Flush(); // text gathered before the stroke stays under it
    painter_.save();
    painter_.setClipRect(
        QRect(QPoint(band_.left, band_.top), QPoint(band_.right - 1, band_.bottom - 1)),
        Qt::IntersectClip);
    page_.LineTo(x, y);
    painter_.restore();
}

} // namespace tallyport
