// The read-only page view of the view dialog: one file of a marked submission in the fixed
// character grid with the marker's comments and strokes over it and a blue margin line at
// column 80; a non-ASCII file shows a one-line notice instead. Scrolls as a CScrollWin.
#pragma once

#include "marking/MarkedSubmission.h"
#include "sourceview/CScrollWin.h"

#include <QFont>

#include <optional>

class QPainter;

namespace tallyport {

inline constexpr int32_t kMarginColumn = 80;

class SrcWnd : public CScrollWin {
    Q_OBJECT

public:
    explicit SrcWnd(QWidget* parent = nullptr);

    // Shows the submission's file at `index`; -1, no submission or an index outside its files
    // show nothing on a page of 10 columns by 10 lines.
    void SetFile(const MarkedSubmission* submission, int32_t index);
    const MarkedFile* currentFile() const { return currentFile_; }
    const QFont& pageFont() const { return pageFont_; }

    // Draws what the view shows with the scroll position at `scroll`: the page, then the margin
    // line over `visibleHeight` pixels. `painter` is in page pixels less `scroll`; `dirty` is the
    // area to draw in page pixels (none for all).
    static void PaintPage(QPainter& painter, const MarkedFile& file, QPoint scroll,
                          int32_t visibleHeight, std::optional<PixelRect> dirty);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont pageFont_;
    const MarkedFile* currentFile_ = nullptr;
};

} // namespace tallyport
