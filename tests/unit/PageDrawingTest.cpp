// The page grid: unit conversion, text blocks with tabs and separators, measurement, and the
// page of a marked file with its notices and extent.
#include "marking/MarkedFile.h"
#include "marking/PageScale.h"
#include "marking/TextBlock.h"
#include "support/RecordingSurface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace tallyport {
namespace {

using test::RecordingSurface;
using test::ScopedPageScales;
using test::TextCell;

int32_t Column(int32_t c) {
    return PageToPixelX(10 * c);
}
int32_t Row(int32_t r) {
    return PageToPixelY(10 * r);
}

TEST(PageDrawing, ScalesAndPixelConversion) {
    EXPECT_EQ(ScalesForResolution(96).x, 93);
    EXPECT_EQ(ScalesForResolution(96).y, 160);
    EXPECT_EQ(ScalesForResolution(120).x, 117);
    EXPECT_EQ(ScalesForResolution(120).y, 200);
    EXPECT_EQ(ScalesForResolution(144).x, 140); // 144 * 980 / 167 = 845, / 6 = 140
    ScopedPageScales scales;
    const struct {
        int64_t units;
        int32_t x, y;
    } cases[] = {{0, 0, 0},      {10, 9, 16},
                 {100, 93, 160}, {800, 744, 1280},
                 {-10, -8, -15}, {1, 1, 2},
                 {-1, 0, -1},    {int64_t(INT32_MAX) * 2, INT32_MAX, INT32_MAX}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units);
        EXPECT_EQ(PageToPixelX(c.units), c.x);
        EXPECT_EQ(PageToPixelY(c.units), c.y);
    }
    EXPECT_EQ(PageFontPixelHeight(), 16);
    EXPECT_EQ(MarginLinePixelX(), 744);
}

