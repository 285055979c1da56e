#include "exam/ExamSelector.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tallyport;

TEST(ExamSelector, RangeByKindSelectorAndCount) {
    struct Case {
        char kind;
        int32_t selector;
        int32_t count;
        std::optional<std::pair<int32_t, int32_t>> range; // inclusive; none: no question
    };
    const Case cases[] = {
        {'E', 5, 3, {{0, 2}}},   {'E', 1, 3, {{0, 2}}},   {'E', 7, 0, {{0, -1}}},
        {'E', 0, 3, {}},         {'D', 2, 5, {{0, 1}}},   {'D', 3, 5, {{2, 4}}},
        {'D', 245, 4, {{0, 1}}}, {'D', 248, 4, {{2, 3}}}, {'D', 1, 5, {}},
        {'D', 2, 1, {{0, -1}}},  {'D', 3, 1, {{0, 0}}},   {'D', 0, 5, {}},
        {'D', 200, 5, {}},       {'D', 247, 5, {}},       {'D', -2, 5, {}},
        {'X', 2, 5, {}},         {'A', 2, 5, {}},         {'e', 2, 5, {}},
    };
    for (const Case& c : cases) {
        const auto range = ChooseExamFiles(c.kind, c.selector, c.count);
        ASSERT_EQ(range.has_value(), c.range.has_value())
            << c.kind << " selector " << c.selector << " count " << c.count;
        if (range) {
            EXPECT_EQ(range->first, c.range->first) << c.kind << ' ' << c.selector;
            EXPECT_EQ(range->last, c.range->second) << c.kind << ' ' << c.selector;
        }
    }
}

TEST(ExamSelector, TablesAreDisjointAndLeaveGaps) {
    for (int32_t s : kFirstHalfSelectors)
        EXPECT_FALSE(IsSecondHalfSelector(s)) << s;
    for (int32_t s = -5; s <= 300; ++s) {
        const bool gap = s <= 1 || (s >= 41 && s <= 60) || (s >= 82 && s <= 122) ||
                         (s >= 149 && s <= 180) || s == 200 || s == 247 || s >= 249;
        if (gap) {
            EXPECT_FALSE(IsFirstHalfSelector(s) || IsSecondHalfSelector(s)) << s;
        }
    }
    // Each table is searched in full, not only up to some sorted position.
    EXPECT_TRUE(IsFirstHalfSelector(kFirstHalfSelectors.back()));
    EXPECT_TRUE(IsSecondHalfSelector(kSecondHalfSelectors.back()));
}
