// The class-list commands of tallyport-server: `roster import`, `roster show` and
// `roster reset-password`.
#pragma once

#include "store/Store.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace tallyport::server {

// Replaces the course's class list with the students of a CSV file, all or nothing, and says
// how many were added, changed and removed. Returns the exit code.
int ImportClassList(Store& store, int32_t course, const std::string& file, std::ostream& out,
                    std::ostream& err);

// Prints the course's class list (or, without one, its registered students) with whether each
// student has registered.
int ShowClassList(Store& store, int32_t course, std::ostream& out, std::ostream& err);

// Gives a registered student a one-time password and prints it, once.
int ResetStudentPasswordCommand(Store& store, int32_t course, int32_t student, std::ostream& out,
                                std::ostream& err);

} // namespace tallyport::server
