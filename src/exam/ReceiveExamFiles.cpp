#include "exam/ReceiveExamFiles.h"

#include "exam/ExamFiles.h"
#include "exam/ExamFolder.h"
#include "exam/ExamMessages.h"
#include "exam/ExamSelector.h"

namespace tallyport {
namespace {

constexpr std::size_t kListedUnsavedFiles = 20; // the rest are counted, to keep the box readable

// One line of the list: the name as the server sent it (an empty one in quotes, so that the
// line does not start with nothing) and what kept it off the disk.
std::string UnsavedLine(const UnsavedExamFile& file) {
    const std::string name = file.name.empty() ? "\"\"" : file.name;
    switch (file.refused) {
    case ExamNameFault::LeadsOutside:
        return name + " (refused: the name leads outside the folder)\n";
    case ExamNameFault::NamesNoFile:
        return name + " (refused: the name names no file)\n";
    case ExamNameFault::None:
        break;
    }
    return name + " (could not be written)\n";
}

} // namespace

ExamOutcome ReceiveExamFiles(NetMessage& reply, char kind, const std::filesystem::path& folder) {
    ExamOutcome outcome;
    const std::optional<ExamReply> exam = ReadExamReply(reply);
    if (!exam)
        return outcome;
    const std::optional<ExamFileRange> keep =
        ChooseExamFiles(kind, exam->selector, int32_t(exam->files.size()));
    if (!keep)
        return outcome;
    outcome.received = true;
    if (std::optional<std::string> problem = PrepareExamFolder(folder)) {
        outcome.folderError = std::move(problem);
        return outcome;
    }

    // Questions of these kinds left from an earlier download go first.
    ClearTempFiles(folder, "PDF");
    ClearTempFiles(folder, "EXE");
    for (int32_t i = 0; i < int32_t(exam->files.size()); ++i) {
        if (!keep->Contains(i))
            continue;
        const ExamReplyFile& file = exam->files[std::size_t(i)];
        const ExamFilePlace place = ExamFilePath(folder, file.name);
        if (!place.path)
            outcome.unsaved.push_back({std::string(file.name), place.fault});
        else if (!WriteExamFile(*place.path, file.bytes))
            outcome.unsaved.push_back({std::string(file.name)});
    }
    return outcome;
}

ExamMessage DescribeExamOutcome(const ExamOutcome& outcome, const std::filesystem::path& folder) {
    if (!outcome.received)
        return {kExamErrorMessage};
    if (outcome.folderError)
        return {"Your exam question could not be saved: " + *outcome.folderError +
                    "\nPlease ask a TA for assistance",
                Icon::Error};
    if (outcome.unsaved.empty())
        return {"Your exam question has been saved in " + folder.string()};

    std::string text =
        "These files of your exam question could not be saved in " + folder.string() + ":\n";
    for (std::size_t i = 0; i < outcome.unsaved.size() && i < kListedUnsavedFiles; ++i) {
        const UnsavedExamFile& file = outcome.unsaved[i];
        text += UnsavedLine(file);
    }
    if (outcome.unsaved.size() > kListedUnsavedFiles)
        text += "and " + std::to_string(outcome.unsaved.size() - kListedUnsavedFiles) + " more\n";
    text += "Please ask a TA for assistance";
    return {text, Icon::Error};
}

} // namespace tallyport
