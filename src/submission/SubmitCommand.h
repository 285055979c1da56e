// The submit command without its dialog: File List, gathering the first files, the review ⇄
// upload loop and the serial message. The submit dialog is passed in, so the same flow runs with
// the real dialog (Submit.h) and wherever a dialog is not wanted.
#pragma once

#include "command/CommandContext.h"
#include "protocol/StatusCode.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionFile.h"
#include "ui/Prompts.h"

#include <functional>
#include <optional>

namespace tallyport {

// Shows the submit dialog on the set and the entries (which it may change); true when it closed
// with its Submit button.
using ReviewSubmission =
    std::function<bool(const RequiredFileSet& set, SubmissionEntries& entries)>;

// The first files of a submission by the kind of requirement; nothing when the command ends
// here (cancelled, or a message has said why).
std::optional<SubmissionEntries> GatherFirstFiles(Prompts& prompts, const RequiredFileSet& set);

// True for a required name that stays inside the folder it is looked for in (not absolute, no
// ".." step), so a reply cannot make the client pick up files from elsewhere.
bool IsPlainRelativeName(std::string_view name);

// Runs the whole command; returns 0 once the File List reply has arrived, else its status. The
// focus moves to the student number on -7 and to the password on -8 (File List only).
StatusCode RunSubmitCommand(CommandContext& context, const ReviewSubmission& review);

} // namespace tallyport
