// Saving a marked submission into a folder the student chooses: under "assignNN" every file's
// text exactly as received and, for marked work, one Enhanced Metafile picture per file
// ("name.emf") and one document of the whole marked submission. Names come from the server: one
// that would leave the folder is refused.
#pragma once

#include "marking/MarkedSubmission.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

inline constexpr std::string_view kSaveFolderTitle =
    "Select the folder where you want to save your files to";

// "<chosen>/assign%02d".
std::string SaveTarget(std::string_view chosenFolder, int32_t entryIndex);

// True for a relative name without a ".." segment ('/' and '\\' both separate folders) or a NUL.
bool IsSafeSaveName(std::string_view name);

// target/name with every '\\' of the name turned into '/', after creating the target and every
// folder along the name (a folder that cannot be made shows when the file is opened).
std::filesystem::path MakePathFolders(const std::filesystem::path& target, std::string_view name);

struct SaveProblem {
    std::string name; // as given by the server (with ".emf" for a picture)
    std::string reason;
};

struct SaveResult {
    std::string target;
    int32_t fileCount = 0;
    std::vector<SaveProblem> problems; // files and pictures not written
    std::string document;              // the name of the marked work's document, once written
};

// Writes a whole marked submission as one document to `path`; an explanation on failure.
using MarkedDocumentWriter = std::function<std::optional<std::string>(const std::filesystem::path&,
                                                                      const MarkedSubmission&)>;

// Marked work also gets one document from `writeDocument` (when given), under a name that no
// file of the submission can take (MarkedDocumentName).
SaveResult SaveMarkedSubmission(const MarkedSubmission& submission, std::string_view chosenFolder,
                                int32_t entryIndex, const MarkedDocumentWriter& writeDocument = {});

// The message that ends a save: where the files went, or which of them could not be written.
std::string SaveResultMessage(const SaveResult& result);
// What follows that message when the document was written: its name. Empty otherwise.
std::string SavedDocumentNote(const SaveResult& result);

} // namespace tallyport
