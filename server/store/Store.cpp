// Store: opening the database and its package folder.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/PackageFiles.h"
#include "store/Schema.h"
#include "store/SubmissionCommitter.h"
#include "store/UnsyncedPackages.h"

#include <fcntl.h>
#include <unistd.h>

namespace tallyport::server {

int32_t NormaliseStudentNumber(int32_t number) {
    return number >= 0 && number < 1000000 ? number + 100000000 : number;
}

std::unique_ptr<Store> Store::Open(const std::filesystem::path& file, std::string& error,
                                   Durability durability) {
    // The database holds password hashes: a new one is readable by its owner only (SQLite
    // gives its journal files the same mode). An existing file keeps the mode staff gave it.
    if (const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); fd >= 0)
        ::close(fd);
    auto first = sql::Connection::Open(file, error);
    if (!first)
        return nullptr;
    std::vector<std::string> notes;
    if (!PrepareDatabase(*first, durability, error, &notes))
        return nullptr;
    auto packages =
        std::make_unique<PackageFiles>(file.string() + ".packages", durability == Durability::Full);
    if (!packages->Prepare(error))
        return nullptr;
    auto removed = RemoveUnsyncedSubmissions(*first, *packages, error);
    if (!removed)
        return nullptr;
    auto pool = std::make_unique<ConnectionPool>(file, durability);
    pool->Watch(*first);
    pool->Return(std::move(first));
    auto store = std::unique_ptr<Store>(new Store(file, std::move(pool), std::move(packages)));
    store->removedAtOpen_ = std::move(*removed);
    store->migrationNotes_ = std::move(notes);
    return store;
}

Store::Store(std::filesystem::path file, std::unique_ptr<ConnectionPool> pool,
             std::unique_ptr<PackageFiles> packages)
    : file_(std::move(file)), pool_(std::move(pool)), packages_(std::move(packages)),
      committer_(std::make_unique<SubmissionCommitter>(*pool_, *packages_)) {}

const std::filesystem::path& Store::packageFolder() const {
    return packages_->folder();
}

Store::~Store() = default;

} // namespace tallyport::server
