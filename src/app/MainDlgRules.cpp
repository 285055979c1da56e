#include "app/MainDlgRules.h"

#include <algorithm>
#include <cctype>

namespace tallyport {

std::string ComponentLabel(std::string_view name) {
    if (name.empty())
        return {};
    constexpr std::string_view kQuiz = "quiz";
    bool isQuiz = name.size() == kQuiz.size();
    for (std::size_t i = 0; isQuiz && i < name.size(); ++i)
        isQuiz = std::tolower(static_cast<unsigned char>(name[i])) == kQuiz[i];
    if (isQuiz)
        return "Quizzes";
    return std::string(name) + "s";
}

std::string_view StatusSuffix(char status) {
    switch (status) {
    case 'C':
        return " (deadline passed)";
    case 'M':
        return " (marked)";
    case 'U':
        return " (unavailable)";
    default:
        return "";
    }
}

std::string ElementItemText(int32_t elementNumber, char status) {
    return std::to_string(elementNumber) + std::string(StatusSuffix(status));
}

int32_t ListedItemCount(int32_t count) {
    return std::clamp(count, 0, kMostListedItems);
}

bool OffersExam(const Course& course, int32_t entryIndex, bool labMode) {
    return labMode ||
           (EntryKindAt(course, entryIndex) != 'A' && EntryStatusAt(course, entryIndex) != 'M');
}

std::optional<int64_t> ReadDecimalField(std::string_view text) {
    std::size_t i = 0;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (i < text.size() && blank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t digitsStart = i;
    int64_t value = 0;
    constexpr int64_t kSaturated = int64_t(1) << 40;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = value >= kSaturated ? kSaturated : value * 10 + (text[i] - '0');
    if (i == digitsStart)
        return std::nullopt;
    while (i < text.size() && blank(text[i]))
        ++i;
    if (i != text.size())
        return std::nullopt;
    return negative ? -value : value;
}

int32_t NormaliseStudentNumber(int32_t number) {
    return number < 1000000 ? number + 100000000 : number;
}

} // namespace tallyport
