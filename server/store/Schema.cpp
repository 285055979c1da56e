#include "store/Schema.h"

#include "store/Sqlite.h"

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

bool PrepareDatabase(sql::Connection& connection, Durability durability, std::string& error) {
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
    if (version < 1 && !connection.Execute(kVersion1)) {
        error = "cannot create the schema: " + connection.LastError();
        return false;
    }
    if (version < 2 && !connection.Execute(kVersion2)) {
        error = "cannot bring the schema to version 2: " + connection.LastError();
        return false;
    }
    if (version < 3 && !connection.Execute(kVersion3)) {
        error = "cannot bring the schema to version 3: " + connection.LastError();
        return false;
    }
    if (version < 6 && !connection.Execute(kVersion6)) {
        error = "cannot bring the schema to version 6: " + connection.LastError();
        return false;
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
    return true;
}

} // namespace tallyport::server
