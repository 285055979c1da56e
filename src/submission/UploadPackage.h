// One upload attempt: the package built from the entries, the size limit, the "Submitted
// Program" request and its serial number.
#pragma once

#include "protocol/Transaction.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionFile.h"
#include "ui/Prompts.h"

#include <cstdint>

namespace tallyport {

namespace upload {
inline constexpr int32_t kTryAgain = -1; // remediable: the submit dialog is shown again
inline constexpr int32_t kGiveUp = -2;   // failed; the reason has been shown already
} // namespace upload

// Shown when the server answered the upload with success but its reply is missing or too short
// to hold a number: the work may or may not be stored, so the student is told and can send it
// again.
inline constexpr std::string_view kUploadReplyLost =
    "The server's reply was missing or cut short, so your solution may not have been "
    "submitted.\nPlease submit it again.";

// The serial number (0 or more), kTryAgain or kGiveUp, or the server's own negative answer
// (-1 means try again; any other negative ends the command without a further message).
// With the size limit set, a package of more than 1048576 bytes (headers included) is refused
// with the too-large box and kTryAgain; so is a package too large for any request.
int32_t UploadPackage(Transactor& transactor, Prompts& prompts, int32_t courseNumber,
                      const RequiredFileSet& set, const SubmissionEntries& entries);

} // namespace tallyport
