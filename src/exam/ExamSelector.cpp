#include "exam/ExamSelector.h"

#include <algorithm>

namespace tallyport {

bool IsFirstHalfSelector(int32_t selector) {
    return std::ranges::find(kFirstHalfSelectors, selector) != kFirstHalfSelectors.end();
}

bool IsSecondHalfSelector(int32_t selector) {
    return std::ranges::find(kSecondHalfSelectors, selector) != kSecondHalfSelectors.end();
}

std::optional<ExamFileRange> ChooseExamFiles(char kind, int32_t selector, int32_t count) {
    if (selector == 0)
        return std::nullopt;
    if (kind == 'E')
        return ExamFileRange{0, count - 1};
    if (kind != 'D')
        return std::nullopt;
    // With an odd count the second half holds the extra file.
    if (IsFirstHalfSelector(selector))
        return ExamFileRange{0, count / 2 - 1};
    if (IsSecondHalfSelector(selector))
        return ExamFileRange{count / 2, count - 1};
    return std::nullopt;
}

} // namespace tallyport
