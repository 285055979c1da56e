#include "student/StoreUpload.h"

#include "student/PackageParser.h"
#include "student/UploadRules.h"

namespace tallyport::server {

UploadOutcome StoreUpload(Store& store, const Upload& upload) {
    UploadOutcome outcome;
    std::string why;
    auto parsed = ParsePackage(upload.package, &why);
    if (!parsed) {
        outcome.refused = true;
        outcome.why = "package refused: " + why;
        return outcome;
    }
    if (auto broken = BrokenUploadRule(*upload.entry, *parsed, int64_t(upload.package.size()))) {
        outcome.refused = true;
        outcome.why = "upload breaks the entry's file rules: " + *broken;
        return outcome;
    }
    outcome.files = parsed->files;
    NewSubmission submission;
    submission.course = upload.course;
    submission.student = upload.student;
    submission.entry = upload.entry->id;
    submission.time = upload.time;
    submission.package = upload.package;
    submission.files = std::move(parsed->files);
    submission.peer = upload.peer;
    outcome.serial = store.AddSubmission(submission);
    if (!outcome.serial)
        outcome.why = "the submission could not be stored";
    return outcome;
}

} // namespace tallyport::server
