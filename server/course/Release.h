// Releasing an entry's marks to its students: refused while some of them may still submit,
// unless forced, so that nobody sees marked work of classmates before their own is in.
#pragma once

#include "store/Store.h"

#include <string>

namespace tallyport::server {

struct ReleaseOutcome {
    bool done = false;
    bool refused = false;         // some students could still submit and it was not forced
    int64_t stillSubmitting = 0;  // how many
    std::string message;          // for staff: what happened, or why not
};

// How many of the course's students (its class list and whoever registered) could still upload
// to the entry at `now`, by their own deadlines and the late window.
int64_t StudentsStillSubmitting(const Store& store, int32_t course, const EntryDefinition& entry,
                                int64_t now);

// Releases (or, with `released` false, withdraws) the entry's marks for `actor`.
ReleaseOutcome SetRelease(Store& store, int32_t course, const EntryDefinition& entry,
                          bool released, bool force, std::string_view actor, int64_t now);

} // namespace tallyport::server
