// A downloaded marked submission: the header record, the marking record (mark and marker), and
// its files with their annotations.
#pragma once

#include "marking/MarkedFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallyport {

inline constexpr int32_t kNotMarked = -2;

// First record line: kept, never shown.
struct MarkedHeader {
    int32_t value1 = 0;
    int32_t value2 = 0;
    int32_t value3 = 0;
    std::string text1;
    std::string text2;
};

// Second record line.
struct MarkingRecord {
    int32_t mark = kNotMarked;
    std::string markerId; // sent back to ask for the marker's name
    std::string detail;
};

struct MarkedSubmission {
    std::optional<MarkedHeader> header;
    std::optional<MarkingRecord> marking;
    // As announced by the count line; 0 until read, -1 when that line does not parse or
    // announces more files than the package's bytes could hold.
    int32_t fileCount = 0;
    std::vector<MarkedFile> files; // fileCount elements once the count is accepted

    // Files shown and saved: those of `files` (the announced count when it was accepted).
    int32_t shownFileCount() const { return int32_t(files.size()); }
    // The file at `index`, or none outside the list.
    const MarkedFile* FileAt(int32_t index) const;
    // Marked work has a marking record whose mark is not NotMarked.
    bool IsMarked() const { return marking && marking->mark != kNotMarked; }
};

} // namespace tallyport
