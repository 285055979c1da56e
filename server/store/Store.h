// The server's storage: one SQLite database (WAL, versioned schema) holding courses, accounts,
// markers, every submission with its files, marks with per-file markup, and exam files; the
// submitted packages themselves are files in a folder beside it ("<database>.packages").
// Every call runs in its own transaction and is safe to call from several threads at once.
// Failures are return values; byte runs (packages, file contents) are held in std::string.
#pragma once

#include "course/CourseDefinition.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server {

class ConnectionPool;
class PackageFiles;
class SubmissionCommitter;

// A number below 1000000 gets 100000000 added, as the client does before sending it.
int32_t NormaliseStudentNumber(int32_t number);

struct NewStudent {
    int32_t course = 0;
    int32_t number = 0;   // normalised on the way in (123456 is kept as 100123456)
    std::string password; // plain text, or the hash when passwordIsHash
    bool passwordIsHash = false;
    std::string name;
    std::string email;
    std::string questionnaire = "002";
};

struct StudentRecord {
    int32_t course = 0;
    int32_t number = 0;
    std::string passwordHash; // as the client sent it (HashPassword of the password)
    std::string name;
    std::string email;
    std::string questionnaire;
    int64_t registered = 0; // Unix seconds
};

// NotListed: the course has a class list without the student's number.
enum class RegisterOutcome { Registered, UnknownCourse, AlreadyExists, NotListed, Failed };

// One student of a course's class list; name and e-mail in UTF-8.
struct ClassListEntry {
    int32_t number = 0; // normalised
    std::string name;
    std::string email;
    bool operator==(const ClassListEntry&) const = default;
};

// What an import of a class list did to the one before it.
struct ClassListChanges {
    int32_t added = 0;
    int32_t changed = 0; // same number, another name or e-mail address
    int32_t removed = 0;
};

// A student of a course: on its class list, registered, or both. Name and e-mail (UTF-8) are the
// list's when listed, else those given when registering.
struct CourseStudent {
    int32_t number = 0;
    std::string name;
    std::string email;
    bool listed = false;
    bool registered = false;
};

// How many submissions a student made for one entry, and the serial of the latest.
struct EntrySubmissions {
    int32_t student = 0;
    int32_t entry = 0;
    int32_t count = 0;
    int32_t latestSerial = 0;
};

struct MarkerRecord {
    std::string id; // letters, digits, '.', '_' and '-'
    std::string name;
    std::string info;             // the second text shown in angle brackets after the name
    bool admin = false;           // may also release an entry's marks
    std::vector<int32_t> courses; // the courses the marker may mark, ascending
};

// One file of a stored package, as its header line announced it.
struct StoredFile {
    std::string name;
    char kind = 'A'; // package letter: 'A', 'B' or 'F'
    int32_t tabWidth = 8;
    int64_t offset = 0; // where its content starts in the package
    int64_t length = 0;
};

struct SubmissionInfo {
    int32_t serial = 0;
    int32_t course = 0;
    int32_t student = 0;
    int32_t entry = 0;
    int64_t time = 0; // Unix seconds
    int32_t files = 0;
    int64_t bytes = 0; // package size
    bool marked = false;
};

struct SubmissionFilter {
    std::optional<int32_t> course;
    std::optional<int32_t> student; // normalised like NewStudent::number
};

struct NewSubmission {
    int32_t course = 0;
    int32_t student = 0;
    int32_t entry = 0;
    int64_t time = 0;
    std::string_view package;      // the exact bytes received (copied into the database)
    std::vector<StoredFile> files; // parsed from the package (PackageParser.h)
    std::string peer;              // client address, kept for staff
};

struct MarkRecord {
    int32_t mark = 0;
    std::string markerId;
    std::string detail;
    int64_t time = 0;
    int64_t version = 0; // 1 for the first marking of a submission, one more for every save
};

