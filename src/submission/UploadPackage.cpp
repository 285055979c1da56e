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
        // The package goes from the entries into the scrambled chunks; it is never copied whole.
        const NetMessage head = UploadRequestHead(courseNumber, set, entries);
        reply = transactor.Transact(StreamUploadRequest(head, entries), status, kUploadTitle);
    }
    if (status == status::kSuccess) {
        const int32_t result = reply ? reply->ReadInt() : upload::kTryAgain;
        // A whole number is the server's answer, passed on: a serial, -1 to bring the dialog
        // back, or another negative to end the command.
        if (reply && !reply->malformed())
            return result;
        // Success without a whole number (the reply is missing or cut short): ending in silence
        // would leave the student believing the work is in.
        prompts.Message(kUploadReplyLost, Buttons::Ok, Icon::Exclamation);
        return upload::kTryAgain;
    }
    // A transport failure that reaches here is one the student chose to ignore.
    if (status == status::kNoConnection || status == status::kTransmissionError ||
        status == status::kServerError)
        return upload::kTryAgain;
    return upload::kGiveUp;
}

} // namespace tallyport
