#include "sourceview/CScrollWin.h"

#include "marking/PageScale.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>

namespace tallyport {

CScrollWin::CScrollWin(QWidget* parent)
    : QFrame(parent), horizontal_(new QScrollBar(Qt::Horizontal, this)),
      vertical_(new QScrollBar(Qt::Vertical, this)) {
    SetPageScales(ScalesForResolution(logicalDpiY()));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken); // the sunken client edge
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    for (QScrollBar* bar : {horizontal_, vertical_}) {
        bar->setFocusPolicy(Qt::NoFocus);
        bar->installEventFilter(this); // the wheel over a bar scrolls as it does over the page
        bar->setRange(0, 0);
        bar->hide();
        const Qt::Orientation orientation = bar->orientation();
        connect(bar, &QScrollBar::actionTriggered, this,
                [this, orientation](int action) { OnBarAction(orientation, action); });
        connect(bar, &QScrollBar::sliderReleased, this, [this, bar, orientation] {
            if (orientation == Qt::Horizontal)
                OnHScroll(ThumbPosition, bar->value());
            else
                OnVScroll(ThumbPosition, bar->value());
        });
    }
}

void CScrollWin::SetDocumentSize(int32_t width, int32_t height) {
    docWidth_ = PageToPixelX(width);
    docHeight_ = PageToPixelY(height);
    lineStepX_ = PageToPixelX(kUnitsPerCell);
    lineStepY_ = PageToPixelY(kUnitsPerCell);
    UpdateBars();
    update();
}

QPoint CScrollWin::GetScrollPosition() const {
    return {horizontal_->value(), vertical_->value()};
}

QScrollBar* CScrollWin::Bar(Qt::Orientation bar) const {
    return bar == Qt::Horizontal ? horizontal_ : vertical_;
}

int32_t CScrollWin::Limit(Qt::Orientation bar) const {
    return Bar(bar)->maximum();
}

bool CScrollWin::IsBarShown(Qt::Orientation bar) const {
    return bar == Qt::Horizontal ? horizontalShown_ : verticalShown_;
}

QRect CScrollWin::ClientRect() const {
    QRect client = contentsRect();
    if (verticalShown_)
        client.setWidth(std::max(0, client.width() - vertical_->sizeHint().width()));
    if (horizontalShown_)
        client.setHeight(std::max(0, client.height() - horizontal_->sizeHint().height()));
    return client;
}

void CScrollWin::PlaceBars() {
    const QRect inside = contentsRect();
    const int cxV = vertical_->sizeHint().width();
    const int cyH = horizontal_->sizeHint().height();
    vertical_->setGeometry(inside.x() + inside.width() - cxV, inside.y(), cxV,
                           inside.height() - (horizontalShown_ ? cyH : 0));
    horizontal_->setGeometry(inside.x(), inside.y() + inside.height() - cyH,
                             inside.width() - (verticalShown_ ? cxV : 0), cyH);
    vertical_->setVisible(verticalShown_);
    horizontal_->setVisible(horizontalShown_);
}

void CScrollWin::ShowBars(bool horizontal, bool vertical) {
    if (horizontal == horizontalShown_ && vertical == verticalShown_)
        return;
    horizontalShown_ = horizontal;
    verticalShown_ = vertical;
    PlaceBars();
    update(); // the client area changed size
}

void CScrollWin::UpdateBars() {
    if (inUpdateBars_)
        return; // showing or hiding a bar resizes the client area, which comes back here
    inUpdateBars_ = 1;
    const int32_t cxV = vertical_->sizeHint().width();
    const int32_t cyH = horizontal_->sizeHint().height();
    const QRect client = ClientRect();
    const int32_t w = client.width();
    const int32_t h = client.height();
    const int32_t fullW = verticalShown_ ? w + cxV : w; // the size without bars
    const int32_t fullH = horizontalShown_ ? h + cyH : h;
    pageStepX_ = w * 9 / 10;
    pageStepY_ = h * 9 / 10;
    if (fullW > cxV && fullH > cyH) {
        int64_t dx = int64_t(docWidth_) - fullW;
        int64_t dy = int64_t(docHeight_) - fullH;
        bool needH = dx > 0;
        if (needH)
            dy += cyH;
        const bool needV = dy > 0;
        if (needV) {
            dx += cxV;
            if (!needH && dx > 0) {
                needH = true;
                dy += cyH;
            }
        }
        QPoint position = GetScrollPosition();
        int64_t x = needH ? position.x() : 0;
        int64_t y = needV ? position.y() : 0;
        if (dx > 0)
            x = std::min(x, dx);
        if (dy > 0)
            y = std::min(y, dy);
        ScrollTo(int32_t(x), int32_t(y));
        const int32_t visibleW = needV ? fullW - cxV : fullW;
        const int32_t visibleH = needH ? fullH - cyH : fullH;
        // Qt's bars take the range and the page together: the limit is the maximum.
        horizontal_->setRange(0, std::max(0, docWidth_ - visibleW));
        horizontal_->setPageStep(std::max(1, visibleW));
        vertical_->setRange(0, std::max(0, docHeight_ - visibleH));
        vertical_->setPageStep(std::max(1, visibleH));
        ShowBars(needH, needV);
    } else if (w > 0 && h > 0) {
        ShowBars(false, false); // too small to hold a bar; the ranges stay as they were
    }
    inUpdateBars_ = 0;
}

