#include "course/Release.h"

namespace tallyport::server {

int64_t StudentsStillSubmitting(const Store& store, int32_t course, const EntryDefinition& entry,
                                int64_t now) {
    const auto extensions = store.Extensions(course, entry.id);
    int64_t count = 0;
    for (const auto& [student, name, email, listed, registered] : store.CourseStudents(course)) {
        std::optional<int64_t> extension;
        for (const auto& [number, until] : extensions)
            if (number == student)
                extension = until;
        const UploadTime time = CheckUploadTime(entry, extension, now);
        if (time == UploadTime::Open || time == UploadTime::Late ||
            time == UploadTime::NotYetOpen)
            ++count;
    }
    return count;
}

ReleaseOutcome SetRelease(Store& store, int32_t course, const EntryDefinition& entry,
                          bool released, bool force, std::string_view actor, int64_t now) {
    ReleaseOutcome outcome;
    const std::string what = "the marks of entry " + entry.key;
    if (released && !force) {
        outcome.stillSubmitting = StudentsStillSubmitting(store, course, entry, now);
        // While the entry itself is open, a student who has not registered yet may submit too.
        const bool entryOpen = CheckUploadTime(entry, std::nullopt, now) != UploadTime::Closed;
        if (outcome.stillSubmitting > 0 || entryOpen) {
            outcome.refused = true;
            outcome.message = std::to_string(outcome.stillSubmitting) +
                              (outcome.stillSubmitting == 1 ? " student" : " students") +
                              " could still submit to entry " + entry.key +
                              (entryOpen ? " (its deadline or late window is ahead)"
                                         : " (an extension is ahead)") +
                              "; release anyway with force";
            return outcome;
        }
    }
    outcome.done = store.SetMarksReleased(course, entry.id, released, actor);
    outcome.message = outcome.done ? what + (released ? " are released" : " are withdrawn")
                                   : what + " could not be stored";
    return outcome;
}

} // namespace tallyport::server
