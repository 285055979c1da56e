// The View command up to the dialog: request 13, the reply's package read through a private
// temporary file (removed on every path) into a MarkedSubmission.
#pragma once

#include "command/CommandContext.h"
#include "marking/MarkedSubmission.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallyport {

inline constexpr std::string_view kNothingSubmittedMessage =
    "You have not submitted anything for that assignment.";
inline constexpr std::string_view kUnreadableMarkedMessage =
    "The marked submission could not be read.  Please report this problem.";

struct PackageReading {
    std::optional<std::string> tempFileProblem; // set when the temporary file was unusable
    bool complete = false;                      // the whole package was read
};

// Writes `package` to a new private file in `tempFolder`, reads it back into `submission` and
// removes the file.
PackageReading ReadPackageThroughTempFile(std::span<const std::byte> package,
                                          const std::filesystem::path& tempFolder,
                                          MarkedSubmission& submission);

struct MarkedDownload {
    MarkedSubmission submission;
    int32_t maxMark = 1;
};

// Asks for the selected assignment in its marked state. Nothing when there is nothing to show;
// the user has then been told why (a failing transaction reports itself, -12 and an unreadable
// download are reported here). A download without a marking record is unreadable.
std::optional<MarkedDownload> DownloadMarkedSubmission(CommandContext& context);

} // namespace tallyport
