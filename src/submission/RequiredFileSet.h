// What an assignment requires, as the File List reply describes it: the kind of requirement, the
// required names, the permitted extensions and the table of file types.
#pragma once

#include "submission/SubmissionFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

enum class RequirementKind : int32_t {
    SingleFile = 0,    // exactly one file
    AnyFiles = 1,      // "M": one or more files of the listed types
    NamedFiles = 2,    // "S": one file per required name
    ProjectFolder = 3, // "D": every file of a permitted type under a chosen folder
};

// The all-files pair alone, and the filter when nothing more specific is known.
inline constexpr std::string_view kAllFilesFilter = "All Files (*.*)|*.*||";
// The largest package the size limit lets through.
inline constexpr int32_t kSizeLimit = 1048576;

struct FileType {
    std::string description;
    std::string extension;  // without the dot
    std::string filterOne;  // "Source Files (*.src)|*.src|"
    std::string filterFull; // filterOne then the all-files pair
    ContentKind contentKind = ContentKind::Ascii;
    int32_t tabWidth = 8;
};

struct RequiredFileSet {
    std::string password; // as typed; hashed only when sent
    int32_t studentNumber = 0;
    int32_t entryIndex = 0;
    RequirementKind kind = RequirementKind::SingleFile;
    bool sizeLimited = false;
    std::vector<std::string> names;      // required names, in text order
    std::vector<std::string> extensions; // permitted extensions; none means every one
    std::vector<FileType> types;         // in reverse order of the text: later entries win
    std::string combinedFilter;

    int32_t nameCount() const { return int32_t(names.size()); }
    int32_t extensionCount() const { return int32_t(extensions.size()); }

    // Lookups compare extensions without regard to case; the first match in list order wins.
    const FileType* FindFileType(std::string_view extension) const;
    int32_t TypeTabWidth(std::string_view extension) const;        // 8 when unknown
    ContentKind TypeContentKind(std::string_view extension) const; // Ascii when unknown
    std::string TypeFilter(std::string_view extension) const;      // all-files pair when unknown
    bool IsExtensionPermitted(std::string_view extension) const;
};

// The type table: entries split at "/", fields at ",", empty ones skipped, missing ones defaulted.
std::vector<FileType> ParseTypeTable(std::string_view text);
// Every type's filterOne in list order, then the all-files pair.
std::string CombinedFilter(const std::vector<FileType>& types);

// Fills kind, names and extensions from the requirement text.
void ParseRequirement(std::string_view text, RequiredFileSet& set);

RequiredFileSet BuildRequiredFileSet(std::string_view typeTable, std::string_view requirement,
                                     int32_t sizeFlag, std::string password, int32_t studentNumber,
                                     int32_t entryIndex);

// The text after the last "." of a name's last path component; empty when it has none.
std::string_view ExtensionOf(std::string_view name);

// Comparison of single-byte texts without regard to ASCII case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace tallyport
