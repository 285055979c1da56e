// Where a marked file's page is cut when it is printed on sheets of a fixed height: always
// between two text lines, never through a comment or a stroke that fits on one sheet. A comment
// or stroke taller than a sheet has to be cut; it is cut between text lines like the rest (a
// comment placed on the line grid is then cut between its own lines). Stretches of the page
// that hold nothing (below the text, between far-off annotations) are left out, so a hostile
// coordinate cannot ask for millions of empty sheets.
#pragma once

#include "marking/MarkedFile.h"

#include <cstdint>
#include <vector>

namespace tallyport {

// A stretch of the page in page units, top inclusive, bottom exclusive; both lie on the line
// grid (multiples of 10).
struct PageBand {
    int32_t top = 0;
    int32_t bottom = 0;
    friend bool operator==(const PageBand&, const PageBand&) = default;
};

// The bands, in order, that fill sheets `firstPixels` (the first sheet, which carries the
// heading) and `pixels` (every other sheet) high, measured in page pixels with the current
// scales. A file always has at least one band, starting at 0.
std::vector<PageBand> PageBreaks(const MarkedFile& file, int64_t firstPixels, int64_t pixels);

} // namespace tallyport
