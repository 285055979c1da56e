// Gathering a project folder: every file of a permitted type under the chosen root, depth first.
#pragma once

#include "submission/RequiredFileSet.h"
#include "submission/SubmissionFile.h"

#include <optional>
#include <string>
#include <vector>

namespace tallyport {

class Prompts;

struct ProjectScan {
    std::vector<SubmissionFile> files;   // in scan order, named by their path under the root
    std::vector<std::string> unreadable; // paths under the root of files and folders left out
};

// The folder dialog "Select the root folder of your project"; nothing when cancelled.
std::optional<std::string> ChooseProjectFolder(Prompts& prompts);

// Lists each folder in name order, scanning a sub-folder in place before going on. A folder
// reached a second time (through a symbolic link) is not scanned again, so links that lead back
// up the tree cannot loop. A file of a wanted type that cannot be read (or is not a regular
// file) is left out and listed in `unreadable`, as is a folder that cannot be listed.
ProjectScan ScanProjectFolder(const RequiredFileSet& set, const std::string& root);

} // namespace tallyport
