// The main dialog's rules that need no toolkit: list labels, status suffixes, the View/Exam
// choice and the student number's checks.
#pragma once

#include "command/CourseCatalogue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

inline constexpr int32_t kLowestStudentNumber = 100000;
inline constexpr int32_t kHighestStudentNumber = 999999999;
inline constexpr int kPasswordLimit = 20;

// "" for an empty name, "Quizzes" for "quiz" in any case, otherwise the name followed by "s".
std::string ComponentLabel(std::string_view name);

// " (deadline passed)", " (marked)" or " (unavailable)" for 'C', 'M', 'U'; "" otherwise.
std::string_view StatusSuffix(char status);

// The element list's item: "3", "3 (marked)", ...
std::string ElementItemText(int32_t elementNumber, char status);

// The number of items the element or section list shows for a count from the catalogue: the
// count itself, up to kMostListedItems. The server's counts are not checked against its entries,
// so a reply announcing billions of elements must not make the dialog build a list that size.
inline constexpr int32_t kMostListedItems = 1000;
int32_t ListedItemCount(int32_t count);

// True when Exam is offered for the entry (and View hidden): in lab mode, or for an entry that
// is neither of kind 'A' nor marked.
bool OffersExam(const Course& course, int32_t entryIndex, bool labMode);

// The student number field read as a decimal integer: optional blanks and sign, then digits and
// nothing else. Values beyond 32 bits saturate so that they fail the range check.
std::optional<int64_t> ReadDecimalField(std::string_view text);

// A six-digit student number n is sent as 100000000 + n.
int32_t NormaliseStudentNumber(int32_t number);

} // namespace tallyport
