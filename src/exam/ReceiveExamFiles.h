// What the Exam command does with a reply: the student's share of its files written into the
// exam folder, and the message that tells the student how it went.
#pragma once

#include "exam/ExamFiles.h"
#include "protocol/NetMessage.h"
#include "ui/Prompts.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tallyport {

struct UnsavedExamFile {
    std::string name;
    ExamNameFault refused = ExamNameFault::None; // None: the name was fine, writing failed
};

struct ExamOutcome {
    bool received = false;                  // false: no question for this student, or a bad reply
    std::optional<std::string> folderError; // the folder itself could not be used
    std::vector<UnsavedExamFile> unsaved;   // kept files that are not on disk
};

// Reads the reply in order and writes the files kept for `kind` into `folder`, after clearing
// its PDF and EXE files. Nothing is deleted or written unless the whole reply is sound and gives
// this student a question.
ExamOutcome ReceiveExamFiles(NetMessage& reply, char kind, const std::filesystem::path& folder);

inline constexpr char kExamErrorMessage[] =
    "An error has occurred.  Please ask a TA for assistance";

struct ExamMessage {
    std::string text;
    Icon icon = Icon::None; // shown with an OK button
};

// The message the student is shown for an outcome, naming the folder actually used.
ExamMessage DescribeExamOutcome(const ExamOutcome& outcome, const std::filesystem::path& folder);

} // namespace tallyport
