// Commits uploads in groups. Each upload's package is written and flushed by its own thread;
// then the rows, the renames, one flush of the package folder and one commit (one flush of the
// write-ahead log) serve every upload that finished while the previous group was being flushed.
// The folder and the log are flushed at the same time. The first caller to find no group in
// progress leads the next one; the others wait for it. Nobody is told a serial before both
// flushes of its group have finished, so "acknowledged" still means "on the disk": the package
// was flushed before its rename, and the rename and the row are both flushed before the answer.
// A crash between the two flushes can leave rows whose package is missing: the group records
// its serials (UnsyncedPackages.h) and the store removes those rows when next opened. Used by
// StoreSubmissions.cpp only.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tallyport::server {

class ConnectionPool;
class FolderFlusher;
class PackageFiles;
struct NewSubmission;

class SubmissionCommitter {
public:
    SubmissionCommitter(ConnectionPool& pool, PackageFiles& packages);
    ~SubmissionCommitter();

    // Adds the submission whose package has been flushed to `incoming`; its serial once committed,
    // or none (its row rolled back; the incoming file may then be left for the caller to remove).
    std::optional<int32_t> Commit(const NewSubmission& submission,
                                  const std::filesystem::path& incoming);

private:
    struct Pending {
        const NewSubmission& submission;
        const std::filesystem::path& incoming;
        std::optional<int32_t> serial;
        bool done = false;
    };

    void CommitGroup(const std::vector<Pending*>& group);

    ConnectionPool& pool_;
    PackageFiles& packages_;
    std::unique_ptr<FolderFlusher> flusher_; // none when the folder is not flushed
    std::mutex mutex_;
    std::condition_variable finished_;
    std::vector<Pending*> waiting_; // not yet in a group
    bool leading_ = false;          // a group is being committed
};

} // namespace tallyport::server
