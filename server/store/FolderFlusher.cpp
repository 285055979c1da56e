#include "store/FolderFlusher.h"

#include "store/PackageFiles.h"

namespace tallyport::server {

FolderFlusher::FolderFlusher(const PackageFiles& packages)
    : packages_(packages), thread_([this] { Run(); }) {}

FolderFlusher::~FolderFlusher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FolderFlusher::Start() {
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
        done_ = false;
    }
    changed_.notify_all();
}

bool FolderFlusher::Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
    return result_;
}

void FolderFlusher::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return requested_ || stop_; });
        if (stop_)
            return;
        requested_ = false;
        lock.unlock();
        const bool synced = packages_.SyncFolder();
        lock.lock();
        result_ = synced;
        done_ = true;
        changed_.notify_all();
    }
}

} // namespace tallyport::server