void CScrollWin::ScrollWindow(int32_t dx, int32_t dy) {
    if (dx != 0 || dy != 0)
        scroll(dx, dy, ClientRect()); // moves the contents, invalidates the uncovered strip
}

void CScrollWin::ScrollTo(int32_t x, int32_t y) {
    const int32_t oldX = horizontal_->value();
    horizontal_->setValue(x);
    const int32_t oldY = vertical_->value();
    vertical_->setValue(y);
    ScrollWindow(oldX - horizontal_->value(), oldY - vertical_->value());
}

bool CScrollWin::ScrollBy(Qt::Orientation bar, int32_t delta) {
    QScrollBar* scrollBar = Bar(bar);
    const int32_t p = scrollBar->value();
    const int64_t n = std::min<int64_t>(std::max<int64_t>(int64_t(p) + delta, 0), Limit(bar));
    if (n == p)
        return false; // nothing is scrolled or repainted
    if (bar == Qt::Horizontal)
        ScrollWindow(int32_t(p - n), 0);
    else
        ScrollWindow(0, int32_t(p - n));
    scrollBar->setValue(int32_t(n));
    return true;
}

int32_t CScrollWin::ScrollDelta(int32_t position, int32_t trackPosition, int32_t limit,
                                int32_t code, int32_t lineStep, int32_t pageStep) {
    switch (code) {
    case LineUp:
        return -lineStep;
    case LineDown:
        return lineStep;
    case PageUp:
        return -pageStep;
    case PageDown:
        return pageStep;
    case ThumbTrack:
        return trackPosition - position;
    case Top:
        return -position;
    case Bottom:
        return limit - position;
    default: // the thumb released, the end of scrolling, anything else
        return 0;
    }
}

void CScrollWin::OnHScroll(int32_t code, int32_t position) {
    ScrollBy(Qt::Horizontal, ScrollDelta(horizontal_->value(), position, Limit(Qt::Horizontal),
                                         code, lineStepX_, pageStepX_));
}

void CScrollWin::OnVScroll(int32_t code, int32_t position) {
    ScrollBy(Qt::Vertical, ScrollDelta(vertical_->value(), position, Limit(Qt::Vertical), code,
                                       lineStepY_, pageStepY_));
}

bool CScrollWin::OnMouseWheel(int32_t delta) {
    // The product first, then a division toward zero: a notch is three lines (or columns).
    if (Limit(Qt::Vertical) > 0)
        return ScrollBy(Qt::Vertical, int32_t((-3LL * delta * lineStepY_) / 120));
    if (Limit(Qt::Horizontal) > 0)
        return ScrollBy(Qt::Horizontal, int32_t((-3LL * delta * lineStepX_) / 120));
    return false;
}

void CScrollWin::OnBarAction(Qt::Orientation bar, int action) {
    QScrollBar* scrollBar = Bar(bar);
    int32_t code = EndScroll;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        code = LineUp;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        code = LineDown;
        break;
    case QAbstractSlider::SliderPageStepSub:
        code = PageUp;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        code = PageDown;
        break;
    case QAbstractSlider::SliderToMinimum:
        code = Top;
        break;
    case QAbstractSlider::SliderToMaximum:
        code = Bottom;
        break;
    case QAbstractSlider::SliderMove:
        code = ThumbTrack;
        break;
    }
    // The bar has proposed a position of its own; only ScrollBy moves it.
    const int32_t track = scrollBar->sliderPosition();
    scrollBar->setSliderPosition(scrollBar->value());
    if (bar == Qt::Horizontal)
        OnHScroll(code, track);
    else
        OnVScroll(code, track);
}

void CScrollWin::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    PlaceBars();
    UpdateBars();
    update();
}

void CScrollWin::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageDown:
        ScrollBy(Qt::Vertical, pageStepY_);
        break;
    case Qt::Key_PageUp:
        ScrollBy(Qt::Vertical, -pageStepY_);
        break;
    case Qt::Key_Home:
        OnVScroll(Top, 0);
        break;
    case Qt::Key_End:
        OnVScroll(Bottom, 0);
        break;
    default:
        QFrame::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool CScrollWin::eventFilter(QObject* watched, QEvent* event) {
    // A bar would scroll by its own single step, and the horizontal one sideways.
    if (event->type() == QEvent::Wheel && (watched == horizontal_ || watched == vertical_)) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void CScrollWin::wheelEvent(QWheelEvent* event) {
    if (OnMouseWheel(event->angleDelta().y()))
        event->accept();
    else
        event->ignore();
}

} // namespace tallyport
