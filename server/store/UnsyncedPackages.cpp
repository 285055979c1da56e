#include "store/UnsyncedPackages.h"

#include "store/PackageFiles.h"

#include <filesystem>

namespace tallyport::server {

bool RecordUnsyncedGroup(sql::Connection& db, int64_t first, int64_t last) {
    return sql::Statement(db, "INSERT OR REPLACE INTO unsynced_packages VALUES (1, ?, ?)")
        .Bind(1, first)
        .Bind(2, last)
        .Run();
}

void WithdrawGroup(sql::Connection& db, PackageFiles& packages, int64_t first, int64_t last) {
    sql::Transaction transaction(db);
    if (!transaction.begun() ||
        !sql::Statement(db, "DELETE FROM submissions WHERE serial BETWEEN ? AND ?")
             .Bind(1, first)
             .Bind(2, last)
             .Run() ||
        !db.Execute("DELETE FROM unsynced_packages") || !transaction.Commit())
        return;
    // The rows are gone, so nothing names these files any more.
    for (int64_t serial = first; serial <= last; ++serial) {
        std::error_code ignored;
        std::filesystem::remove(packages.PathOf(serial), ignored);
    }
}

std::optional<std::vector<int32_t>> RemoveUnsyncedSubmissions(sql::Connection& db,
                                                              PackageFiles& packages,
                                                              std::string& error) {
    sql::Transaction transaction(db);
    if (!transaction.begun()) {
        error = db.LastError();
        return std::nullopt;
    }
    std::vector<int32_t> removed;
    int64_t first = 0, last = 0;
    {
        sql::Statement group(db, "SELECT first_serial, last_serial FROM unsynced_packages");
        if (!group.Step()) {
            if (group.failed()) {
                error = db.LastError();
                return std::nullopt;
            }
            return removed; // no upload since the store was last opened
        }
        first = group.Int(0);
        last = group.Int(1);
    }
    // A killed process leaves its renames in the page cache: flushed now, the packages that are
    // there stay there, and only those that a crash of the machine lost are missing.
    if (!packages.SyncFolder()) {
        error = "cannot flush the package folder " + packages.folder().string();
        return std::nullopt;
    }
    sql::Statement rows(db, "SELECT serial FROM submissions WHERE serial BETWEEN ? AND ?");
    rows.Bind(1, first).Bind(2, last);
    while (rows.Step()) {
        std::error_code code;
        const int64_t serial = rows.Int(0);
        if (!std::filesystem::exists(packages.PathOf(serial), code) && !code)
            removed.push_back(int32_t(serial));
    }
    sql::Statement remove(db, "DELETE FROM submissions WHERE serial = ?");
    for (const int32_t serial : removed) {
        if (!remove.Reset().Bind(1, serial).Run()) {
            error = db.LastError();
            return std::nullopt;
        }
    }
    if (rows.failed() || !db.Execute("DELETE FROM unsynced_packages") || !transaction.Commit()) {
        error = db.LastError();
        return std::nullopt;
    }
    return removed;
}

} // namespace tallyport::server
