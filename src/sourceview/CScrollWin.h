// A child window showing a document larger than itself: its own horizontal and vertical scroll
// bars (decided together), Page Up/Down, Home/End and the wheel. It knows nothing of what it
// shows: a derived window sets the document size in page units and paints the page offset by
// the scroll position. Constructing one sets the process-wide page scales from the screen.
#pragma once

#include <QFrame>

#include <cstdint>

class QScrollBar;

namespace tallyport {

class CScrollWin : public QFrame {
    Q_OBJECT

public:
    // Scroll-bar requests, as the bars and keys send them.
    enum Code : int32_t {
        LineUp = 0,
        LineDown = 1,
        PageUp = 2,
        PageDown = 3,
        ThumbPosition = 4, // thumb released
        ThumbTrack = 5,    // thumb being dragged
        Top = 6,
        Bottom = 7,
        EndScroll = 8,
    };

    explicit CScrollWin(QWidget* parent = nullptr);

    // Width and height in page units.
    void SetDocumentSize(int32_t width, int32_t height);
    // (horizontal, vertical) position in pixels: what the painter subtracts from page pixels.
    QPoint GetScrollPosition() const;
    bool ScrollBy(Qt::Orientation bar, int32_t delta);
    void ScrollTo(int32_t x, int32_t y);
    void UpdateBars();
    static int32_t ScrollDelta(int32_t position, int32_t trackPosition, int32_t limit, int32_t code,
                               int32_t lineStep, int32_t pageStep);

    void OnHScroll(int32_t code, int32_t position);
    void OnVScroll(int32_t code, int32_t position);
    // True when the wheel moved the document.
    bool OnMouseWheel(int32_t delta);

    // The area the document is shown in: inside the edge, without the bars now shown.
    QRect ClientRect() const;
    int32_t Limit(Qt::Orientation bar) const; // the largest position
    bool IsBarShown(Qt::Orientation bar) const;
    QScrollBar* Bar(Qt::Orientation bar) const;

    int32_t docWidth() const { return docWidth_; }
    int32_t docHeight() const { return docHeight_; }
    int32_t pageStepX() const { return pageStepX_; }
    int32_t pageStepY() const { return pageStepY_; }
    int32_t lineStepX() const { return lineStepX_; }
    int32_t lineStepY() const { return lineStepY_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ScrollWindow(int32_t dx, int32_t dy);
    void ShowBars(bool horizontal, bool vertical);
    void PlaceBars();
    void OnBarAction(Qt::Orientation bar, int action);

    int32_t docWidth_ = 0;
    int32_t docHeight_ = 0;
    int32_t pageStepX_ = 0;
    int32_t pageStepY_ = 0;
    int32_t lineStepX_ = 0;
    int32_t lineStepY_ = 0;
    int32_t inUpdateBars_ = 0;
    QScrollBar* horizontal_;
    QScrollBar* vertical_;
    bool horizontalShown_ = false;
    bool verticalShown_ = false;
};

} // namespace tallyport
