// Where exam questions are kept. The student works on them there, so the folder must outlive a
// restart (the temporary folder under /tmp does not) and be easy to find: "Tallyport/exam" in
// the home folder, private to the user like the temporary folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tallyport {

// ~/Tallyport/exam, with the home folder taken from the user database (the program reads no
// environment). Falls back to "exam" in the temporary folder when the user has no home folder.
// Nothing is created.
std::filesystem::path DefaultExamFolder();

// Creates the folder's missing parents and the folder itself (each 0700), then checks it as the
// temporary folder is checked: a real folder of this user that others cannot enter. Returns an
// explanation when it cannot be used.
std::optional<std::string> PrepareExamFolder(const std::filesystem::path& folder);

} // namespace tallyport
