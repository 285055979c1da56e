// Picking one file to submit with the file-open dialog, set up by the kind of requirement, and
// the checks a picked file must pass.
#pragma once

#include "submission/RequiredFileSet.h"
#include "ui/Prompts.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tallyport {

// The dialog's title, filter, default extension and initial name for a slot (NamedFiles) or for
// the first file of the other kinds.
OpenFileRequest SubmitFileRequest(const RequiredFileSet& set, int32_t slot);

// The chosen file's full path, or nothing when the student cancelled or a check failed (its
// message has been shown).
std::optional<std::string> ChooseSubmitFile(Prompts& prompts, const RequiredFileSet& set,
                                            int32_t slot);

} // namespace tallyport
