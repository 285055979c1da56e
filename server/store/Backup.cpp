#include "store/Backup.h"

#include "store/PackageFiles.h"
#include "store/Sqlite.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

namespace tallyport::server {
namespace {

namespace fs = std::filesystem;

// Pages copied per step: the source's read snapshot is held across steps, so the size only sets
// how often the copy checks for a busy destination, not how long a writer waits.
constexpr int kPagesPerStep = 1024;

fs::path PackageFolderOf(const fs::path& db) {
    return db.string() + ".packages";
}

std::string Reason(const std::string& what, const fs::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

bool SyncPath(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// mkdir with 0700 from the start (umask can only take bits away), so the folder is never
// readable by others, not even for a moment. An existing folder must be empty.
bool MakePrivateFolder(const fs::path& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST) {
        error = Reason("cannot create", folder);
        return false;
    }
    std::error_code code;
    if (!fs::is_directory(folder, code) || !fs::is_empty(folder, code) || code) {
        error = folder.string() + " exists and is not an empty folder";
        return false;
    }
    if (::chmod(folder.c_str(), 0700) != 0) {
        error = Reason("cannot make private", folder);
        return false;
    }
    return true;
}

// A fresh file of the owner only (0600), holding `from`'s bytes, flushed to the disk.
bool CopyPrivateFile(const fs::path& from, const fs::path& to, std::string& error) {
    const auto bytes = ReadWholeFile(from);
    if (!bytes) {
        error = Reason("cannot read", from);
        return false;
    }
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = Reason("cannot create", to);
        return false;
    }
    std::string_view rest = *bytes;
    bool ok = true;
    while (ok && !rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            rest.remove_prefix(std::size_t(n));
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        error = Reason("cannot write", to);
    return ok;
}

enum class Placed { Done, Missing, Failed };

// A stored package is never rewritten (a serial's file is only ever renamed into place once), so
// a hard link is as good as a copy and costs no space. Only a file that is already the owner's
// alone is linked (a link shares the mode); anything else, or another file system, is copied.
Placed LinkOrCopy(const fs::path& from, const fs::path& to, std::string& error) {
    struct stat info {};
    if (::stat(from.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return Placed::Missing;
        error = Reason("cannot read", from);
        return Placed::Failed;
    }
    if ((info.st_mode & 07777) == 0600) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (SyncPath(to))
                return Placed::Done;
            error = Reason("cannot flush", to);
            return Placed::Failed;
        }
        if (errno == ENOENT)
            return Placed::Missing; // removed between the stat and the link
    }
    std::error_code code;
    if (!fs::exists(from, code) && !code)
        return Placed::Missing;
    return CopyPrivateFile(from, to, error) ? Placed::Done : Placed::Failed;
}

// Copies every page of `from` into `to` under one read transaction of `from`: the snapshot stays
// the one the transaction began with however much a server writes meanwhile (in WAL mode the
// writers do not wait for it), and the copy never has to start over.
bool CopyDatabase(sql::Connection& from, sql::Connection& to, std::string& error) {
    sql::Transaction snapshot(from, false);
    sql::Statement begin(from, "SELECT count(*) FROM sqlite_master"); // the read starts here
    if (!snapshot.begun() || !begin.Step()) {
        error = "cannot read the database: " + from.LastError();
        return false;
    }
    sqlite3_backup* backup = sqlite3_backup_init(to.handle(), "main", from.handle(), "main");
    if (!backup) {
        error = "cannot start the copy: " + to.LastError();
        return false;
    }
    int rc = SQLITE_OK;
    do {
        rc = sqlite3_backup_step(backup, kPagesPerStep);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    const int finished = sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE || finished != SQLITE_OK) {
        error =
            std::string("the copy failed: ") + sqlite3_errstr(rc == SQLITE_DONE ? finished : rc);
        return false;
    }
    return true;
}

struct Serials {
    std::vector<int64_t> all;
    std::optional<std::pair<int64_t, int64_t>> unsyncedGroup;
};

std::optional<Serials> ReadSerials(sql::Connection& db) {
    Serials serials;
    sql::Statement rows(db, "SELECT serial FROM submissions ORDER BY serial");
    while (rows.Step())
        serials.all.push_back(rows.Int(0));
    sql::Statement group(db, "SELECT first_serial, last_serial FROM unsynced_packages");
    if (group.Step())
        serials.unsyncedGroup.emplace(group.Int(0), group.Int(1));
    if (rows.failed() || group.failed())
        return std::nullopt;
    return serials;
}

// Rows the copy cannot keep: see BackupStore.
bool DropSubmissions(sql::Connection& db, const std::vector<int64_t>& dropped) {
    sql::Transaction transaction(db);
    bool ok = transaction.begun() && db.Execute("PRAGMA foreign_keys = ON");
    sql::Statement remove(db, "DELETE FROM submissions WHERE serial = ?");
    for (const int64_t serial : dropped)
        ok = ok && remove.Reset().Bind(1, serial).Run();
    return ok && db.Execute("DELETE FROM unsynced_packages") && transaction.Commit();
}

std::string Joined(const std::vector<std::string>& problems) {
    std::string text;
    for (const auto& problem : problems)
        text += (text.empty() ? "" : "; ") + problem;
    return text;
}

// Puts the package of every submission named by `copy` into its package folder (created 0700).
bool PlacePackages(const fs::path& fromFolder, const fs::path& copy,
                   const std::vector<int64_t>& serials, std::vector<int64_t>& missing,
                   std::string& error) {
    const fs::path toFolder = PackageFolderOf(copy);
    if (::mkdir(toFolder.c_str(), 0700) != 0) {
        error = Reason("cannot create", toFolder);
        return false;
    }
    const PackageFiles from(fromFolder, false), to(toFolder, false);
    for (const int64_t serial : serials) {
        switch (LinkOrCopy(from.PathOf(serial), to.PathOf(serial), error)) {
        case Placed::Done:
            break;
        case Placed::Missing:
            missing.push_back(serial);
            break;
        case Placed::Failed:
            return false;
        }
    }
    if (!SyncPath(toFolder)) {
        error = Reason("cannot flush", toFolder);
        return false;
    }
    return true;
}

} // namespace

fs::path BackupDatabase(const fs::path& folder) {
    return folder / "store.db";
}

namespace {

// Fills the fresh, empty `folder`; see BackupStore.
bool WriteBackup(const fs::path& db, const fs::path& folder, std::string& error) {
    const fs::path copy = BackupDatabase(folder);
    {
        // SQLite creates the database's journal and log files with the database file's mode.
        const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::close(fd) != 0) {
            error = Reason("cannot create", copy);
            return false;
        }
        auto source = sql::Connection::Open(db, error);
        auto target = source ? sql::Connection::Open(copy, error) : nullptr;
        if (!target || !CopyDatabase(*source, *target, error))
            return false;
    }
    auto target = sql::Connection::Open(copy, error);
    const auto serials = target ? ReadSerials(*target) : std::nullopt;
    if (!serials) {
        error = "cannot read the copy: " + (target ? target->LastError() : error);
        return false;
    }
    std::vector<int64_t> missing;
    if (!PlacePackages(PackageFolderOf(db), copy, serials->all, missing, error))
        return false;
    // The unsynced group (UnsyncedPackages.h) is the one place where a committed row may have no
    // package for a reason other than damage: its folder flush may still be running, or may have
    // failed and be withdrawing the group. Its packages were renamed into place before its rows
    // were committed, so one that is there now has been linked or copied (and flushed) like any
    // other. One that is missing belongs to an upload that was never acknowledged: the copy drops
    // its row, as opening the store after a crash would. Every package of the copy is on the disk
    // now, so the copy keeps no unsynced group of its own. (Should the group be withdrawn after
    // its packages were linked, the copy keeps them: at worst an extra submission whose client
    // was told it failed, never a lost one.) A package missing outside the group is a real loss
    // and fails the backup.
    std::vector<int64_t> dropped;
    for (const int64_t serial : missing) {
        const auto& group = serials->unsyncedGroup;
        if (!group || serial < group->first || serial > group->second) {
            error = "submission " + std::to_string(serial) + " has no package file in " +
                    PackageFolderOf(db).string();
            return false;
        }
        dropped.push_back(serial);
    }
    if (!DropSubmissions(*target, dropped)) {
        error = "cannot update the copy: " + target->LastError();
        return false;
    }
    target.reset(); // closing checkpoints the copy's log into the one file and removes the log
    if (!SyncPath(folder)) {
        error = Reason("cannot flush", folder);
        return false;
    }
    if (const auto problems = VerifyStoreCopy(copy); !problems.empty()) {
        error = "the backup failed verification: " + Joined(problems);
        return false;
    }
    return true;
}

} // namespace

