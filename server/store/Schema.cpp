#include "store/Schema.h"

#include "store/Sqlite.h"

#include <iterator>

namespace tallyport::server {
namespace {

// Version 1. Serials are the submissions' row ids: AUTOINCREMENT never reuses a committed one,
// so a serial names one package for good (and they increase within every course). The package
// bytes are in the package folder beside the database (PackageFiles.h), one file per serial.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE courses (
    number       INTEGER PRIMARY KEY,
    name         TEXT NOT NULL,
    allow_list   TEXT NOT NULL DEFAULT ''
);
CREATE TABLE components (
    course       INTEGER NOT NULL REFERENCES courses(number) ON DELETE CASCADE,
    position     INTEGER NOT NULL,
    name         TEXT NOT NULL,
    elements     INTEGER NOT NULL,
    sections     INTEGER NOT NULL,
    PRIMARY KEY (course, position)
);
CREATE TABLE entries (
    course          INTEGER NOT NULL REFERENCES courses(number) ON DELETE CASCADE,
    position        INTEGER NOT NULL,
    kind            TEXT NOT NULL,
    label           TEXT NOT NULL,
    opens           INTEGER,
    deadline        INTEGER,
    marks_released  INTEGER NOT NULL DEFAULT 0,
    status_override TEXT,
    type_table      TEXT NOT NULL DEFAULT '',
    requirement     TEXT NOT NULL DEFAULT '',
    size_limited    INTEGER NOT NULL DEFAULT 0,
    max_mark        INTEGER NOT NULL DEFAULT 10,
    exam_selector   INTEGER,
    allow_list      TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (course, position)
);
CREATE TABLE exam_files (
    course       INTEGER NOT NULL,
    entry        INTEGER NOT NULL,
    position     INTEGER NOT NULL,
    name         TEXT NOT NULL,
    bytes        BLOB NOT NULL,
    PRIMARY KEY (course, entry, position),
    FOREIGN KEY (course, entry) REFERENCES entries(course, position) ON DELETE CASCADE
);
CREATE TABLE students (
    course        INTEGER NOT NULL,
    number        INTEGER NOT NULL,
    password_hash TEXT NOT NULL,
    name          TEXT NOT NULL,
    email         TEXT NOT NULL,
    questionnaire TEXT NOT NULL,
    registered    INTEGER NOT NULL,
    PRIMARY KEY (course, number)
);
CREATE TABLE markers (
    id    TEXT PRIMARY KEY,
    name  TEXT NOT NULL,
    info  TEXT NOT NULL
);
CREATE TABLE submissions (
    serial      INTEGER PRIMARY KEY AUTOINCREMENT,
    course      INTEGER NOT NULL,
    student     INTEGER NOT NULL,
    entry       INTEGER NOT NULL,
    time        INTEGER NOT NULL,
    file_count  INTEGER NOT NULL,
    bytes       INTEGER NOT NULL,
    peer        TEXT NOT NULL DEFAULT ''
);
CREATE INDEX submissions_by_student ON submissions(course, student, entry, serial);
CREATE TABLE submission_files (
    serial      INTEGER NOT NULL REFERENCES submissions(serial) ON DELETE CASCADE,
    position    INTEGER NOT NULL,
    name        TEXT NOT NULL,
    kind        TEXT NOT NULL,
    tab_width   INTEGER NOT NULL,
    offset      INTEGER NOT NULL,
    length      INTEGER NOT NULL,
    PRIMARY KEY (serial, position)
);
CREATE TABLE marks (
    serial      INTEGER PRIMARY KEY REFERENCES submissions(serial) ON DELETE CASCADE,
    mark        INTEGER NOT NULL,
    marker_id   TEXT NOT NULL,
    detail      TEXT NOT NULL,
    time        INTEGER NOT NULL
);
CREATE TABLE markup (
    serial      INTEGER NOT NULL REFERENCES submissions(serial) ON DELETE CASCADE,
    position    INTEGER NOT NULL,
    text        BLOB NOT NULL,
    PRIMARY KEY (serial, position)
);
)sql";

