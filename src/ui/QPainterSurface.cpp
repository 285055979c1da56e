#include "ui/QPainterSurface.h"

#include "marking/PageScale.h"

#include <QPainter>
#include <QPen>

namespace tallyport {
namespace {

QColor ToQColor(Colour colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

// Surface texts are UTF-8.
QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

PixelSize Measure(const QFontMetrics& metrics, std::string_view text) {
    return {int32_t(metrics.horizontalAdvance(FromUtf8(text))), int32_t(metrics.height())};
}

} // namespace

QFont PageFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(std::max(1, PageFontPixelHeight()));
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setFixedPitch(true);
    font.setStyleHint(QFont::TypeWriter);
    font.setKerning(false);
    return font;
}

QPainterSurface::QPainterSurface(QPainter& painter, std::optional<PixelRect> dirty, Colour pen)
    : painter_(painter), dirty_(dirty),
      metrics_(painter.font()), state_{ToQColor(kBlack), ToQColor(pen), QPoint()} {}

void QPainterSurface::SetTextColor(Colour colour) {
    state_.text = ToQColor(colour);
}

void QPainterSurface::TextOut(int32_t x, int32_t y, std::string_view characters) {
    // (x, y) is the top of the character cell; QPainter places text on its baseline.
    painter_.setPen(state_.text);
    painter_.drawText(QPoint(x, y + metrics_.ascent()), FromUtf8(characters));
}

void QPainterSurface::MoveTo(int32_t x, int32_t y) {
    state_.position = QPoint(x, y);
}

void QPainterSurface::LineTo(int32_t x, int32_t y) {
    painter_.setPen(QPen(state_.pen, 1));
    painter_.drawLine(state_.position, QPoint(x, y));
    state_.position = QPoint(x, y);
}

void QPainterSurface::SaveDC() {
    saved_.push_back(state_);
}

void QPainterSurface::RestoreDC() {
    if (saved_.empty())
        return;
    state_ = saved_.back();
    saved_.pop_back();
}

void QPainterSurface::SelectPen(Colour colour) {
    state_.pen = ToQColor(colour);
}

PixelSize QPainterSurface::GetTextExtent(std::string_view text) {
    return Measure(metrics_, text);
}

PixelSize FontMeasureSurface::GetTextExtent(std::string_view text) {
    return Measure(metrics_, text);
}

} // namespace tallyport
