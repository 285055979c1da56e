#include "student/UploadRules.h"

#include "submission/LoadSubmissionFile.h"
#include "submission/RequiredFileSet.h"

namespace tallyport::server {
namespace {

std::string NameList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + name;
    return list.empty() ? "no file" : list;
}

// The client submits slot i under the i-th required name, exactly as written.
std::optional<std::string> BrokenNames(const RequiredFileSet& set, const ParsedPackage& package) {
    std::vector<std::string> required, uploaded;
    for (const std::string& name : set.names)
        required.push_back(SubmittedName(name));
    for (const StoredFile& file : package.files)
        uploaded.push_back(file.name);
    if (uploaded == required)
        return std::nullopt;
    return "entry requires " + NameList(required) + "; the upload has " + NameList(uploaded);
}

std::optional<std::string> BrokenCount(const RequiredFileSet& set, std::size_t count) {
    if (set.kind == RequirementKind::SingleFile && count != 1)
        return "entry takes exactly one file; the upload has " + std::to_string(count);
    if (count == 0)
        return std::string("entry takes at least one file; the upload has none");
    return std::nullopt;
}

// Every file's extension is in the type table (a named file is excused: the client loads the
// later slots by name without looking its type up), a folder's files also pass the permitted
// extensions (the only kind the client filters by them), and the kind letter is the one the
// table gives its extension.
std::optional<std::string> BrokenFileType(const RequiredFileSet& set, const StoredFile& file) {
    const std::string_view extension = ExtensionOf(file.name);
    const std::string at = "file " + file.name + ": ";
    if (set.kind != RequirementKind::NamedFiles && !set.FindFileType(extension))
        return at + "extension \"" + std::string(extension) + "\" not in the type table";
    if (set.kind == RequirementKind::ProjectFolder && !set.IsExtensionPermitted(extension))
        return at + "extension \"" + std::string(extension) + "\" not permitted by the entry";
    const char letter = PackageLetter(set.TypeContentKind(extension));
    if (file.kind != letter)
        return at + "kind " + file.kind + " where the type table gives " + letter;
    return std::nullopt;
}

} // namespace

std::optional<std::string> BrokenUploadRule(const EntryDefinition& entry,
                                            const ParsedPackage& package, int64_t packageSize) {
    if (entry.sizeLimited && packageSize > kSizeLimit)
        return "package of " + std::to_string(packageSize) + " bytes over the size limit of " +
               std::to_string(kSizeLimit);
    RequiredFileSet set =
        BuildRequiredFileSet(entry.typeTable, entry.requirement, entry.sizeLimited, "", 0, 0);
    // As the client does: a list of named files that names none is one file chosen freely.
    if (set.kind == RequirementKind::NamedFiles && set.names.empty())
        set.kind = RequirementKind::SingleFile;
    auto broken = set.kind == RequirementKind::NamedFiles ? BrokenNames(set, package)
                                                          : BrokenCount(set, package.files.size());
    for (std::size_t i = 0; !broken && i < package.files.size(); ++i)
        broken = BrokenFileType(set, package.files[i]);
    return broken;
}

} // namespace tallyport::server