// Version 2: the staff side. Markers get a password hash (empty: cannot log in), an admin flag
// and the courses they mark; a marking gets a version that every save increases, so that two
// markers saving the same submission notice each other; the audit keeps every change of a mark.
constexpr const char* kVersion2 = R"sql(
ALTER TABLE markers ADD COLUMN password_hash TEXT NOT NULL DEFAULT '';
ALTER TABLE markers ADD COLUMN admin INTEGER NOT NULL DEFAULT 0;
CREATE TABLE marker_courses (
    marker      TEXT NOT NULL REFERENCES markers(id) ON DELETE CASCADE,
    course      INTEGER NOT NULL,
    PRIMARY KEY (marker, course)
);
ALTER TABLE marks ADD COLUMN version INTEGER NOT NULL DEFAULT 1;
CREATE TABLE audit (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    time        INTEGER NOT NULL,
    actor       TEXT NOT NULL,
    action      TEXT NOT NULL,
    course      INTEGER NOT NULL,
    entry       INTEGER NOT NULL,
    serial      INTEGER,
    old_mark    INTEGER,
    new_mark    INTEGER
);
CREATE INDEX audit_by_course ON audit(course, id);
)sql";

// Version 3: the serials of the last group of uploads, whose package folder is flushed while its
// rows are committed (UnsyncedPackages.h). One row at most.
constexpr const char* kVersion3 = R"sql(
CREATE TABLE unsynced_packages (
    id           INTEGER PRIMARY KEY CHECK (id = 1),
    first_serial INTEGER NOT NULL,
    last_serial  INTEGER NOT NULL
);
)sql";

// Version 4: entries keep a stable id and a key of their own, so that work stays with its entry
// when the course file is reordered; `position` is the place in the Course List (none once the
// entry is archived). Submissions, marks, audit rows and exam files name entries by id. The ids
// of existing entries are their positions, so no row that names an entry changes. Adds the
// late window and per-student extensions.
constexpr const char* kVersion4 = R"sql(
ALTER TABLE courses ADD COLUMN next_entry_id INTEGER NOT NULL DEFAULT 0;
UPDATE courses SET next_entry_id =
    (SELECT COALESCE(MAX(position) + 1, 0) FROM entries WHERE entries.course = courses.number);
CREATE TABLE entries_v4 (
    course          INTEGER NOT NULL REFERENCES courses(number) ON DELETE CASCADE,
    id              INTEGER NOT NULL,
    key             TEXT NOT NULL,
    position        INTEGER,
    kind            TEXT NOT NULL,
    label           TEXT NOT NULL,
    opens           INTEGER,
    deadline        INTEGER,
    late_until      INTEGER,
    marks_released  INTEGER NOT NULL DEFAULT 0,
    status_override TEXT,
    type_table      TEXT NOT NULL DEFAULT '',
    requirement     TEXT NOT NULL DEFAULT '',
    size_limited    INTEGER NOT NULL DEFAULT 0,
    max_mark        INTEGER NOT NULL DEFAULT 10,
    exam_selector   INTEGER,
    allow_list      TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (course, id),
    UNIQUE (course, key),
    UNIQUE (course, position)
);
INSERT INTO entries_v4 (course, id, key, position, kind, label, opens, deadline, marks_released,
                        status_override, type_table, requirement, size_limited, max_mark,
                        exam_selector, allow_list)
    SELECT course, position, '#' || position, position, kind, label, opens, deadline,
           marks_released, status_override, type_table, requirement, size_limited, max_mark,
           exam_selector, allow_list FROM entries;