// Markup lines (comments and strokes) for one submitted file, by its submitted name.
struct FileMarkup {
    std::string fileName;
    std::string markup; // lines ending in CR LF (MarkupText.h checks and normalises them)
};

struct MarkRequest {
    int32_t course = 0;
    int32_t student = 0; // normalised like NewStudent::number
    int32_t entry = 0;
    int32_t mark = 0;
    std::string markerId;
    std::string detail;
    std::vector<FileMarkup> markup;
};

enum class MarkOutcome { Marked, NoSubmission, UnknownMarker, UnknownFile, Failed };

// The latest submission of one student for one entry, with its mark and markup if marked.
struct LatestSubmission {
    SubmissionInfo info;
    std::string package;
    bool packageMissing = false; // its file could not be read (a fault of the storage)
    std::vector<StoredFile> files;
    std::optional<MarkRecord> mark;
    std::vector<std::string> markup; // one per file, in file order (empty when none)
};

// A staff save of one submission's marking, based on the version the marker saw (0: it was
// not marked then). The markup is the checked form (NormaliseMarkup), one per file in file order.
struct MarkingSave {
    int32_t serial = 0;
    int64_t baseVersion = 0;
    int32_t mark = 0;
    std::string markerId;
    std::string detail;
    std::vector<std::string> markup;
};

// Stale: someone saved since baseVersion. Superseded: the student has submitted again since,
// and only the latest submission is shown to the student.
enum class SaveOutcome { Saved, NoSubmission, Superseded, Stale, WrongFileCount, Failed };

// One submission's marking: no mark while it is not marked; markup one per file, in file order.
struct StoredMarking {
    std::optional<MarkRecord> mark;
    std::vector<std::string> markup;
};

// A student's latest submission for an entry, with its mark if marked.
struct StudentLatest {
    SubmissionInfo info;
    std::optional<MarkRecord> mark;
};

// Of the students who submitted for an entry, how many have their latest submission marked.
struct EntryCounts {
    int32_t entry = 0;
    int32_t submitted = 0;
    int32_t marked = 0;
};

// One change of a mark ("mark") or of an entry's marks being released ("release").
struct AuditRecord {
    int64_t time = 0;
    std::string actor; // marker id
    std::string action;
    int32_t course = 0;
    int32_t entry = 0;
    std::optional<int32_t> serial;
    std::optional<int32_t> oldMark;
    std::optional<int32_t> newMark;
};

struct ExamFile {
    std::string name; // relative to the student's exam folder; may hold '/'
    std::string bytes;
};

// Full: every commit reaches the disk before it returns (a power cut loses nothing that was
// acknowledged). Normal: commits survive a killed process but not a power cut; for scratch
// databases of tests and fuzzing.
enum class Durability { Full, Normal };

class Store {
public:
    // Opens (creating and migrating as needed) the database at `file`. On failure returns none
    // and says why in `error`.
    static std::unique_ptr<Store> Open(const std::filesystem::path& file, std::string& error,
                                       Durability durability = Durability::Full);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Courses. PutCourse adds or replaces one (accounts and submissions are kept) and replaces
    // its exam files with `examFiles` (entry index, files); the definition must be consistent.
    bool PutCourse(const CourseDefinition& course,
                   const std::vector<std::pair<int32_t, std::vector<ExamFile>>>& examFiles = {},
                   std::string* error = nullptr);
    std::optional<CourseDefinition> FindCourse(int32_t number) const;
    std::vector<CourseDefinition> Courses() const; // by course number

    // Accounts.
    RegisterOutcome RegisterStudent(const NewStudent& student);
    std::optional<StudentRecord> FindStudent(int32_t course, int32_t number) const;
    bool UpdateStudent(int32_t course, int32_t number, std::string_view newPasswordHash,
                       std::string_view name, std::string_view email);

