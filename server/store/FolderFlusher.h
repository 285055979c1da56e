// A thread that flushes the package folder when asked, so that the flush runs beside the commit
// of the same group without starting a thread for every group. Used by SubmissionCommitter.cpp.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tallyport::server {

class PackageFiles;

class FolderFlusher {
public:
    explicit FolderFlusher(const PackageFiles& packages);
    ~FolderFlusher();
    FolderFlusher(const FolderFlusher&) = delete;
    FolderFlusher& operator=(const FolderFlusher&) = delete;

    void Start();  // begins one flush (one at a time: Finish before the next Start)
    bool Finish(); // waits for it; whether it succeeded

private:
    void Run();

    const PackageFiles& packages_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool done_ = false;
    bool result_ = false;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace tallyport::server
