// Page pictures: the metafile written for a marked file, read back with an independent reader,
// holds the page's texts in their cells and colours and the strokes as red lines.
#include "marking/EmfSurface.h"
#include "marking/PageScale.h"
#include "support/EmfReadback.h"
#include "support/RecordingSurface.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tallyport {
namespace {

using test::ReadEmf;
using test::SvgText;
using test::TempDir;

MarkedFile MarkedExample() {
    MarkedFile file;
    file.name = "main.src";
    file.tabWidth = 4;
    file.SetText("ab\r\n\tc");
    file.length = 6;
    auto points = std::make_unique<PointNode>(10, 10); // chain order: (0, 0), then (10, 10)
    points = std::make_unique<PointNode>(0, 0, std::move(points));
    file.PushAnnotation(std::make_unique<LineNode>(20, 30, 10, 10, std::move(points)));
    file.PushAnnotation(std::make_unique<CommentNode>(50, 0, 30, 20, "ok\r\ago"));
    return file;
}

std::vector<SvgText> NonBlank(const std::vector<SvgText>& texts) {
    std::vector<SvgText> out;
    for (const SvgText& t : texts)
        if (t.text != " ")
            out.push_back(t);
    return out;
}

TEST(EmfPicture, MarkedPageReadsBackWithItsTextsColoursAndStroke) {
    test::ScopedPageScales scales;
    TempDir dir;
    const auto path = dir.path() / "main.src.emf";
    ASSERT_EQ(WritePagePicture(path, MarkedExample()), std::nullopt);
    const auto contents = ReadEmf(path);
    ASSERT_TRUE(contents);

    // Text cells: black source characters, red comment characters, each alone in its cell.
    const std::vector<SvgText> texts = NonBlank(contents->texts);
    ASSERT_EQ(texts.size(), 7u);
    const struct {
        const char* text;
        int32_t column, row;
        const char* fill;
    } expected[] = {{"a", 0, 0, "#000000"}, {"b", 1, 0, "#000000"}, {"c", 4, 1, "#000000"},
                    {"o", 5, 0, "#FF0000"}, {"k", 6, 0, "#FF0000"}, {"g", 5, 1, "#FF0000"},
                    {"o", 6, 1, "#FF0000"}};
    // The reader puts a text on its baseline: inside the first line for a cell drawn at its top.
    const double baseline = texts[0].y;
    EXPECT_GT(baseline, 0);
    EXPECT_LT(baseline, PageToPixelY(10));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(texts[i].text, expected[i].text);
        EXPECT_EQ(texts[i].x, PageToPixelX(10 * expected[i].column));
        EXPECT_NEAR(texts[i].y - baseline, PageToPixelY(10 * expected[i].row), 1e-6);
        EXPECT_EQ(texts[i].fill, expected[i].fill);
        EXPECT_EQ(texts[i].family, "Courier New");
        EXPECT_EQ(texts[i].size, 16);
    }
    EXPECT_EQ(contents->texts.size(), 11u); // the tab's four blanks are cells too

    // The stroke: from its first point, to it again, then to the second, in the red pen.
    ASSERT_EQ(contents->paths.size(), 2u);
    for (const auto& p : contents->paths)
        EXPECT_EQ(p.stroke, "#FF0000");
    const std::pair<double, double> first{PageToPixelX(20), PageToPixelY(30)};
    const std::pair<double, double> second{PageToPixelX(30), PageToPixelY(40)};
    EXPECT_EQ(contents->paths[0].points, (std::vector<std::pair<double, double>>{first, first}));
    EXPECT_EQ(contents->paths[1].points, (std::vector<std::pair<double, double>>{first, second}));

    // The frame holds everything drawn: the comment's last cell is the farthest right, the
    // stroke the lowest.
    const PixelSize cell = PageFontCell();
    EXPECT_NEAR(contents->width, PageToPixelX(60) + cell.cx, 1.0);
    EXPECT_NEAR(contents->height, second.second + 1, 1.0);
}

