#include "marking/MarkedDocumentName.h"

#include "marking/SaveMarked.h"

#include <filesystem>
#include <unordered_set>

namespace tallyport {
namespace {

std::string Folded(std::string path) {
    for (char& c : path)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        else if (c == '\\')
            c = '/';
    return path;
}

// Every path under the save folder that writing `name` (and its picture) creates or replaces.
void AddTakenPaths(std::string_view name, std::unordered_set<std::string>& taken) {
    for (const std::string& written : {std::string(name), std::string(name) + ".emf"}) {
        std::string prefix;
        for (const auto& part : std::filesystem::path(Folded(written)).lexically_normal()) {
            if (part.empty() || part == ".")
                continue;
            prefix += (prefix.empty() ? "" : "/") + part.string();
            taken.insert(prefix);
        }
    }
}

} // namespace

std::string MarkedDocumentName(const MarkedSubmission& submission) {
    std::unordered_set<std::string> taken;
    for (const MarkedFile& file : submission.files)
        if (IsSafeSaveName(file.name))
            AddTakenPaths(file.name, taken);
    std::string name = "marked.pdf";
    for (int n = 2; taken.contains(name); ++n)
        name = "marked-" + std::to_string(n) + ".pdf";
    return name;
}

} // namespace tallyport
