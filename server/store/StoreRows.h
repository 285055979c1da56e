// Row helpers shared by the Store*.cpp files: the clock, word lists kept in one column, and
// the reading of submission, file and mark rows, the writing of audit rows.
#pragma once

#include "store/Sqlite.h"
#include "store/Store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallyport::server {

int64_t Now(); // Unix seconds

// A list of words kept in one column, separated by blanks.
std::string JoinList(const std::vector<std::string>& items);
std::vector<std::string> SplitList(const std::string& text);

std::vector<StoredFile> ReadFiles(sql::Connection& db, int64_t serial);

// The columns ReadInfo reads, and the join that supplies them: a query is
// kSubmissionSelect + kSubmissionFrom + "WHERE ...".
inline constexpr const char* kSubmissionSelect =
    "SELECT s.serial, s.course, s.student, s.entry, s.time, s.file_count, s.bytes, "
    "m.serial IS NOT NULL";
inline constexpr const char* kSubmissionFrom =
    " FROM submissions s LEFT JOIN marks m ON m.serial = s.serial ";
SubmissionInfo ReadInfo(const sql::Statement& row);

std::optional<MarkRecord> ReadMark(sql::Connection& db, int64_t serial);

// Whether the course's class list lets `number` (normalised) register: yes when the course has
// none. None when the query failed.
std::optional<bool> ClassListAdmits(sql::Connection& db, int32_t course, int32_t number);

// An audit row of a change to the whole course, about `subject` (none when about no one).
AuditRecord CourseAudit(std::string_view actor, std::string action, int32_t course,
                        std::optional<std::string> subject);

// One row of the audit table, in the caller's transaction.
bool WriteAudit(sql::Connection& db, const AuditRecord& record);

} // namespace tallyport::server
