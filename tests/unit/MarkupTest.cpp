// Reading and writing the markup lines of comments and strokes.
#include "marking/Markup.h"

#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <string>
#include <vector>

namespace tallyport {
namespace {

class ListedLines : public LineSource {
public:
    explicit ListedLines(std::vector<std::string> lines) : lines_(lines.begin(), lines.end()) {}
    bool ReadLine(std::string& line) override {
        if (lines_.empty())
            return false;
        line = lines_.front();
        lines_.pop_front();
        return true;
    }
    std::size_t left() const { return lines_.size(); }

private:
    std::deque<std::string> lines_;
};

std::vector<std::pair<int32_t, int32_t>> PointsOf(const ObjectNode& node) {
    std::vector<std::pair<int32_t, int32_t>> points;
    const auto* stroke = dynamic_cast<const LineNode*>(&node);
    for (const PointNode* p = stroke ? stroke->points.get() : nullptr; p; p = p->next.get())
        points.emplace_back(p->x, p->y);
    return points;
}

struct CommentCase {
    const char* line;
    bool read;
    int32_t x, y, width, height;
    const char* text;
};

TEST(Markup, CommentLines) {
    const CommentCase cases[] = {
        {"C,10,20,70,20,fix this, please", true, 10, 20, 70, 20, "fix this, please"},
        {"C,0,0,80,20,line one\r\atwo", true, 0, 0, 80, 20, "line one\r\atwo"},
        {"C, -5,+3,\t7,0,x", true, -5, 3, 7, 0, "x"}, // %d skips blanks, takes signs
        {"C,99999999999,-99999999999,0,0,x", true, INT32_MAX, INT32_MIN, 0, 0, "x"},
        {"C,1,2,3,4,", true, 1, 2, 3, 4, ""},
        {"C,1,2,3,4", true, 1, 2, 3, 4, ""},           // no fifth comma: empty comment
        {"C,1,2,3,4x,text", true, 1, 2, 3, 4, "text"}, // the text follows the fifth comma
        {"C,1,2,3", false, 0, 0, 0, 0, ""},
        {"C,1,2,,4,t", false, 0, 0, 0, 0, ""},
        {"C,a,2,3,4,t", false, 0, 0, 0, 0, ""},
        {"C 1,2,3,4,t", false, 0, 0, 0, 0, ""},
        {"c,1,2,3,4,t", false, 0, 0, 0, 0, ""},
        {"", false, 0, 0, 0, 0, ""},
    };
    for (const CommentCase& c : cases) {
        SCOPED_TRACE(c.line);
        ListedLines none({"P,1,1"});
        const auto node = ReadAnnotation(c.line, none);
        EXPECT_EQ(none.left(), 1u); // a comment reads no further line
        ASSERT_EQ(node != nullptr, c.read);
        if (!node)
            continue;
        EXPECT_EQ(node->x, c.x);
        EXPECT_EQ(node->y, c.y);
        EXPECT_EQ(node->width, c.width);
        EXPECT_EQ(node->height, c.height);
        ASSERT_TRUE(node->GetText().has_value());
        EXPECT_EQ(*node->GetText(), c.text);
        EXPECT_EQ(node->next, nullptr);
    }
}

TEST(Markup, StrokeChainIsReversedAndWritesBackInChainOrder) {
    ListedLines rest({"P,1,1", "P,2,2", "EOL", "C,0,0,0,0,after"});
    const auto node = ReadAnnotation("L,0,0,5,5", rest);
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(node->GetText().has_value());
    EXPECT_EQ(PointsOf(*node), (std::vector<std::pair<int32_t, int32_t>>{{2, 2}, {1, 1}}));
    EXPECT_EQ(rest.left(), 1u); // "EOL" consumed, nothing after it
    std::string written;
    node->Write(written);
    EXPECT_EQ(written, "L,0,0,5,5\r\nP,2,2\r\nP,1,1\r\nEOL\r\n");
}

TEST(Markup, StrokeSkipsStrayLinesAndEndsAtAnyLineStartingWithE) {
    // "P,7 ,8" does not scan: a literal comma does not skip the blank before it.
    ListedLines rest({"P,1", "", "text", "P,3,4", "P,7 ,8", "P, 5,-6", "EOF", "P,9,9"});
    const auto node = ReadAnnotation("L,-1,2,30,40", rest);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->x, -1);
    EXPECT_EQ(node->height, 40);
    EXPECT_EQ(PointsOf(*node), (std::vector<std::pair<int32_t, int32_t>>{{5, -6}, {3, 4}}));
    EXPECT_EQ(rest.left(), 1u);
}

TEST(Markup, StrokeEdges) {
    ListedLines atEnd({"P,1,2"}); // the input ends without "EOL"
    auto node = ReadAnnotation("L,0,0,0,0", atEnd);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(PointsOf(*node).size(), 1u);

    ListedLines empty({"EOL", "next"}); // a stroke without points is valid
    node = ReadAnnotation("L,1,1,1,1", empty);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(PointsOf(*node).empty());
    std::string written;
    node->Write(written);
    EXPECT_EQ(written, "L,1,1,1,1\r\nEOL\r\n");

    ListedLines untouched({"P,1,1", "EOL"}); // a head that does not scan consumes nothing
    EXPECT_EQ(ReadAnnotation("L,1,2,3", untouched), nullptr);
    EXPECT_EQ(untouched.left(), 2u);
    EXPECT_EQ(ReadAnnotation("X,1,2,3,4", untouched), nullptr);
    EXPECT_EQ(ReadAnnotation("EOF", untouched), nullptr);
    EXPECT_EQ(untouched.left(), 2u);
}

TEST(Markup, CommentWritesItsLineAndReadsBackTheSame) {
    CommentNode comment(10, 20, 70, 20, "fix this, please\r\aand this");
    std::string written;
    comment.Write(written);
    EXPECT_EQ(written, "C,10,20,70,20,fix this, please\r\aand this\r\n");
    ListedLines none({});
    const auto back = ReadAnnotation(std::string_view(written).substr(0, written.size() - 2), none);
    ASSERT_NE(back, nullptr);
    std::string again;
    back->Write(again);
    EXPECT_EQ(again, written);
}

TEST(Markup, ScanTaggedCountsWhatScanned) {
    int32_t v[4] = {};
    EXPECT_EQ(ScanTagged("P,1,2", 'P', v, 2), 2);
    EXPECT_EQ(ScanTagged("P,1,x", 'P', v, 2), 1);
    EXPECT_EQ(ScanTagged("P,-", 'P', v, 2), 0);
    EXPECT_EQ(ScanTagged("P,7,8,9", 'P', v, 2), 2); // trailing text is not looked at
    EXPECT_EQ(v[0], 7);
    EXPECT_EQ(v[1], 8);
}

TEST(Markup, MillionPointStrokeIsReadAndFreed) {
    std::vector<std::string> lines;
    lines.reserve(1'000'001);
    for (int i = 0; i < 1'000'000; ++i)
        lines.push_back("P," + std::to_string(i) + ",0");
    lines.push_back("EOL");
    ListedLines rest(std::move(lines));
    auto node = ReadAnnotation("L,0,0,1,1", rest);
    ASSERT_NE(node, nullptr);
    const auto* stroke = dynamic_cast<const LineNode*>(node.get());
    ASSERT_NE(stroke, nullptr);
    EXPECT_EQ(stroke->points->x, 999'999);
    node.reset(); // a recursive release would overflow the stack here
}

} // namespace
} // namespace tallyport