CREATE TABLE exam_files_v4 (
    course       INTEGER NOT NULL,
    entry        INTEGER NOT NULL,
    position     INTEGER NOT NULL,
    name         TEXT NOT NULL,
    bytes        BLOB NOT NULL,
    PRIMARY KEY (course, entry, position),
    FOREIGN KEY (course, entry) REFERENCES entries_v4(course, id) ON DELETE CASCADE
);
INSERT INTO exam_files_v4 SELECT course, entry, position, name, bytes FROM exam_files;
DROP TABLE exam_files;
DROP TABLE entries;
ALTER TABLE entries_v4 RENAME TO entries;
ALTER TABLE exam_files_v4 RENAME TO exam_files;
ALTER TABLE audit ADD COLUMN student INTEGER;
CREATE TABLE extensions (
    course      INTEGER NOT NULL,
    entry       INTEGER NOT NULL,
    student     INTEGER NOT NULL,
    until       INTEGER NOT NULL,
    PRIMARY KEY (course, entry, student),
    FOREIGN KEY (course, entry) REFERENCES entries(course, id) ON DELETE CASCADE
);
)sql";

// Gives the entries version 4 made their keys: those a course file without keys gets
// (DefaultEntryKeys), from the entries' order today. Says so for each course in `notes`.
bool KeyMigratedEntries(sql::Connection& db, std::vector<std::string>& notes) {
    std::vector<int64_t> courses;
    {
        sql::Statement query(db, "SELECT number FROM courses ORDER BY number");
        while (query.Step())
            courses.push_back(query.Int(0));
        if (query.failed())
            return false;
    }
    for (const int64_t course : courses) {
        std::vector<ComponentDefinition> components;
        sql::Statement query(db, "SELECT name, elements, sections FROM components WHERE course = "
                                 "? ORDER BY position");
        query.Bind(1, course);
        while (query.Step())
            components.push_back({query.Text(0), int32_t(query.Int(1)), int32_t(query.Int(2))});
        const auto keys = DefaultEntryKeys(components);
        sql::Statement count(db, "SELECT COUNT(*) FROM entries WHERE course = ?");
        count.Bind(1, course);
        const int64_t entries = count.Step() ? count.Int(0) : -1;
        for (int64_t i = 0; i < entries; ++i) {
            const std::string key =
                i < int64_t(keys.size()) ? keys[std::size_t(i)] : "entry-" + std::to_string(i + 1);
            if (!sql::Statement(db, "UPDATE entries SET key = ? WHERE course = ? AND id = ?")
                     .Bind(1, key)
                     .Bind(2, course)
                     .Bind(3, i)
                     .Run())
                return false;
        }
        if (entries > 0)
            notes.push_back("course " + std::to_string(course) + ": its " +
                            std::to_string(entries) +
                            " entries are now keyed by their order of today (" +
                            (keys.empty() ? std::string("entry-1") : keys.front()) +
                            ", ...); `course show --toml` writes the course file "
                            "with these keys");
    }
    return true;
}

// Version 5: the history of markings. Every save is kept as a version with its markup, so that
// a marking one marker overwrites can still be read and restored; a "mark" audit row names the
// version it produced (none on rows written before versions were kept). The markings stored
// before become the versions they carry.
constexpr const char* kVersion5 = R"sql(
CREATE TABLE marking_versions (
    serial      INTEGER NOT NULL REFERENCES submissions(serial) ON DELETE CASCADE,
    version     INTEGER NOT NULL,
    mark        INTEGER NOT NULL,
    marker_id   TEXT NOT NULL,
    detail      TEXT NOT NULL,
    time        INTEGER NOT NULL,
    PRIMARY KEY (serial, version)
);
CREATE TABLE markup_versions (
    serial      INTEGER NOT NULL,
    version     INTEGER NOT NULL,
    position    INTEGER NOT NULL,
    text        BLOB NOT NULL,
    PRIMARY KEY (serial, version, position),
    FOREIGN KEY (serial, version) REFERENCES marking_versions(serial, version) ON DELETE CASCADE
);
INSERT INTO marking_versions (serial, version, mark, marker_id, detail, time)
    SELECT serial, version, mark, marker_id, detail, time FROM marks;
INSERT INTO markup_versions (serial, version, position, text)
    SELECT u.serial, m.version, u.position, u.text FROM markup u JOIN marks m ON m.serial = u.serial;
ALTER TABLE audit ADD COLUMN version INTEGER;
)sql";

