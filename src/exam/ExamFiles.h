// What the exam download does on disk: clears old question files, places each received file
// inside the exam folder and writes it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

namespace tallyport {

// Deletes every file directly in `folder` whose name ends in "." + `extension`, compared without
// regard to case. Folders and the contents of sub-folders are left alone; failures are ignored.
// Does nothing when either argument is empty.
void ClearTempFiles(const std::filesystem::path& folder, std::string_view extension);

// Why a name the server sent gets no place in the exam folder.
enum class ExamNameFault {
    None,
    LeadsOutside, // absolute, or with a ".." segment
    NamesNoFile,  // empty, or ending in a separator or "." (at most a folder)
};

struct ExamFilePlace {
    std::optional<std::filesystem::path> path; // none when the name is refused
    ExamNameFault fault = ExamNameFault::None; // why it was refused
};

// Where the file the server calls `name` goes: '\' and '/' both separate folders.
ExamFilePlace ExamFilePath(const std::filesystem::path& folder, std::string_view name);

// Creates the folders leading to `path` when missing, then writes the bytes as they are,
// creating or truncating the file. False when the file could not be written in full.
bool WriteExamFile(const std::filesystem::path& path, std::span<const std::byte> bytes);

} // namespace tallyport