// Text beyond ASCII reads back as its characters, each at the start of its cells: a
// Windows-1252 file and comment byte by byte, a UTF-8 file one character in the first of its
// bytes' cells. The frame ends with the last cell, however many bytes its character has.
TEST(EmfPicture, TextBeyondAsciiReadsBackAsItsCharacters) {
    test::ScopedPageScales scales;
    TempDir dir;
    const struct {
        const char* why;
        std::string text;
        std::vector<std::pair<int32_t, std::string>> cells; // column, character (no blanks)
        int32_t lastColumn;
    } cases[] = {
        {"Windows-1252",
         "\x93ok\x94 \x80\x81",
         {{0, "\u201C"}, {1, "o"}, {2, "k"}, {3, "\u201D"}, {5, "\u20AC"}, {6, "\uFFFD"}},
         6},
        {"UTF-8",
         "caf\xC3\xA9 \xE2\x82\xAC",
         {{0, "c"}, {1, "a"}, {2, "f"}, {3, "\u00E9"}, {6, "\u20AC"}},
         6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        MarkedFile file;
        file.name = "page.c";
        file.tabWidth = 8;
        file.length = int32_t(c.text.size());
        file.SetText(c.text);
        file.PushAnnotation(std::make_unique<CommentNode>(0, 10, 20, 10, "\x96\xE9"));
        const auto path = dir.path() / "page.c.emf";
        ASSERT_EQ(WritePagePicture(path, file), std::nullopt);
        const auto contents = ReadEmf(path);
        ASSERT_TRUE(contents);
        std::vector<std::pair<int32_t, std::string>> page;
        std::vector<std::string> comment;
        for (const SvgText& t : NonBlank(contents->texts)) {
            if (t.fill == "#FF0000") {
                comment.push_back(t.text);
                continue;
            }
            int32_t column = 0;
            while (PageToPixelX(10 * column) < t.x)
                ++column;
            EXPECT_EQ(PageToPixelX(10 * column), t.x);
            page.emplace_back(column, t.text);
        }
        EXPECT_EQ(page, c.cells);
        EXPECT_EQ(comment, (std::vector<std::string>{"\u2013", "\u00E9"}));
        EXPECT_NEAR(contents->width, PageToPixelX(10 * c.lastColumn) + PageFontCell().cx, 1.0);
    }
}

// A long tab-indented line: the picture's frame reaches its last character.
TEST(EmfPicture, FrameHoldsTheEndOfATabIndentedLine) {
    test::ScopedPageScales scales;
    TempDir dir;
    MarkedFile file;
    file.name = "deep.c";
    file.tabWidth = 8;
    file.SetText("\t\t\t\t" + std::string(9, 'x') + "#\r\nshort\r\n");
    file.length = int32_t(file.text()->size());
    const auto path = dir.path() / "deep.c.emf";
    ASSERT_EQ(WritePagePicture(path, file), std::nullopt);
    const auto contents = ReadEmf(path);
    ASSERT_TRUE(contents);
    const std::vector<SvgText> texts = NonBlank(contents->texts);
    const auto last =
        std::find_if(texts.begin(), texts.end(), [](const SvgText& t) { return t.text == "#"; });
    ASSERT_NE(last, texts.end());
    EXPECT_EQ(last->x, PageToPixelX(10 * 41));
    EXPECT_NEAR(contents->width, PageToPixelX(10 * 41) + PageFontCell().cx, 1.0);
}

TEST(EmfPicture, NonAsciiAndUnreadFilesShowTheirNotice) {
    test::ScopedPageScales scales;
    TempDir dir;
    MarkedFile binary = MarkedExample();
    binary.kind = ContentKind::NonAscii;
    MarkedFile unread;
    unread.PushAnnotation(std::make_unique<CommentNode>(0, 10, 0, 0, "x"));
    const struct {
        const MarkedFile* file;
        std::string_view notice;
        std::size_t texts;
    } cases[] = {{&binary, kNonAsciiNotice, 1}, {&unread, kFileErrorNotice, 2}};
    for (const auto& c : cases) {
        const auto path = dir.path() / "page.emf";
        ASSERT_EQ(WritePagePicture(path, *c.file), std::nullopt);
        const auto contents = ReadEmf(path);
        ASSERT_TRUE(contents);
        ASSERT_EQ(contents->texts.size(), c.texts);
        EXPECT_EQ(contents->texts[0].text, c.notice);
        EXPECT_EQ(contents->texts[0].x, 0);
        EXPECT_TRUE(contents->paths.empty());
    }
}

TEST(EmfPicture, UnwritablePictureIsReported) {
    test::ScopedPageScales scales;
    TempDir dir;
    const auto error = WritePagePicture(dir.path() / "missing" / "page.emf", MarkedExample());
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->empty());
    // A full disk shows when the metafile is written out.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_TRUE(WritePagePicture("/dev/full", MarkedExample()));
    }
}

TEST(EmfPicture, SurfaceMeasuresWithCourierMetricsWhenTheLibraryCannot) {
    test::ScopedPageScales scales;
    TempDir dir;
    std::string error;
    auto surface = EmfSurface::Create(dir.path() / "m.emf", error);
    ASSERT_NE(surface, nullptr);
    const PixelSize size = surface->GetTextExtent(kNonAsciiNotice);
    EXPECT_EQ(size.cx, 46 * 10); // 0.6 of 16 pixels, rounded up, per character
    EXPECT_EQ(size.cy, 19);
    EXPECT_EQ(surface->Finish(), std::nullopt);
}

} // namespace
} // namespace tallyport
