#include "marking/PageBreaks.h"

#include "marking/PageScale.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace tallyport {
namespace {

// A vertical stretch in page units, bottom exclusive.
struct Span {
    int64_t top = 0;
    int64_t bottom = 0;
};

// The highest grid position a band may reach: bands are int32 and a grid step must still fit.
constexpr int64_t kLastRow =
    (std::numeric_limits<int32_t>::max() - kUnitsPerCell) / kUnitsPerCell * kUnitsPerCell;

int64_t GridDown(int64_t units) {
    return std::clamp<int64_t>(units, 0, kLastRow) / kUnitsPerCell * kUnitsPerCell;
}

int64_t GridUp(int64_t units) {
    return GridDown(units + kUnitsPerCell - 1);
}

// Rows an annotation covers when drawn: a comment its lines, a stroke its points.
std::optional<Span> DrawnSpan(const ObjectNode& node) {
    if (const auto text = node.GetText())
        return Span{node.y, int64_t(node.y) +
                                MeasureText(*text, kCommentBreak, 1, kCommentTabWidth).height};
    const auto* stroke = dynamic_cast<const LineNode*>(&node);
    if (!stroke || !stroke->points)
        return std::nullopt;
    int64_t low = std::numeric_limits<int64_t>::max();
    int64_t high = std::numeric_limits<int64_t>::min();
    for (const PointNode* p = stroke->points.get(); p; p = p->next.get()) {
        low = std::min<int64_t>(low, p->y);
        high = std::max<int64_t>(high, p->y);
    }
    return Span{node.y + low, node.y + high + 1};
}

int64_t PixelHeight(int64_t top, int64_t bottom) {
    return int64_t(PageToPixelY(bottom)) - PageToPixelY(top);
}

// The text's lines; a last empty line (after the final line end) holds nothing to print.
int64_t TextLines(const std::string& text) {
    const std::string_view drawn = DrawnPart(text);
    const int64_t pieces = int64_t(std::count(drawn.begin(), drawn.end(), kLineFeed)) + 1;
    return pieces > 1 && drawn.back() == kLineFeed ? pieces - 1 : pieces;
}

// Sorted by top, overlapping spans joined; with `touching`, spans that only meet are joined too.
std::vector<Span> Merged(std::vector<Span> spans, bool touching) {
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.top < b.top; });
    std::vector<Span> merged;
    for (const Span& span : spans) {
        if (span.bottom <= span.top)
            continue;
        if (!merged.empty() &&
            (span.top < merged.back().bottom || (touching && span.top == merged.back().bottom)))
            merged.back().bottom = std::max(merged.back().bottom, span.bottom);
        else
            merged.push_back(span);
    }
    return merged;
}

// Whether `row` lies strictly inside one of the disjoint, sorted spans.
bool Inside(const std::vector<Span>& spans, int64_t row) {
    auto after = std::partition_point(spans.begin(), spans.end(),
                                      [&](const Span& s) { return s.top < row; });
    return after != spans.begin() && row < std::prev(after)->bottom;
}

} // namespace

std::vector<PageBand> PageBreaks(const MarkedFile& file, int64_t firstPixels, int64_t pixels) {
    // What is drawn, and what is kept whole (no cut strictly inside one of these).
    std::vector<Span> drawn;
    std::vector<Span> kept;
    if (file.kind == ContentKind::NonAscii || !file.text())
        drawn.push_back({0, kUnitsPerCell}); // a one-line notice
    else
        drawn.push_back({0, TextLines(*file.text()) * kUnitsPerCell});
    if (file.kind != ContentKind::NonAscii)
        for (const ObjectNode* node = file.annotations.get(); node; node = node->next.get()) {
            const std::optional<Span> span = DrawnSpan(*node);
            if (!span || span->bottom <= 0)
                continue; // above the page: not shown, as on screen
            if (PixelHeight(span->top, span->bottom) > pixels) {
                // Taller than a sheet, so it has to be cut. A stroke counts only at its points:
                // one reaching far off would otherwise fill every sheet in between.
                if (const auto* stroke = dynamic_cast<const LineNode*>(node))
                    for (const PointNode* p = stroke->points.get(); p; p = p->next.get())
                        drawn.push_back({int64_t(node->y) + p->y, int64_t(node->y) + p->y + 1});
                else
                    drawn.push_back(*span);
                continue;
            }
            drawn.push_back(*span);
            kept.push_back(*span);
        }
    const std::vector<Span> whole = Merged(std::move(kept), false);

    // Stretches on the grid that hold something, in page order.
    for (Span& span : drawn)
        span = {GridDown(span.top), GridUp(span.bottom)};
    const std::vector<Span> merged = Merged(std::move(drawn), true);
    if (merged.empty())
        return {{0, kUnitsPerCell}};

    std::vector<PageBand> bands;
    std::size_t stretch = 0; // the merged stretch that holds `top`
    int64_t top = 0;
    for (;;) {
        const int64_t end = merged[stretch].bottom;
        const int64_t capacity = bands.empty() ? firstPixels : pixels;
        // The furthest line boundary that fits (at least one line, however small the sheet).
        int64_t limit = top + kUnitsPerCell;
        while (limit < end && PixelHeight(top, limit + kUnitsPerCell) <= capacity)
            limit += kUnitsPerCell;
        int64_t cut = limit;
        if (limit < end)
            for (int64_t c = limit; c > top; c -= kUnitsPerCell)
                if (!Inside(whole, c)) {
                    cut = c;
                    break;
                }
        bands.push_back({int32_t(top), int32_t(cut)});
        top = cut;
        if (top < end)
            continue;
        if (++stretch == merged.size())
            break;
        top = merged[stretch].top; // the stretch between holds nothing
    }
    return bands;
}

} // namespace tallyport
