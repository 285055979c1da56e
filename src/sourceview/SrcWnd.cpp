#include "sourceview/SrcWnd.h"

#include "marking/PageScale.h"
#include "ui/QPainterSurface.h"

#include <QPaintEvent>
#include <QPainter>

namespace tallyport {

SrcWnd::SrcWnd(QWidget* parent) : CScrollWin(parent), pageFont_(PageFont()) {
    setWindowTitle(QStringLiteral("View"));
    SetDocumentSize(100, 100);
}

void SrcWnd::SetFile(const MarkedSubmission* submission, int32_t index) {
    currentFile_ = index != -1 && submission ? submission->FileAt(index) : nullptr;
    if (currentFile_) {
        FontMeasureSurface measure(pageFont_);
        const PageSize extent = currentFile_->PageExtent(measure);
        SetDocumentSize(extent.width, extent.height);
    } else {
        SetDocumentSize(100, 100);
    }
    update();
}

void SrcWnd::PaintPage(QPainter& painter, const MarkedFile& file, QPoint scroll,
                       int32_t visibleHeight, std::optional<PixelRect> dirty) {
    painter.save();
    QPainterSurface surface(painter, dirty, kRed); // the stroke pen
    DrawViewedPage(surface, file);
    if (file.kind != ContentKind::NonAscii) {
        // From the top of the view to one below its bottom, wherever the page is scrolled.
        const int32_t marginX = PageToPixelX(int64_t(kMarginColumn) * kUnitsPerCell);
        surface.SelectPen(kBlue);
        surface.MoveTo(marginX, scroll.y());
        surface.LineTo(marginX, scroll.y() + visibleHeight + 1);
    }
    painter.restore();
}

void SrcWnd::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event); // the sunken edge
    if (!currentFile_)
        return;
    const QRect client = ClientRect();
    const QRect exposed = event->rect() & client;
    if (exposed.isEmpty())
        return;
    const QPoint scroll = GetScrollPosition();
    QPainter painter(this);
    painter.setClipRect(exposed);
    // Page pixel (px, py) lands on client pixel (px - x, py - y).
    const QPoint origin = client.topLeft() - scroll;
    painter.translate(origin);
    painter.setFont(pageFont_);
    const QRect dirty = exposed.translated(-origin);
    PaintPage(painter, *currentFile_, scroll, client.height(),
              PixelRect{dirty.left(), dirty.top(), dirty.right() + 1, dirty.bottom() + 1});
}

} // namespace tallyport
