// Which of an exam reply's files one student receives: all of them for kind 'E', one half chosen
// by the selector the server sends for kind 'D'.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tallyport {

inline constexpr auto kFirstHalfSelectors = std::to_array<int32_t>(
    {2,   4,   6,   7,   9,   11,  14,  16,  18,  19,  21,  23,  26,  28,  30,  31,
     33,  35,  38,  39,  61,  63,  65,  66,  68,  70,  71,  73,  75,  76,  78,  124,
     126, 128, 129, 131, 134, 136, 137, 139, 142, 144, 145, 147, 181, 183, 185, 187,
     190, 192, 194, 196, 197, 199, 201, 203, 206, 208, 210, 212, 213, 215, 217, 219,
     222, 224, 226, 228, 229, 231, 233, 236, 238, 240, 241, 243, 245});
static_assert(kFirstHalfSelectors.size() == 77);

inline constexpr auto kSecondHalfSelectors = std::to_array<int32_t>(
    {3,   5,   8,   10,  12,  13,  15,  17,  20,  22,  24,  25,  27,  29,  32,  34,  36,  37,  40,
     62,  64,  67,  69,  72,  74,  77,  79,  80,  81,  123, 125, 127, 130, 132, 133, 135, 138, 140,
     141, 143, 146, 148, 182, 184, 186, 188, 189, 191, 193, 195, 198, 202, 204, 205, 207, 209, 211,
     214, 216, 218, 220, 221, 223, 225, 227, 230, 232, 234, 235, 237, 239, 242, 244, 246, 248});
static_assert(kSecondHalfSelectors.size() == 75);

bool IsFirstHalfSelector(int32_t selector);
bool IsSecondHalfSelector(int32_t selector);

// Inclusive range of 0-based file positions to keep; empty when last < first.
struct ExamFileRange {
    int32_t first = 0;
    int32_t last = -1;
    bool Contains(int32_t i) const { return first <= i && i <= last; }
};

// The files kept for an entry of `kind`: none when this reply gives the student no question
// (selector 0, a 'D' selector in neither table, or a kind other than 'E' and 'D').
std::optional<ExamFileRange> ChooseExamFiles(char kind, int32_t selector, int32_t count);

} // namespace tallyport