    // Class lists (StoreClassLists.cpp). A course with a class list registers only the numbers
    // on it; one without takes any number. ReplaceClassList puts `students` in place of the
    // course's list in one transaction; none when there is no such course (or it failed).
    std::optional<ClassListChanges> ReplaceClassList(int32_t course,
                                                     const std::vector<ClassListEntry>& students);
    std::vector<ClassListEntry> ClassList(int32_t course) const; // by number
    bool MayRegister(int32_t course, int32_t number) const;
    // The class list and the registered students together, by number.
    std::vector<CourseStudent> CourseStudents(int32_t course) const;
    std::vector<EntrySubmissions> SubmissionCounts(int32_t course) const; // by student, entry
    // Replaces a registered student's password hash (as the client sends it); false when the
    // student is not registered.
    bool SetStudentPasswordHash(int32_t course, int32_t number, std::string_view hash);

    // Staff (StoreStaff.cpp). AddMarker replaces a marker with the same id, its admin flag and
    // courses included, and keeps its password.
    bool AddMarker(const MarkerRecord& marker);
    std::optional<MarkerRecord> FindMarker(std::string_view id) const;
    // `hash` is a crypt(3) string; false when there is no such marker.
    bool SetMarkerPassword(std::string_view id, std::string_view hash);
    // The stored hash: empty when the marker has no password; none when there is no marker.
    std::optional<std::string> MarkerPasswordHash(std::string_view id) const;
    // Marks the entry's marks released (as `course load` with marks_released does), audited.
    bool ReleaseMarks(int32_t course, int32_t entry, std::string_view actor);
    std::vector<AuditRecord> Audit(std::optional<int32_t> course = std::nullopt) const;

    // Submissions. AddSubmission returns the serial only after the transaction has committed
    // (durably: a serial once returned survives a crash of the process).
    std::optional<int32_t> AddSubmission(const NewSubmission& submission);
    std::vector<SubmissionInfo> ListSubmissions(const SubmissionFilter& filter = {}) const;
    std::optional<SubmissionInfo> FindSubmission(int32_t serial) const;
    std::optional<std::string> PackageBytes(int32_t serial) const;
    std::vector<StoredFile> SubmissionFiles(int32_t serial) const;
    std::optional<LatestSubmission> Latest(int32_t course, int32_t student, int32_t entry) const;

    // Markings (StoreMarkings.cpp). MarkLatest marks the latest submission of (course,
    // student, entry), replacing an earlier mark. Every change of a mark is audited.
    MarkOutcome MarkLatest(const MarkRequest& request);
    std::optional<MarkRecord> FindMark(int32_t serial) const;
    // None when there is no such submission.
    std::optional<StoredMarking> FindMarking(int32_t serial) const;
    // All or nothing, in one transaction.
    SaveOutcome SaveMarking(const MarkingSave& save);
    std::vector<EntryCounts> CountEntries(int32_t course) const; // entries with submissions
    std::vector<StudentLatest> LatestPerStudent(int32_t course, int32_t entry) const;

    // Exam question files of one entry (replacing earlier ones), in the order they are sent.
    bool SetExamFiles(int32_t course, int32_t entry, const std::vector<ExamFile>& files);
    std::vector<ExamFile> ExamFiles(int32_t course, int32_t entry) const;

    const std::filesystem::path& file() const { return file_; }
    const std::filesystem::path& packageFolder() const;
    // Submissions that Open removed: the machine stopped after their rows were committed but
    // before their packages were on the disk, so their uploads were never acknowledged.
    const std::vector<int32_t>& removedAtOpen() const { return removedAtOpen_; }

private:
    Store(std::filesystem::path file, std::unique_ptr<ConnectionPool> pool,
          std::unique_ptr<PackageFiles> packages);

    std::filesystem::path file_;
    std::unique_ptr<ConnectionPool> pool_;
    std::unique_ptr<PackageFiles> packages_;
    std::unique_ptr<SubmissionCommitter> committer_;
    std::vector<int32_t> removedAtOpen_;
};

} // namespace tallyport::server
