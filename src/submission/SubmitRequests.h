// The two requests of a submission: "File List" (what the assignment requires) and "Submitted
// Program" (the package itself). Both start with 12, the course number, a letter, the student
// number, the password hash and the entry index.
#pragma once

#include "protocol/NetMessage.h"
#include "protocol/Transaction.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

inline constexpr int32_t kSubmitRequestKind = 12;
inline constexpr std::string_view kFileListTitle = "File List";
inline constexpr std::string_view kUploadTitle = "Submitted Program";

NetMessage BuildFileListRequest(int32_t courseNumber, int32_t studentNumber,
                                std::string_view password, int32_t entryIndex);

struct FileListReply {
    std::string typeTable;
    std::string requirement;
    int32_t sizeFlag = 0;
};

// None when the reply does not hold its three fields.
std::optional<FileListReply> ReadFileListReply(NetMessage& reply);

// The upload request's fields before the package: the common fields and the package size.
NetMessage UploadRequestHead(int32_t courseNumber, const RequiredFileSet& set,
                             const SubmissionEntries& entries);

// The upload request as it is sent: `head`, then the package written straight from the entries
// into the scrambled chunks, so that it is never copied whole. Both must outlive the request.
StreamedRequest StreamUploadRequest(const NetMessage& head, const SubmissionEntries& entries);

// The same request bytes in one message (its buffer allocated once, at its final size). The
// package must not exceed kLargestPackage.
NetMessage BuildUploadRequest(int32_t courseNumber, const RequiredFileSet& set,
                              const SubmissionEntries& entries);

} // namespace tallyport