// Version 6: class lists. A course with rows here takes registrations only of the numbers on it
// (normalised like the students table's); names and e-mail addresses are UTF-8 as imported. No
// foreign key: `course load` replaces the course's row, and its class list must stay.
constexpr const char* kVersion6 = R"sql(
CREATE TABLE class_lists (
    course  INTEGER NOT NULL,
    number  INTEGER NOT NULL,
    name    TEXT NOT NULL,
    email   TEXT NOT NULL,
    PRIMARY KEY (course, number)
);
)sql";

// Version 7: which marker is to mark which student's work for an entry (by id). A removed
// marker's allocations go with it, so their students show as unallocated again.
constexpr const char* kVersion7 = R"sql(
CREATE TABLE allocations (
    course  INTEGER NOT NULL,
    entry   INTEGER NOT NULL,
    student INTEGER NOT NULL,
    marker  TEXT NOT NULL REFERENCES markers(id) ON DELETE CASCADE,
    PRIMARY KEY (course, entry, student)
);
)sql";

// Version 8: what an audit row is about, a student's number or a marker's id, so that changes of
// the staff and the class list are audited beside those of students' work. Rows from before name
// their student.
constexpr const char* kVersion8 = R"sql(
ALTER TABLE audit ADD COLUMN subject TEXT;
UPDATE audit SET subject = CAST(student AS TEXT) WHERE student IS NOT NULL;
)sql";

int UserVersion(sql::Connection& connection) {
    sql::Statement query(connection, "PRAGMA user_version");
    return query.Step() ? int(query.Int(0)) : -1;
}

} // namespace

bool ConfigureConnection(sql::Connection& connection, Durability durability, std::string& error) {
    // FULL: every commit is on disk before the serial it produced is sent, so neither a killed
    // process nor a power cut loses an acknowledged submission. NORMAL with WAL still keeps
    // every commit through a killed process.
    // Checkpoints run on the store's own thread (Store.cpp), never inside a request's commit.
    const char* pragmas =
        durability == Durability::Full
            ? "PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON; PRAGMA wal_autocheckpoint = 0;"
            : "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON; PRAGMA wal_autocheckpoint = "
              "0;";
    if (!connection.Execute(pragmas)) {
        error = connection.LastError();
        return false;
    }
    return true;
}

bool PrepareDatabase(sql::Connection& connection, Durability durability, std::string& error,
                     std::vector<std::string>* notes) {
    {
        sql::Statement wal(connection, "PRAGMA journal_mode = WAL");
        if (!wal.Step() || wal.Text(0) != "wal") {
            error = "the database cannot use write-ahead logging: " + connection.LastError();
            return false;
        }
    }
    if (!ConfigureConnection(connection, durability, error))
        return false;
    sql::Transaction transaction(connection);
    if (!transaction.begun()) {
        error = connection.LastError();
        return false;
    }
    const int version = UserVersion(connection);
    if (version < 0) {
        error = connection.LastError();
        return false;
    }
    if (version > kSchemaVersion) {
        error = "the database was made by a newer server (schema version " +
                std::to_string(version) + ")";
        return false;
    }
    // Each step in turn from the database's version; version 4 also keys the entries it kept.
    const char* const steps[] = {kVersion1, kVersion2, kVersion3, kVersion4,
                                 kVersion5, kVersion6, kVersion7, kVersion8};
    static_assert(std::size(steps) == kSchemaVersion);
    std::vector<std::string> migrationNotes;
    for (int step = version + 1; step <= kSchemaVersion; ++step) {
        if (!connection.Execute(steps[step - 1]) ||
            (step == 4 && !KeyMigratedEntries(connection, migrationNotes))) {
            error = (step == 1 ? std::string("cannot create the schema: ")
                               : "cannot bring the schema to version " + std::to_string(step) +
                                     ": ") +
                    connection.LastError();
            return false;
        }
    }
    if (version < kSchemaVersion &&
        !connection.Execute("PRAGMA user_version = " + std::to_string(kSchemaVersion))) {
        error = connection.LastError();
        return false;
    }
    if (!transaction.Commit()) {
        error = connection.LastError();
        return false;
    }
    if (notes && version > 0)
        *notes = std::move(migrationNotes);
    return true;
}

} // namespace tallyport::server
