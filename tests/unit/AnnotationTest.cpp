// Annotation objects: how comments and strokes draw, erase and re-measure, and how their chains
// are owned and freed.
#include "marking/MarkedFile.h"
#include "marking/ObjectNode.h"
#include "support/RecordingSurface.h"

#include <gtest/gtest.h>

namespace tallyport {
namespace {

using test::RecordingSurface;
using test::ScopedPageScales;
using test::Segment;
using test::SurfaceCall;
using test::TextCell;

std::unique_ptr<PointNode> Points(std::initializer_list<std::pair<int32_t, int32_t>> inChainOrder) {
    std::unique_ptr<PointNode> head;
    for (auto it = std::rbegin(inChainOrder); it != std::rend(inChainOrder); ++it)
        head = std::make_unique<PointNode>(it->first, it->second, std::move(head));
    return head;
}

TEST(Annotation, CommentDrawsRedOrGreenLineByLineThenBlack) {
    ScopedPageScales scales;
    CommentNode comment(20, 10, 80, 20, "line one\r\atwo");
    for (const bool highlighted : {false, true}) {
        RecordingSurface surface;
        comment.Draw(surface, highlighted);
        const Colour colour = highlighted ? kGreen : kRed;
        ASSERT_EQ(surface.cells.size(), 11u);
        EXPECT_EQ(surface.cells.front(), (TextCell{19, 16, "l", colour})); // (20, 10) units
        EXPECT_EQ(surface.RowText(16), "line one");
        EXPECT_EQ(surface.RowText(32), "two");
        EXPECT_EQ(surface.cells.back(), (TextCell{37, 32, "o", colour}));
        EXPECT_EQ(surface.textColour(), kBlack);
    }
}

TEST(Annotation, CommentEraseAndSetText) {
    ScopedPageScales scales;
    CommentNode comment(0, 0, 1, 1, "old");
    RecordingSurface erase;
    comment.Erase(erase);
    ASSERT_EQ(erase.cells.size(), 3u);
    EXPECT_EQ(erase.cells[0].colour, kWhite);
    EXPECT_EQ(erase.textColour(), kBlack);

    RecordingSurface set;
    comment.SetText(set, "a longer\r\ntext\r\aend");
    EXPECT_EQ(*comment.GetText(), "a longer\r\ntext\r\aend");
    EXPECT_EQ(comment.width, 140); // "a longer\r\ntext" less the CR before BEL: 14 characters
    EXPECT_EQ(comment.height, 20);
    EXPECT_EQ(set.RowText(16), "end");
    EXPECT_EQ(set.cells[0].colour, kRed);
}

TEST(Annotation, StrokeMovesToTheFirstPointThenDrawsFromItAgain) {
    ScopedPageScales scales;
    LineNode stroke(10, 20, 5, 5, Points({{2, 2}, {1, 1}, {-10, 0}}));
    RecordingSurface surface; // the owner's red pen is selected
    stroke.Draw(surface, false);
    const std::vector<SurfaceCall> expected = {
        {SurfaceCall::MoveTo,
         11,
         35,
         {},
         {}}, // ((10 + 2) * 93 + 50) / 100, ((20 + 2) * 160 + 50) / 100
        {SurfaceCall::LineTo, 11, 35, {}, {}},
        {SurfaceCall::LineTo, 10, 34, {}, {}},
        {SurfaceCall::LineTo, 0, 32, {}, {}},
    };
    EXPECT_EQ(surface.calls, expected);
    EXPECT_EQ(surface.segments.back(), (Segment{10, 34, 0, 32, kRed}));
}

TEST(Annotation, HighlightedAndErasedStrokesUseTheirOwnPenInsideSaveRestore) {
    ScopedPageScales scales;
    LineNode stroke(0, 0, 0, 0, Points({{0, 0}, {10, 10}}));
    for (const bool erase : {false, true}) {
        RecordingSurface surface;
        if (erase)
            stroke.Erase(surface);
        else
            stroke.Draw(surface, true);
        const Colour pen = erase ? kWhite : kGreen;
        ASSERT_EQ(surface.calls.size(), 6u);
        EXPECT_EQ(surface.calls[0].kind, SurfaceCall::SaveDC);
        EXPECT_EQ(surface.calls[1], (SurfaceCall{SurfaceCall::SelectPen, 0, 0, {}, pen}));
        EXPECT_EQ(surface.segments.back(), (Segment{0, 0, 9, 16, pen}));
        EXPECT_EQ(surface.calls.back().kind, SurfaceCall::RestoreDC);
        EXPECT_EQ(surface.pen(), kRed);
        EXPECT_EQ(surface.saveDepth(), 0);
    }
    LineNode empty(0, 0, 0, 0, nullptr);
    RecordingSurface surface;
    empty.Draw(surface, false);
    EXPECT_TRUE(surface.calls.empty());
}

TEST(Annotation, StrokeSegmentsOutsideTheDirtyAreaAreLeftOut) {
    ScopedPageScales scales;
    // Down the page and back: only the part crossing rows 100..200 is needed.
    LineNode stroke(0, 0, 0, 0, Points({{0, 0}, {0, 100}, {0, 200}, {0, 100}, {0, 0}}));
    RecordingSurface all;
    stroke.Draw(all, false);
    RecordingSurface part;
    part.dirtyArea = PixelRect{0, 100, 50, 200};
    stroke.Draw(part, false);
    // Rows 0, 160, 320: the segments 0-160 and 160-320 (and back) touch the area; 0-0 does not.
    const std::vector<Segment> expected = {
        {0, 0, 0, 160, kRed}, {0, 160, 0, 320, kRed}, {0, 320, 0, 160, kRed}, {0, 160, 0, 0, kRed}};
    EXPECT_EQ(part.segments, expected);
    EXPECT_EQ(all.segments.size(), 5u);
    part = RecordingSurface();
    part.dirtyArea = PixelRect{0, 400, 50, 500};
    stroke.Draw(part, false);
    EXPECT_TRUE(part.segments.empty());
}

// Counts live nodes so the tests can see that freeing a head frees the whole chain.
struct CountedNode : ObjectNode {
    static inline int live = 0;
    CountedNode() : ObjectNode(0, 0, 0, 0) { ++live; }
    ~CountedNode() override { --live; }
    void Write(std::string&) const override {}
    void Draw(DrawingSurface&, bool) const override {}
    void Erase(DrawingSurface&) const override {}
};

TEST(Annotation, MillionNodeChainIsFreedFromItsHeadWithoutRecursion) {
    MarkedFile file;
    for (int i = 0; i < 1'000'000; ++i)
        file.PushAnnotation(std::make_unique<CountedNode>());
    EXPECT_EQ(CountedNode::live, 1'000'000);
    file.annotations.reset();
    EXPECT_EQ(CountedNode::live, 0);

    // A node in the middle frees only what follows it.
    auto head = std::make_unique<CountedNode>();
    head->next = std::make_unique<CountedNode>();
    head->next->next = std::make_unique<CountedNode>();
    head->next->next.reset();
    EXPECT_EQ(CountedNode::live, 2);
    head.reset();
    EXPECT_EQ(CountedNode::live, 0);
}

TEST(Annotation, BaseOperationsDoNothing) {
    CountedNode node;
    RecordingSurface surface;
    EXPECT_FALSE(node.GetText().has_value());
    node.SetText(surface, "ignored");
    EXPECT_TRUE(surface.calls.empty());
    LineNode stroke(0, 0, 0, 0, nullptr);
    stroke.SetText(surface, "ignored");
    EXPECT_FALSE(stroke.GetText().has_value());
    EXPECT_TRUE(surface.calls.empty());
}

} // namespace
} // namespace tallyport
