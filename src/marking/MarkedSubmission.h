// A downloaded marked submission: the header record, the marking record (mark and marker), and
// its files with their annotations.
#pragma once

#include "marking/MarkedFile.h"

#include <algorithm>
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
    // announces more files than any package is allowed to list.
    int32_t fileCount = 0;
    // The files read, in package order; the last one may have stopped short of its text. The
    // announced files after them never arrived.
    std::vector<MarkedFile> files;

    // Files shown and saved: every announced file, and at least those read.
    int32_t shownFileCount() const { return std::max(fileCount, int32_t(files.size())); }
    // The file at `index`: one that was read, an empty file (no name, no text: the file-error
    // page) for an announced file that never arrived, or none outside the list.
    const MarkedFile* FileAt(int32_t index) const;
    // Marked work has a marking record whose mark is not NotMarked.
    bool IsMarked() const { return marking && marking->mark != kNotMarked; }
};

} // namespace tallyport
