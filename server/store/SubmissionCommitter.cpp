#include "store/SubmissionCommitter.h"

#include "store/ConnectionPool.h"
#include "store/FolderFlusher.h"
#include "store/PackageFiles.h"
#include "store/Store.h"
#include "store/UnsyncedPackages.h"

#include <utility>

namespace tallyport::server {
namespace {

// Makes the next serial come after `serial` (SQLite's AUTOINCREMENT counter).
bool PassOver(sql::Connection& db, int64_t serial) {
    sql::Statement raise(db, "UPDATE sqlite_sequence SET seq = MAX(seq, ?) WHERE name = "
                             "'submissions'");
    if (!raise.Bind(1, serial).Run())
        return false;
    return db.Changes() > 0 ||
           sql::Statement(db, "INSERT INTO sqlite_sequence (name, seq) VALUES ('submissions', ?)")
               .Bind(1, serial)
               .Run();
}

// One submission's rows and the rename of its package, inside the group's transaction; a
// failure undoes this submission's rows only (a package file renamed for a serial whose row
// never commits is replaced by the next one given that serial). When the rename itself fails,
// something other than a package stands where the file would go: that serial is passed over for
// good (`passedOver`), or every later upload would be given it and fail the same way.
std::optional<int32_t> AddOne(sql::Connection& db, PackageFiles& packages,
                              const NewSubmission& submission,
                              const std::filesystem::path& incoming, bool& passedOver) {
    if (!db.Execute("SAVEPOINT upload"))
        return std::nullopt;
    struct UndoUnlessKept {
        sql::Connection& db;
        bool keep = false;
        bool finished = false;
        void Finish() {
            if (!std::exchange(finished, true))
                db.Execute(keep ? "RELEASE upload" : "ROLLBACK TO upload; RELEASE upload");
        }
        ~UndoUnlessKept() { Finish(); }
    } undo{db};
    const bool inserted =
        sql::Statement(db, "INSERT INTO submissions (course, student, entry, time, file_count, "
                           "bytes, peer) VALUES (?, ?, ?, ?, ?, ?, ?)")
            .Bind(1, submission.course)
            .Bind(2, NormaliseStudentNumber(submission.student))
            .Bind(3, submission.entry)
            .Bind(4, submission.time)
            .Bind(5, int64_t(submission.files.size()))
            .Bind(6, int64_t(submission.package.size()))
            .Bind(7, submission.peer)
            .Run();
    if (!inserted)
        return std::nullopt;
    const int64_t serial = db.LastInsertId();
    if (serial <= 0 || serial > INT32_MAX)
        return std::nullopt; // the reply carries a 32-bit serial
    sql::Statement file(db, "INSERT INTO submission_files VALUES (?, ?, ?, ?, ?, ?, ?)");
    for (std::size_t i = 0; i < submission.files.size(); ++i) {
        const auto& stored = submission.files[i];
        if (!file.Reset()
                 .Bind(1, serial)
                 .Bind(2, int64_t(i))
                 .Bind(3, stored.name)
                 .Bind(4, std::string_view(&stored.kind, 1))
                 .Bind(5, stored.tabWidth)
                 .Bind(6, stored.offset)
                 .Bind(7, stored.length)
                 .Run())
            return std::nullopt;
    }
    if (!packages.Install(incoming, serial)) {
        undo.Finish();
        passedOver = PassOver(db, serial) || passedOver;
        return std::nullopt;
    }
    undo.keep = true;
    return int32_t(serial);
}

} // namespace

SubmissionCommitter::SubmissionCommitter(ConnectionPool& pool, PackageFiles& packages)
    : pool_(pool), packages_(packages),
      flusher_(packages.syncs() ? std::make_unique<FolderFlusher>(packages) : nullptr) {}

SubmissionCommitter::~SubmissionCommitter() = default;

std::optional<int32_t> SubmissionCommitter::Commit(const NewSubmission& submission,
                                                   const std::filesystem::path& incoming) {
    Pending mine{submission, incoming, std::nullopt, false};
    std::unique_lock lock(mutex_);
    waiting_.push_back(&mine);
    while (!mine.done) {
        if (leading_) {
            finished_.wait(lock);
            continue;
        }
        // Lead: take every submission waiting now (this one included) as one group.
        leading_ = true;
        const std::vector<Pending*> group = std::exchange(waiting_, {});
        lock.unlock();
        // Even when the commit throws, its group is answered and the next caller may lead.
        struct Finish {
            SubmissionCommitter& committer;
            const std::vector<Pending*>& group;
            std::unique_lock<std::mutex>& lock;
            ~Finish() {
                lock.lock();
                for (Pending* pending : group)
                    pending->done = true;
                committer.leading_ = false;
                committer.finished_.notify_all();
            }
        } finish{*this, group, lock};
        CommitGroup(group);
    }
    return mine.serial;
}

void SubmissionCommitter::CommitGroup(const std::vector<Pending*>& group) {
    ConnectionPool::WriteTransaction transaction(pool_);
    if (!transaction || !transaction.begun())
        return;
    sql::Connection& db = transaction.db();
    std::vector<std::optional<int32_t>> serials;
    serials.reserve(group.size());
    int64_t first = 0, last = 0;
    bool passedOver = false;
    for (const Pending* pending : group) {
        serials.push_back(
            AddOne(db, packages_, pending->submission, pending->incoming, passedOver));
        if (serials.back()) {
            first = first == 0 ? *serials.back() : first;
            last = *serials.back();
        }
    }
    if (first == 0) {
        if (passedOver)
            transaction.Commit();
        return;
    }
    if (!RecordUnsyncedGroup(db, first, last))
        return;
    // The folder's flush (the renames) and the log's flush (the rows) go to the disk at once.
    // Should the machine stop between the two, the rows recorded above whose package is missing
    // are removed when the store is next opened; nobody was told their serials.
    if (flusher_)
        flusher_->Start();
    const bool committed = transaction.Commit();
    const bool synced = !flusher_ || flusher_->Finish();
    if (!committed)
        return;
    if (!synced) {
        WithdrawGroup(db, packages_, first, last);
        return;
    }
    for (std::size_t i = 0; i < group.size(); ++i)
        group[i]->serial = serials[i];
}

} // namespace tallyport::server
