#include "submission/UploadPackage.h"

#include "submission/SubmissionPackage.h"
#include "submission/SubmitRequests.h"

namespace tallyport {

int32_t UploadPackage(Transactor& transactor, Prompts& prompts, int32_t courseNumber,
                      const RequiredFileSet& set, const SubmissionEntries& entries) {
    const int64_t size = PackageSize(entries);
    const int64_t limit = set.sizeLimited ? kSizeLimit : kLargestPackage;
    if (size > limit) {
        prompts.Message(FormatMessage("The file(s) your are submitting are too large.\nThe maximum "
                                      "allowed total size is %d.\nPlease confirm you are only "
                                      "submitting the correct files.",
                                      int(limit)),
                        Buttons::Ok, Icon::Error);
        return upload::kTryAgain;
    }
    StatusCode status = status::kSuccess;
    std::optional<NetMessage> reply;
    {
        const NetMessage request = BuildUploadRequest(courseNumber, set, entries);
        reply = transactor.Transact(request, status, kUploadTitle);
    }
    if (reply) {
        const int32_t serial = reply->ReadInt();
        // A reply too short to hold the serial was not received in full.
        return reply->malformed() ? upload::kGiveUp : serial;
    }
    // A transport failure that reaches here is one the student chose to ignore.
    if (status == status::kNoConnection || status == status::kTransmissionError ||
        status == status::kServerError)
        return upload::kTryAgain;
    return upload::kGiveUp;
}

} // namespace tallyport
