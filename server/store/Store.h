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

// Whether `id` may name a marker: 1 to 64 letters, digits, '.', '_' and '-'.
bool IsMarkerId(std::string_view id);

// A student's work for an entry given to one marker to mark.
struct Allocation {
    int32_t student = 0;
    std::string marker;
    bool operator==(const Allocation&) const = default;
};

// A marker as `marker list` shows it.
struct MarkerListing {
    MarkerRecord marker;
    bool hasPassword = false;
};

// One file of a stored package, as its header line announced it.
struct StoredFile {
    std::string name;
    char kind = 'A'; // package letter: 'A', 'B' or 'F'
    int32_t tabWidth = 8;
    int64_t offset = 0; // where its content starts in the package
    int64_t length = 0;
};

// Wherever the store names an entry (`entry` below), it is the entry's id (EntryDefinition::id):
// the protocol's entry position is mapped to it through the course as it is now.
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
// NoVersion: a restore named a version the submission's history does not hold.
enum class SaveOutcome {
    Saved,
    NoSubmission,
    Superseded,
    Stale,
    WrongFileCount,
    NoVersion,
    Failed
};

// A staff restore: the marking of `version` saved again as a new version by `markerId`, based
// on the version the marker saw like a save.
struct MarkingRestore {
    int32_t serial = 0;
    int64_t version = 0;
    int64_t baseVersion = 0;
    std::string markerId;
};

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

// The entry of an audit row about the whole course (a marker, the class list, a password).
inline constexpr int32_t kWholeCourse = -1;

// Who made a change, for its audit row; none (the command line) writes no row.
using Actor = std::optional<std::string_view>;

// One change: of a mark ("mark"; "remark" once the entry's marks are released, so that the
// students who saw the old one can be told), of an entry's release ("release", "unrelease"), of
// a student's deadline ("extend", "unextend"), of who marks whose work ("allocate",
// "unallocate"), of the staff ("add-marker", "remove-marker", "marker-password"), of the class
// list ("import-class-list") or of a student's password ("reset-password").
struct AuditRecord {
    int64_t time = 0;
    std::string actor; // marker id
    std::string action;
    int32_t course = 0;
    int32_t entry = 0;
    std::optional<int32_t> serial;
    std::optional<int32_t> oldMark;
    std::optional<int32_t> newMark;
    std::optional<int32_t> student; // whose work or deadline it changed
    std::optional<int64_t> version; // the marking version a change produced
    // What the change is about: a student's number or a marker's id. Written as the student's
    // number when left out.
    std::optional<std::string> subject;
};

struct ExamFile {
    std::string name; // relative to the student's exam folder; may hold '/'
    std::string bytes;
};

// What a course load may do with stored entries the new definition no longer has: one holding
// submissions is kept only when asked to archive it (hidden from students, its work kept).
struct CourseLoadOptions {
    bool archiveRemoved = false;
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

    // Courses (StoreCourses.cpp). PutCourse adds or replaces one and replaces its exam files
    // with `examFiles` (entry position, files); the definition must be consistent. Entries are
    // matched with the stored ones by key: a matched entry keeps its id, and so its
    // submissions, markings, extensions and release, whatever its new position. Whether marks
    // are released is never changed by a load (a new entry takes the file's value); where the
    // file differs, and for every entry archived or removed, a line goes to `notes`. An entry
    // that is gone from the file and holds submissions is refused unless archived (options).
    bool PutCourse(const CourseDefinition& course,
                   const std::vector<std::pair<int32_t, std::vector<ExamFile>>>& examFiles = {},
                   std::string* error = nullptr, const CourseLoadOptions& options = {},
                   std::vector<std::string>* notes = nullptr);
    // The course with its entries in Course List order (archived ones left out).
    std::optional<CourseDefinition> FindCourse(int32_t number) const;
    std::vector<CourseDefinition> Courses() const; // by course number
    std::vector<EntryDefinition> ArchivedEntries(int32_t course) const;
    // The entry of that id while it is in the course (not archived), without the rest of the
    // course: what a request about one submission needs.
    std::optional<EntryDefinition> FindEntry(int32_t course, int32_t id) const;
    // The entry at `index` in Course List order, and a course's allowed addresses (none: no
    // such course): what a student's request about one entry needs.
    std::optional<EntryDefinition> EntryAt(int32_t course, int32_t index) const;
    std::optional<std::vector<std::string>> CourseAllowList(int32_t course) const;
    // Submissions stored for an entry (by id), any student.
    int64_t CountSubmissions(int32_t course, int32_t entry) const;
    // Releases or withdraws the marks of an entry (by id), audited. False when there is no such
    // entry.
    bool SetMarksReleased(int32_t course, int32_t entry, bool released, std::string_view actor);

    // Extensions (StoreCourses.cpp): one student's own deadline for an entry (by id); none
    // removes it. Audited.
    bool SetExtension(int32_t course, int32_t entry, int32_t student, std::optional<int64_t> until,
                      std::string_view actor);
    std::optional<int64_t> FindExtension(int32_t course, int32_t entry, int32_t student) const;
    // Student number -> deadline, for one entry.
    std::vector<std::pair<int32_t, int64_t>> Extensions(int32_t course, int32_t entry) const;

    // Accounts.
    RegisterOutcome RegisterStudent(const NewStudent& student);
    std::optional<StudentRecord> FindStudent(int32_t course, int32_t number) const;
    bool UpdateStudent(int32_t course, int32_t number, std::string_view newPasswordHash,
                       std::string_view name, std::string_view email);

