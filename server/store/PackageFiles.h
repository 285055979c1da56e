// Where submitted packages live: one file per serial in a folder beside the database
// ("course.db.packages/000123.pkg"). The database holds everything else; a package is written,
// flushed and renamed into place before the row that names it is committed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::server {

class PackageFiles {
public:
    // `sync`: flush every file and the folder to the disk before a submission is committed.
    PackageFiles(std::filesystem::path folder, bool sync);

    // Creates the folder (and removes incoming files that a crash left behind long ago).
    bool Prepare(std::string& error);

    // Writes bytes to a fresh incoming file; its path, or none.
    std::optional<std::filesystem::path> WriteIncoming(std::string_view bytes);
    // Renames an incoming file to the package of `serial` (replacing a leftover of a serial whose
    // transaction never committed). Not on the disk until SyncFolder: one flush serves every
    // package renamed before it.
    bool Install(const std::filesystem::path& incoming, int64_t serial);
    bool SyncFolder() const;
    bool syncs() const { return sync_; } // false: SyncFolder has nothing to do
    std::optional<std::string> Read(int64_t serial) const;

    std::filesystem::path PathOf(int64_t serial) const;
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    bool sync_;
};

// The whole file, or none when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

} // namespace tallyport::server