bool BackupStore(const fs::path& db, const fs::path& folder, std::string& error) {
    std::error_code code;
    if (!fs::is_regular_file(db, code)) {
        error = "no database at " + db.string();
        return false;
    }
    if (!MakePrivateFolder(folder, error))
        return false;
    if (WriteBackup(db, folder, error))
        return true;
    // The folder was empty: what is in it now is this attempt's, and a backup that failed must
    // never be taken for one that worked (nor keep the next attempt out).
    for (const auto& entry : fs::directory_iterator(folder, code))
        fs::remove_all(entry.path(), code);
    return false;
}

std::vector<std::string> VerifyStoreCopy(const fs::path& db) {
    std::error_code code;
    if (!fs::is_regular_file(db, code))
        return {"no database at " + db.string()};
    std::string error;
    auto connection = sql::Connection::Open(db, error);
    if (!connection)
        return {"cannot open " + db.string() + ": " + error};
    std::vector<std::string> problems;
    {
        sql::Statement check(*connection, "PRAGMA integrity_check");
        std::vector<std::string> lines;
        while (check.Step())
            lines.push_back(check.Text(0));
        if (check.failed())
            return {"the integrity check could not run: " + connection->LastError()};
        if (lines != std::vector<std::string>{"ok"})
            for (const auto& line : lines)
                problems.push_back("integrity check: " + line);
    }
    const PackageFiles packages(PackageFolderOf(db), false);
    sql::Statement rows(*connection, "SELECT serial, bytes FROM submissions ORDER BY serial");
    while (rows.Step()) {
        const int64_t serial = rows.Int(0);
        const uint64_t bytes = uint64_t(rows.Int(1));
        const fs::path path = packages.PathOf(serial);
        const auto size = fs::file_size(path, code);
        if (code)
            problems.push_back("submission " + std::to_string(serial) + ": package " +
                               path.string() + " is missing");
        else if (size != bytes)
            problems.push_back("submission " + std::to_string(serial) + ": package " +
                               path.string() + " has " + std::to_string(size) +
                               " bytes, its row says " + std::to_string(bytes));
    }
    if (rows.failed())
        problems.push_back("cannot list the submissions: " + connection->LastError());
    return problems;
}