    // Class lists (StoreClassLists.cpp). A course with a class list registers only the numbers
    // on it; one without takes any number. ReplaceClassList puts `students` in place of the
    // course's list in one transaction; none when there is no such course (or it failed).
    std::optional<ClassListChanges> ReplaceClassList(int32_t course,
                                                     const std::vector<ClassListEntry>& students,
                                                     Actor actor = std::nullopt);
    std::vector<ClassListEntry> ClassList(int32_t course) const; // by number
    bool MayRegister(int32_t course, int32_t number) const;
    // The class list and the registered students together, by number.
    std::vector<CourseStudent> CourseStudents(int32_t course) const;
    std::vector<EntrySubmissions> SubmissionCounts(int32_t course) const; // by student, entry
    // Replaces a registered student's password hash (as the client sends it); false when the
    // student is not registered. Audited as "reset-password" when there is an actor.
    bool SetStudentPasswordHash(int32_t course, int32_t number, std::string_view hash,
                                Actor actor = std::nullopt);

    // Staff (StoreStaff.cpp). AddMarker replaces a marker with the same id, its admin flag and
    // courses included, and keeps its password unless given a new hash. With an actor, the
    // changes below are audited in each course the marker marks, about the marker.
    bool AddMarker(const MarkerRecord& marker, Actor actor = std::nullopt,
                   std::optional<std::string_view> passwordHash = std::nullopt);
    std::optional<MarkerRecord> FindMarker(std::string_view id) const;
    // `hash` is a crypt(3) string; false when there is no such marker.
    bool SetMarkerPassword(std::string_view id, std::string_view hash, Actor actor = std::nullopt);
    // The stored hash: empty when the marker has no password; none when there is no marker.
    std::optional<std::string> MarkerPasswordHash(std::string_view id) const;
    std::vector<MarkerListing> ListMarkers() const; // by id
    // Deletes the marker and its courses; marks and the audit keep its id as history. False when
    // there is no such marker. Its staff sessions end with it: every request looks it up.
    bool RemoveMarker(std::string_view id, Actor actor = std::nullopt);
    std::vector<AuditRecord> Audit(std::optional<int32_t> course = std::nullopt) const;
    // The course's `count` newest audit rows, newest first.
    std::vector<AuditRecord> NewestAudit(int32_t course, int32_t count) const;

    // Allocations (StoreAllocations.cpp) of an entry (by id), audited as "allocate" and
    // "unallocate". SetAllocation gives a student's work to `marker`, or none takes it back;
    // false when the marker does not exist. AllocateEvenly gives every student with a
    // submission and no allocation to `markers` in turn, by student number, in one transaction.
    bool SetAllocation(int32_t course, int32_t entry, int32_t student,
                       const std::optional<std::string>& marker, std::string_view actor);
    bool AllocateEvenly(int32_t course, int32_t entry, const std::vector<std::string>& markers,
                        std::string_view actor);
    std::vector<Allocation> Allocations(int32_t course, int32_t entry) const; // by student

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
    // `saved`, when given, gets the record written (its time and version) once it is Saved.
    SaveOutcome SaveMarking(const MarkingSave& save, MarkRecord* saved = nullptr);
    // The history: every saved marking is kept as a version, a restore saves one again.
    // MarkingVersions lists a submission's versions newest first (their markup left out).
    std::vector<MarkRecord> MarkingVersions(int32_t serial) const;
    // None when the submission has no such version.
    std::optional<StoredMarking> FindMarkingVersion(int32_t serial, int64_t version) const;
    SaveOutcome RestoreMarking(const MarkingRestore& restore);
    std::vector<EntryCounts> CountEntries(int32_t course) const; // entries with submissions
    std::vector<StudentLatest> LatestPerStudent(int32_t course, int32_t entry) const;

    // Exam question files of one entry (replacing earlier ones), in the order they are sent.
    bool SetExamFiles(int32_t course, int32_t entry, const std::vector<ExamFile>& files);
    std::vector<ExamFile> ExamFiles(int32_t course, int32_t entry) const;
    int32_t CountExamFiles(int32_t course, int32_t entry) const; // without reading their bytes

    const std::filesystem::path& file() const { return file_; }
    const std::filesystem::path& packageFolder() const;
    // Submissions that Open removed: the machine stopped after their rows were committed but
    // before their packages were on the disk, so their uploads were never acknowledged.
    const std::vector<int32_t>& removedAtOpen() const { return removedAtOpen_; }
    // What migrating an older database at Open did that staff should be told.
    const std::vector<std::string>& migrationNotes() const { return migrationNotes_; }

private:
    Store(std::filesystem::path file, std::unique_ptr<ConnectionPool> pool,
          std::unique_ptr<PackageFiles> packages);
    // The one entry of `course` that `condition` (SQL after the course's, ?2 = `number`) picks.
    std::optional<EntryDefinition> OneEntry(int32_t course, int32_t number,
                                            const char* condition) const;

    std::filesystem::path file_;
    std::unique_ptr<ConnectionPool> pool_;
    std::unique_ptr<PackageFiles> packages_;
    std::unique_ptr<SubmissionCommitter> committer_;
    std::vector<int32_t> removedAtOpen_;
    std::vector<std::string> migrationNotes_;
};

} // namespace tallyport::server
