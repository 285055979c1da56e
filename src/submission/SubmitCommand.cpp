#include "submission/SubmitCommand.h"

#include "submission/ChooseSubmitFile.h"
#include "submission/LoadSubmissionFile.h"
#include "submission/ProjectScan.h"
#include "submission/SplitPath.h"
#include "submission/SubmitRequests.h"
#include "submission/UploadPackage.h"
#include "ui/ReportStatus.h"

#include <algorithm>

namespace tallyport {
namespace {

constexpr std::size_t kUnreadableListed = 15;

std::string NamedFilesQuestion(const RequiredFileSet& set) {
    std::string text = "You must submit the following files:\n";
    for (const std::string& name : set.names)
        text += "\t" + name + "\n";
    text += "Your files must already exist, with the file names exactly as specified.\n\n";
    text += "You must select " + set.names.front() + " first.";
    return text;
}

void TellUnreadable(Prompts& prompts, const std::vector<std::string>& unreadable) {
    std::string text = "These files could not be read and are left out of the submission:\n";
    for (std::size_t i = 0; i < unreadable.size() && i < kUnreadableListed; ++i)
        text += "\t" + unreadable[i] + "\n";
    if (unreadable.size() > kUnreadableListed)
        text += "\t(and " + std::to_string(unreadable.size() - kUnreadableListed) + " more)\n";
    prompts.Message(text, Buttons::Ok, Icon::Exclamation);
}

std::optional<SubmissionEntries> GatherProjectFolder(Prompts& prompts, const RequiredFileSet& set) {
    const std::optional<std::string> root = ChooseProjectFolder(prompts);
    if (!root)
        return std::nullopt;
    ProjectScan scan = ScanProjectFolder(set, *root);
    if (!scan.unreadable.empty())
        TellUnreadable(prompts, scan.unreadable);
    if (scan.files.empty()) {
        prompts.Message("No files of the correct type were found.", Buttons::Ok, Icon::None);
        return std::nullopt;
    }
    SubmissionEntries entries;
    entries.reserve(scan.files.size());
    for (SubmissionFile& file : scan.files)
        entries.emplace_back(std::move(file));
    return entries;
}

} // namespace

bool IsPlainRelativeName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find_first_of("/\\", start), name.size());
        if (name.substr(start, end - start) == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::optional<SubmissionEntries> GatherFirstFiles(Prompts& prompts, const RequiredFileSet& set) {
    if (set.kind == RequirementKind::ProjectFolder)
        return GatherProjectFolder(prompts, set);
    if (set.kind == RequirementKind::NamedFiles &&
        prompts.Message(NamedFilesQuestion(set), Buttons::OkCancel, Icon::None) != Answer::Ok)
        return std::nullopt;
    const std::optional<std::string> path = ChooseSubmitFile(prompts, set, 0);
    if (!path)
        return std::nullopt;
    const SplitPathResult split = SplitPath(*path);
    std::optional<SubmissionFile> first = LoadSubmissionFile(split.folder, split.fileName, set, 0);
    if (!first) { // it passed the open test a moment ago
        prompts.Message(FormatMessage("Unable to open file %s", path->c_str()), Buttons::Ok,
                        Icon::Error);
        return std::nullopt;
    }
    SubmissionEntries entries;
    entries.push_back(std::move(first));
    if (set.kind == RequirementKind::NamedFiles) {
        // The other required files are picked up from the first one's folder by their names,
        // in which a backslash separates folders as "/" does.
        for (int32_t slot = 1; slot < set.nameCount(); ++slot) {
            std::string name = set.names[std::size_t(slot)];
            std::replace(name.begin(), name.end(), '\\', '/');
            entries.push_back(IsPlainRelativeName(name)
                                  ? LoadSubmissionFile(split.folder, name, set, slot)
                                  : std::nullopt);
        }
    }
    return entries;
}

StatusCode RunSubmitCommand(CommandContext& context, const ReviewSubmission& review) {
    if (context.course == nullptr)
        return status::kSuccess;
    const int32_t courseNumber = context.course->number;
    const MainSelection& selection = context.selection;
    StatusCode status = status::kSuccess;
    std::optional<FileListReply> fields;
    {
        const NetMessage request = BuildFileListRequest(courseNumber, selection.studentNumber,
                                                        selection.password, selection.entryIndex);
        std::optional<NetMessage> reply =
            context.transactor.Transact(request, status, kFileListTitle);
        if (!reply) {
            if (status == status::kUnknownStudent)
                context.fields.FocusStudentNumber();
            else if (status == status::kWrongPassword)
                context.fields.FocusPassword();
            else if (status == status::kSuccess) // cut short: nothing has told the student yet
                ReportUnusableReply(context.prompts);
            return status;
        }
        fields = ReadFileListReply(*reply);
    }
    if (!fields) {
        ReportUnusableReply(context.prompts);
        return status::kSuccess;
    }
    RequiredFileSet set =
        BuildRequiredFileSet(fields->typeTable, fields->requirement, fields->sizeFlag,
                             selection.password, selection.studentNumber, selection.entryIndex);
    // A list of named files that names none is one file chosen freely.
    if (set.kind == RequirementKind::NamedFiles && set.names.empty())
        set.kind = RequirementKind::SingleFile;

    std::optional<SubmissionEntries> entries = GatherFirstFiles(context.prompts, set);
    if (!entries)
        return status::kSuccess;
    for (;;) {
        if (!review(set, *entries))
            return status::kSuccess;
        const int32_t result =
            UploadPackage(context.transactor, context.prompts, courseNumber, set, *entries);
        if (result == upload::kTryAgain)
            continue;
        if (result >= 0)
            context.prompts.Message(
                FormatMessage("Your latest solution has now been submitted.\nYour "
                              "serial # is %04d.",
                              result),
                Buttons::Ok, Icon::None);
        return status::kSuccess;
    }
}

} // namespace tallyport
