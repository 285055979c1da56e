// The screen's drawing surface: page drawing through a QPainter whose font is the page font.
// Text colour and pen are kept apart as the page drawing expects (QPainter has one pen for
// both), and SaveDC/RestoreDC keep them with the current position.
#pragma once

#include "marking/DrawingSurface.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPoint>

#include <optional>
#include <vector>

class QPainter;

namespace tallyport {

// The page font: "Courier New" (fontconfig gives a metric-compatible face), one line pitch
// high, normal weight, fixed pitch.
QFont PageFont();

class QPainterSurface final : public DrawingSurface {
public:
    // Draws with `painter` in its current coordinates; `dirty` (in those coordinates) is the area
    // that needs drawing, none for all. The stroke pen starts as `pen`.
    QPainterSurface(QPainter& painter, std::optional<PixelRect> dirty, Colour pen);

    void SetTextColor(Colour colour) override;
    void TextOut(int32_t x, int32_t y, std::string_view characters) override;
    void MoveTo(int32_t x, int32_t y) override;
    void LineTo(int32_t x, int32_t y) override;
    void SaveDC() override;
    void RestoreDC() override;
    void SelectPen(Colour colour) override;
    PixelSize GetTextExtent(std::string_view text) override;
    std::optional<PixelRect> DirtyArea() const override { return dirty_; }

private:
    struct State {
        QColor text;
        QColor pen;
        QPoint position;
    };

    QPainter& painter_;
    std::optional<PixelRect> dirty_;
    QFontMetrics metrics_;
    State state_;
    std::vector<State> saved_;
};

// A surface that only measures text in a font (the source view's measuring surface).
class FontMeasureSurface final : public DrawingSurface {
public:
    explicit FontMeasureSurface(const QFont& font) : metrics_(font) {}
    void SetTextColor(Colour) override {}
    void TextOut(int32_t, int32_t, std::string_view) override {}
    void MoveTo(int32_t, int32_t) override {}
    void LineTo(int32_t, int32_t) override {}
    void SaveDC() override {}
    void RestoreDC() override {}
    void SelectPen(Colour) override {}
    PixelSize GetTextExtent(std::string_view text) override;

private:
    QFontMetrics metrics_;
};

} // namespace tallyport
