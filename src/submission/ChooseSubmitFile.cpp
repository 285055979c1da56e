#include "submission/ChooseSubmitFile.h"

#include "submission/LoadSubmissionFile.h"

namespace tallyport {
namespace {

std::string_view AfterLastSeparator(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// The extension a required name asks for: the text after its first ".".
std::string_view RequiredExtension(std::string_view name) {
    const std::size_t dot = name.find('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

} // namespace

OpenFileRequest SubmitFileRequest(const RequiredFileSet& set, int32_t slot) {
    OpenFileRequest request;
    request.title = "Select File To Submit";
    request.filter = std::string(kAllFilesFilter);
    switch (set.kind) {
    case RequirementKind::NamedFiles:
        // The slot's extension is taken from its own name, so that extensions listed beside the
        // names cannot shift it onto another slot's type.
        if (slot >= 0 && slot < set.nameCount()) {
            const std::string& name = set.names[std::size_t(slot)];
            const std::string_view extension = RequiredExtension(name);
            request.title = FormatMessage("Select File To Submit (should be %s)", name.c_str());
            request.filter = set.TypeFilter(extension);
            request.defaultExtension = std::string(extension);
            request.initialName = std::string(AfterLastSeparator(name));
        }
        break;
    case RequirementKind::SingleFile:
        if (!set.extensions.empty()) {
            request.filter = set.TypeFilter(set.extensions.front());
            request.defaultExtension = set.extensions.front();
        }
        break;
    case RequirementKind::AnyFiles:
    case RequirementKind::ProjectFolder:
        request.filter = set.combinedFilter;
        break;
    }
    return request;
}

std::optional<std::string> ChooseSubmitFile(Prompts& prompts, const RequiredFileSet& set,
                                            int32_t slot) {
    const OpenFileRequest request = SubmitFileRequest(set, slot);
    std::optional<std::string> path = prompts.OpenFile(request);
    if (!path || path->empty())
        return std::nullopt;
    const std::string_view fileName = AfterLastSeparator(*path);
    if (set.kind == RequirementKind::NamedFiles && !request.initialName.empty() &&
        !EqualsIgnoringCase(fileName, request.initialName)) {
        const Answer answer = prompts.Message(
            FormatMessage("You specified a file with an incorrect name.\r\nDo you want to rename "
                          "it as %s when submitting?\r\nNOTE:  You probably don't want to do this!",
                          request.initialName.c_str()),
            Buttons::OkCancel, Icon::None);
        if (answer != Answer::Ok)
            return std::nullopt;
    }
    if (!CanOpenForReading(*path)) {
        prompts.Message(FormatMessage("Unable to open file %s", path->c_str()), Buttons::Ok,
                        Icon::Error);
        return std::nullopt;
    }
    if (set.FindFileType(ExtensionOf(fileName)) == nullptr) {
        prompts.Message(FormatMessage("You are not permitted to submit files with the\nextension "
                                      "for file %s",
                                      path->c_str()),
                        Buttons::Ok, Icon::Error);
        return std::nullopt;
    }
    return path;
}

} // namespace tallyport