bool RestoreStore(const fs::path& folder, const fs::path& db, bool force, std::string& error) {
    const fs::path backup = BackupDatabase(folder);
    if (const auto problems = VerifyStoreCopy(backup); !problems.empty()) {
        error = "the backup in " + folder.string() + " failed verification: " + Joined(problems);
        return false;
    }
    std::error_code code;
    const fs::path packages = PackageFolderOf(db);
    const bool present = fs::exists(db, code) || fs::exists(packages, code);
    if (present && !force) {
        error = db.string() + " or its package folder exists (--force replaces them)";
        return false;
    }
    // A log beside the database means a server (or a command) has it open, or one was killed
    // and its last commits are only in the log: either way, replacing the file now loses them.
    if (fs::exists(db.string() + "-wal", code)) {
        error = db.string() + " is in use or was not closed (its -wal file is there): stop the "
                              "server first";
        return false;
    }

    // Copied and checked under temporary names first: nothing at `db` changes until the copy
    // is whole.
    const fs::path temporary = db.string() + ".restoring";
    auto discardTemporary = [&temporary] {
        std::error_code ignored;
        fs::remove_all(PackageFolderOf(temporary), ignored);
        fs::remove(temporary, ignored);
    };
    discardTemporary(); // left by a restore that was stopped
    const auto serials = [&]() -> std::optional<Serials> {
        auto connection = sql::Connection::Open(backup, error);
        return connection ? ReadSerials(*connection) : std::nullopt;
    }();
    std::vector<int64_t> missing;
    if (!serials || !CopyPrivateFile(backup, temporary, error) ||
        !PlacePackages(PackageFolderOf(backup), temporary, serials->all, missing, error)) {
        discardTemporary();
        return false;
    }
    if (const auto problems = VerifyStoreCopy(temporary); !problems.empty() || !missing.empty()) {
        error = "the restored copy failed verification: " + Joined(problems);
        discardTemporary();
        return false;
    }

    // The old pair is moved aside whole, the new package folder goes in, and the database is
    // renamed into place last: at no moment does `db` name a database beside another one's
    // packages. After a crash in between, the old pair is still at ".before-restore".
    const fs::path aside = db.string() + ".before-restore";
    fs::remove_all(PackageFolderOf(aside), code);
    fs::remove(aside, code);
    fs::remove(db.string() + "-shm", code);
    auto move = [&error](const fs::path& from, const fs::path& to) {
        std::error_code ignored;
        if (!fs::exists(from, ignored) || ::rename(from.c_str(), to.c_str()) == 0)
            return true;
        error = Reason("cannot rename " + from.string() + " to", to);
        return false;
    };
    if (!move(db, aside) || !move(packages, PackageFolderOf(aside)) ||
        !move(PackageFolderOf(temporary), packages) || !move(temporary, db))
        return false;
    const fs::path parent = db.has_parent_path() ? db.parent_path() : fs::path(".");
    if (!SyncPath(parent)) {
        error = Reason("cannot flush", parent);
        return false;
    }
    fs::remove_all(PackageFolderOf(aside), code);
    fs::remove(aside, code);
    return true;
}

} // namespace tallyport::server
