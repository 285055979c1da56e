// The commands that run a course through its term: `course show` (with the entries' keys,
// dates, release state and counts, or the course written back as a file), `release`,
// `unrelease` and `extend`. Entries are named by key, or by their position in the course.
#pragma once

#include "store/Store.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace tallyport::server {

// The entry `reference` names: its key, or its position in the course as it is now.
const EntryDefinition* FindEntry(const CourseDefinition& course, const std::string& reference);

int ShowCourse(const Store& store, int32_t number, bool asToml, std::ostream& out,
               std::ostream& err);

int ReleaseCommand(Store& store, int32_t course, const std::string& entry, bool released,
                   bool force, std::ostream& out, std::ostream& err);

// The grades as CSV (GradesCsv.h), of the whole course or of one entry (a key).
int GradesCommand(const Store& store, int32_t course, const std::optional<std::string>& entry,
                  std::ostream& out, std::ostream& err);

// `until` empty removes the student's extension.
int ExtendCommand(Store& store, int32_t course, const std::string& entry, int32_t student,
                  const std::string& until, std::ostream& out, std::ostream& err);

} // namespace tallyport::server