TEST(PageDrawing, TabsAdvanceToTheNextStopOrAreDropped) {
    ScopedPageScales scales;
    const struct {
        const char* text;
        int32_t tabWidth;
        const char* cells; // one character per drawn cell, in order
        int32_t lastColumn;
    } cases[] = {
        {"a\tb", 4, "a   b", 4},        {"a\tb", 0, "ab", 1},    {"a\tb", -3, "ab", 1},
        {"abcd\te", 4, "abcd    e", 8}, // a tab at a stop still advances a whole stop
        {"\t\tx", 3, "      x", 6},     {"ab\tc", 1, "ab c", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RecordingSurface surface;
        DrawTextBlock(surface, 0, 0, c.text, kLineFeed, 0, c.tabWidth);
        std::string drawn;
        for (std::size_t i = 0; i < surface.cells.size(); ++i) {
            EXPECT_EQ(surface.cells[i].x, Column(int32_t(i)));
            EXPECT_EQ(surface.cells[i].y, 0);
            drawn += surface.cells[i].text;
        }
        EXPECT_EQ(drawn, c.cells);
        EXPECT_EQ(surface.cells.back().x, Column(c.lastColumn));
    }
}

TEST(PageDrawing, PiecesOneLineApartWithTheirEndsDropped) {
    ScopedPageScales scales;
    RecordingSurface source;
    DrawTextBlock(source, 20, 10, "one\r\ntwo\n\nfour\r", kLineFeed, 0, 8);
    EXPECT_EQ(source.RowText(Row(1)), "one"); // the CR before LF is not drawn
    EXPECT_EQ(source.RowText(Row(2)), "two");
    EXPECT_EQ(source.RowText(Row(3)), "");
    EXPECT_EQ(source.RowText(Row(4)), "four\r"); // the last piece is drawn in full
    EXPECT_EQ(source.cells.front().x, Column(2));

    RecordingSurface comment;
    DrawTextBlock(comment, 0, 0, "ab\r\a\r\acd\r", kCommentBreak, 1, 8);
    EXPECT_EQ(comment.RowText(Row(0)), "ab");
    EXPECT_EQ(comment.RowText(Row(1)), ""); // one character less one draws nothing
    EXPECT_EQ(comment.RowText(Row(2)), "cd\r");

    RecordingSurface cut; // the text ends at its first NUL
    DrawTextBlock(cut, 0, 0, std::string_view("ab\0cd\nef", 8), kLineFeed, 0, 8);
    EXPECT_EQ(cut.cells.size(), 2u);
}

TEST(PageDrawing, MeasureText) {
    const struct {
        std::string_view text;
        char separator;
        int32_t dropBefore;
        int32_t tabWidth;
        PageSize size;
    } cases[] = {
        {"", kLineFeed, 0, 8, {0, 10}},
        {"line one\r\atwo", kCommentBreak, 1, 8, {80, 20}},
        {"ab\r\ncd", kLineFeed, 0, 8, {30, 20}}, // the CR counts
        {"x\n\n", kLineFeed, 0, 8, {10, 30}},
        {"\r\a", kCommentBreak, 1, 8, {0, 20}},
        {std::string_view("abc\0\n\n", 6), kLineFeed, 0, 8, {30, 10}},
        // Tabs count as drawn: to the next stop, or nothing when dropped.
        {"a\tb", kLineFeed, 0, 4, {50, 10}},
        {"a\tb", kLineFeed, 0, 0, {20, 10}},
        {"abcd\te\nx", kLineFeed, 0, 4, {90, 20}},
        {"\t\tx\r\a", kCommentBreak, 1, 8, {170, 20}},
        {"\t\tx", kLineFeed, 0, INT32_MAX, {10 * (2 * kMaxDrawnTabWidth + 1), 10}},
        {"h\xC3\xA9\tb", kLineFeed, 0, 4, {50, 10}}, // a byte is a column, UTF-8 or not
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(MeasureText(c.text, c.separator, c.dropBefore, c.tabWidth), c.size);
    }
}

TEST(PageDrawing, AHugeTabWidthDrawsABoundedNumberOfCells) {
    ScopedPageScales scales;
    RecordingSurface surface;
    DrawTextBlock(surface, 0, 0, "\t\tx", kLineFeed, 0, INT32_MAX);
    EXPECT_EQ(surface.cells.size(), std::size_t(2 * kMaxDrawnTabWidth + 1));
}

MarkedFile FileWithText(std::string text, int32_t tabWidth = 4) {
    MarkedFile file;
    file.name = "main.src";
    file.tabWidth = tabWidth;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    return file;
}

TEST(PageDrawing, PageIsTextThenAnnotationsFromTheHead) {
    ScopedPageScales scales;
    MarkedFile file = FileWithText("int a;\r\n\tb();\r\n");
    file.PushAnnotation(std::make_unique<CommentNode>(100, 0, 10, 10, "first in block"));
    file.PushAnnotation(std::make_unique<CommentNode>(100, 10, 10, 10, "last"));
    RecordingSurface surface;
    file.DrawPage(surface);
    EXPECT_EQ(surface.RowText(Row(0)), "int a;first in block");
    EXPECT_EQ(surface.RowText(Row(1)), "    b();last");
    EXPECT_EQ(surface.cells.front(), (TextCell{0, 0, "i", kBlack}));
    // The chain's head (the block's last line) is drawn first.
    const auto last = std::find_if(surface.cells.begin(), surface.cells.end(),
                                   [](const TextCell& c) { return c.text == "l"; });
    const auto first = std::find_if(surface.cells.begin(), surface.cells.end(),
                                    [](const TextCell& c) { return c.text == "f"; });
    EXPECT_LT(last, first);
    EXPECT_EQ(last->colour, kRed);
    EXPECT_EQ(last->x, Column(10));
}

// The page's extent must hold every cell drawn, tabs expanded as drawn, so that the end of a
// long tab-indented line lies within the view's scroll range.
TEST(PageDrawing, PageExtentHoldsEveryCellDrawn) {
    ScopedPageScales scales;
    const struct {
        const char* text;
        int32_t tabWidth;
    } cases[] = {
        {"\t\t\tdeeply(indented);\nshort\n", 8},
        {"x\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t}", 4},
        {"a\tb\tc\td\r\n", 1},
        {"\t\t\tno tabs drawn", 0},
        {"caf\xC3\xA9\t\xE2\x82\xAC;", 8},
        {"\t\tx", INT32_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const MarkedFile file = FileWithText(c.text, c.tabWidth);
        RecordingSurface surface;
        file.DrawPage(surface);
        ASSERT_FALSE(surface.cells.empty());
        int32_t lastX = 0;
        for (const TextCell& cell : surface.cells)
            lastX = std::max(lastX, cell.x);
        const PageSize extent = file.PageExtent(surface);
        EXPECT_GE(PageToPixelX(extent.width), lastX + PageToPixelX(10))
            << "extent " << extent.width;
        // and no wider than the drawn line plus the CR that the measure counts
        EXPECT_LE(PageToPixelX(extent.width), lastX + PageToPixelX(20));
    }
}

// Page text is 8-bit: Windows-1252, or UTF-8 when the whole text is valid UTF-8 beyond ASCII.
// Every byte keeps its own cell: a UTF-8 character shows in the first of its cells, the others
// stay empty; a byte that stands for nothing shows the replacement character.
TEST(PageDrawing, PageTextIsDecodedOneCellPerByte) {
    ScopedPageScales scales;
    const struct {
        const char* why;
        std::string text;
        std::vector<std::pair<int32_t, std::string>> cells; // column, character
    } cases[] = {
        {"Windows-1252 quotes, dashes and the euro",
         "\x93q\x94\x96\x97\x80\x92\xE9",
         {{0, "\u201C"},
          {1, "q"},
          {2, "\u201D"},
          {3, "\u2013"},
          {4, "\u2014"},
          {5, "\u20AC"},
          {6, "\u2019"},
          {7, "\u00E9"}}},
        {"undefined bytes are replaced, never dropped",
         "a\x81\x8D\x8F\x90\x9D"
         "b",
         {{0, "a"},
          {1, "\uFFFD"},
          {2, "\uFFFD"},
          {3, "\uFFFD"},
          {4, "\uFFFD"},
          {5, "\uFFFD"},
          {6, "b"}}},
        {"UTF-8 characters of two, three and four bytes",
         "\xC3\xA9x\xE2\x82\xAC\tz\xF0\x9F\x98\x80!",
         {{0, "\u00E9"},
          {2, "x"},
          {3, "\u20AC"},
          {6, " "},
          {7, " "},
          {8, "z"},
          {9, "\U0001F600"},
          {13, "!"}}},
        {"one byte that is no UTF-8 makes the whole text Windows-1252",
         "\xC3\xA9\xE9",
         {{0, "\u00C3"}, {1, "\u00A9"}, {2, "\u00E9"}}},
        {"ASCII control and printable bytes are drawn as before", "\x01~", {{0, "\x01"}, {1, "~"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        RecordingSurface surface;
        FileWithText(c.text, 4).DrawPage(surface);
        std::vector<std::pair<int32_t, std::string>> drawn;
        for (const TextCell& cell : surface.cells) {
            EXPECT_EQ(cell.y, 0);
            int32_t column = 0;
            while (Column(column) < cell.x)
                ++column;
            EXPECT_EQ(Column(column), cell.x);
            drawn.emplace_back(column, cell.text);
        }
        EXPECT_EQ(drawn, c.cells);
    }
    // A UTF-8 line's columns still count bytes: the next line and tab stops are unaffected.
    RecordingSurface lines;
    FileWithText("\xE2\x80\x9Cq\xE2\x80\x9D\n\tz", 4).DrawPage(lines);
    EXPECT_EQ(lines.RowText(Row(0)), "\u201Cq\u201D");
    EXPECT_EQ(lines.cells.back(), (TextCell{Column(4), Row(1), "z", kBlack}));
}

// Marker comments are Windows-1252 even where their bytes happen to be valid UTF-8.
TEST(PageDrawing, CommentsAreWindows1252) {
    ScopedPageScales scales;
    MarkedFile file = FileWithText("x");
    file.PushAnnotation(std::make_unique<CommentNode>(0, 10, 50, 20, "\x93ok\x94\r\a\xC3\xA9\x85"));
    RecordingSurface surface;
    file.DrawPage(surface);
    EXPECT_EQ(surface.RowText(Row(1)), "\u201Cok\u201D");
    EXPECT_EQ(surface.RowText(Row(2)), "\u00C3\u00A9\u2026");
    for (const TextCell& cell : surface.cells) {
        if (cell.y != 0) {
            EXPECT_EQ(cell.colour, kRed);
        }
    }
}

TEST(PageDrawing, NoticesStandAloneAtTheOrigin) {
    ScopedPageScales scales;
    MarkedFile missing; // no text: the file-error notice, then the annotations
    missing.PushAnnotation(std::make_unique<CommentNode>(0, 20, 0, 0, "c"));
    RecordingSurface surface;
    DrawViewedPage(surface, missing);
    ASSERT_EQ(surface.cells.size(), 2u);
    EXPECT_EQ(surface.cells[0], (TextCell{0, 0, std::string(kFileErrorNotice), kBlack}));
    EXPECT_EQ(surface.cells[1], (TextCell{0, Row(2), "c", kRed}));

    MarkedFile binary = FileWithText("\x01\x02\n\x03");
    binary.kind = ContentKind::NonAscii;
    binary.PushAnnotation(std::make_unique<CommentNode>(0, 0, 0, 0, "not drawn"));
    RecordingSurface notice;
    DrawViewedPage(notice, binary);
    ASSERT_EQ(notice.calls.size(), 1u);
    EXPECT_EQ(notice.cells[0].text, kNonAsciiNotice);
}

TEST(PageDrawing, PageExtent) {
    RecordingSurface surface; // 8 pixels per character, 18 high
    MarkedFile missing;
    EXPECT_EQ(missing.PageExtent(surface), (PageSize{39 * 8 * 10, 180}));

    MarkedFile binary = FileWithText("ab");
    binary.kind = ContentKind::NonAscii;
    EXPECT_EQ(binary.PageExtent(surface), (PageSize{46 * 8, 180})); // the width is not scaled

    MarkedFile text = FileWithText("a\tb\r\nlonger line\n");
    EXPECT_EQ(text.PageExtent(surface), (PageSize{110, 30}));
    text.PushAnnotation(std::make_unique<CommentNode>(100, 5, 50, 10, "x")); // right of the text
    EXPECT_EQ(text.PageExtent(surface), (PageSize{150, 30}));
    text.PushAnnotation(std::make_unique<LineNode>(0, 25, 5, 40, nullptr)); // below it
    EXPECT_EQ(text.PageExtent(surface), (PageSize{150, 65}));
    text.PushAnnotation(std::make_unique<CommentNode>(INT32_MAX, INT32_MAX, INT32_MAX, 1, ""));
    EXPECT_EQ(text.PageExtent(surface), (PageSize{INT32_MAX, INT32_MAX}));
}

// Drawing with a dirty area must draw exactly the cells and segments of a full drawing that
// can touch that area, and few others.
TEST(PageDrawing, DirtyAreaDrawsTheSameThereAndLittleElsewhere) {
    ScopedPageScales scales;
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "line " + std::to_string(i) + "\twith\ttabs and a long tail " +
                std::string(i % 150, 'x') + "\r\n";
    MarkedFile file = FileWithText(text, 4);
    for (int i = 0; i < 3000; i += 7) {
        file.PushAnnotation(
            std::make_unique<CommentNode>(300, i * 10, 0, 0, "note\r\asecond line"));
        auto points = std::make_unique<PointNode>(0, 0);
        points = std::make_unique<PointNode>(400, 30, std::move(points));
        file.PushAnnotation(std::make_unique<LineNode>(50, i * 10, 0, 0, std::move(points)));
    }
    RecordingSurface all;
    file.DrawPage(all);

    const PixelRect area{300, 20000, 700, 20500};
    RecordingSurface part;
    part.dirtyArea = area;
    file.DrawPage(part);

    auto touches = [&](const TextCell& c) { // a cell is at most 10 x 19 pixels here
        return c.x + 10 > area.left && c.x <= area.right && c.y + 19 > area.top &&
               c.y <= area.bottom;
    };
    std::vector<TextCell> needed;
    std::copy_if(all.cells.begin(), all.cells.end(), std::back_inserter(needed), touches);
    std::vector<TextCell> drawnThere;
    std::copy_if(part.cells.begin(), part.cells.end(), std::back_inserter(drawnThere), touches);
    EXPECT_EQ(drawnThere, needed);
    ASSERT_FALSE(needed.empty());
    for (const TextCell& cell : part.cells)
        EXPECT_NE(std::find(all.cells.begin(), all.cells.end(), cell), all.cells.end());
    EXPECT_LT(part.cells.size() * 50, all.cells.size());

    auto crosses = [&](const test::Segment& s) {
        return std::max(s.y1, s.y2) >= area.top && std::min(s.y1, s.y2) <= area.bottom &&
               std::max(s.x1, s.x2) >= area.left && std::min(s.x1, s.x2) <= area.right;
    };
    std::vector<test::Segment> segmentsNeeded;
    std::copy_if(all.segments.begin(), all.segments.end(), std::back_inserter(segmentsNeeded),
                 crosses);
    std::vector<test::Segment> segmentsDrawn;
    std::copy_if(part.segments.begin(), part.segments.end(), std::back_inserter(segmentsDrawn),
                 crosses);
    EXPECT_EQ(segmentsDrawn, segmentsNeeded);
    ASSERT_FALSE(segmentsNeeded.empty());
    EXPECT_LT(part.segments.size() * 20, all.segments.size());
}

} // namespace
} // namespace tallyport
