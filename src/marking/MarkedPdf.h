// The marked work as one PDF that any viewer opens: every file of the submission on as many
// sheets as it needs, drawn by the same page drawing as the screen (vector text in the page
// font, comments and strokes in red, the 80-column margin line), with the file's name and the
// mark as a heading on its first sheet. A sheet holds whole text lines and never cuts a comment
// or stroke that fits on one sheet (PageBreaks).
#pragma once

#include "marking/MarkedSubmission.h"
#include "marking/PageBreaks.h"

#include <QLocale>
#include <QPageSize>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tallyport {

// Letter where the locale's paper is Letter (the US measurement system, or a territory that
// prints on Letter), else A4.
QPageSize MarkedPdfPageSize(const QLocale& locale = QLocale());

// Where one file's page lands on the sheets, in PDF points from a sheet's top-left corner.
struct MarkedPdfLayout {
    double margin = 0;           // blank edge on every side
    double heading = 0;          // height of the heading on the file's first sheet
    double pointsPerPixel = 0;   // one page pixel (as on screen) in points
    std::vector<PageBand> bands; // the page units each sheet shows, in order

    // A page pixel (x, y) of sheet `sheet` (an index into bands) in points.
    double PointX(int32_t x) const;
    double PointY(std::size_t sheet, int32_t y) const;
};

// Page pixels become points as on a screen of the resolution the page scales came from, shrunk
// only as far as the page (at least the margin line, at most twice that) needs to fit across.
// Nothing when the page scales are not set.
std::optional<MarkedPdfLayout> LayoutMarkedPdf(const MarkedFile& file, const QPageSize& pageSize);

// Writes the whole submission to `path` (replaced only once it is complete); an explanation when
// it could not be written.
std::optional<std::string> WriteMarkedPdf(const std::filesystem::path& path,
                                          const MarkedSubmission& submission, int32_t maxMark,
                                          const QPageSize& pageSize = MarkedPdfPageSize());

} // namespace tallyport
