// Backups of a store taken while a real server takes uploads and markings are saved, put back
// with restore and opened as a store; their private modes; verification that names what is
// damaged; and what a copy does with submissions whose package may not be durable yet.
#include "ServerTestHelpers.h"

#include "course/Demo.h"
#include "store/Backup.h"
#include "store/PackageFiles.h"
#include "store/Sqlite.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

namespace tallyport::test {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::unique_ptr<server::Store> DemoStore(const fs::path& db) {
    std::string error;
    auto store = server::Store::Open(db, error);
    EXPECT_TRUE(store) << error;
    if (store) {
        EXPECT_TRUE(server::LoadDemo(*store, error)) << error;
    }
    return store;
}

TEST(Backup, TakenWhileServingHoldsEveryEarlierUploadAndRestoresAsAStore) {
    TempDir dir;
    InProcessServer server(dir.path(), "127.0.0.22");
    server.LoadDemo();
    const Endpoint endpoint = server.endpoint();

    std::mutex mutex;
    std::vector<std::pair<int32_t, std::string>> acknowledged;
    std::atomic<bool> stop = false;
    std::atomic<int> saved = 0;
    std::vector<std::thread> threads;
    for (int c = 0; c < 3; ++c)
        threads.emplace_back([&, c] {
            for (int i = 0; !stop; ++i) {
                const std::string package =
                    PackageOf({{"b" + std::to_string(c) + "-" + std::to_string(i) + ".txt", 'A', 8,
                                std::string(5000 + 31 * i, char('a' + c))}});
                auto result = Exchange(endpoint, Upload(server::kDemoCourse, 123456,
                                                        server::kDemoPassword, 2, package));
                if (result.status == 0 && result.reply) {
                    std::lock_guard lock(mutex);
                    acknowledged.emplace_back(result.reply->ReadInt(), package);
                }
            }
        });
    // Submission 1 (entry 0, one file) is marked over and over by the staff's path.
    threads.emplace_back([&] {
        for (int mark = 0; !stop; ++mark) {
            const auto marking = server.store().FindMarking(1);
            const int64_t version = marking && marking->mark ? marking->mark->version : 0;
            const auto outcome = server.store().SaveMarking(
                {1, version, mark % 11, std::string(server::kDemoMarker), "again", {""}});
            if (outcome == server::SaveOutcome::Saved)
                ++saved;
        }
    });
    auto acknowledgedSoFar = [&] {
        std::lock_guard lock(mutex);
        return acknowledged;
    };
    while (acknowledgedSoFar().size() < 20 || saved < 5)
        std::this_thread::yield();

    const auto before = acknowledgedSoFar();
    std::string error;
    const bool backedUp = server::BackupStore(server.store().file(), dir.path() / "bk", error);
    stop = true;
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(backedUp) << error;

    EXPECT_EQ(ModeOf(dir.path() / "bk"), 0700u);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "bk"))
        EXPECT_EQ(ModeOf(entry.path()), entry.is_directory() ? 0700u : 0600u) << entry.path();

    const fs::path restored = dir.path() / "restored" / "course.db";
    fs::create_directory(restored.parent_path());
    ASSERT_TRUE(server::RestoreStore(dir.path() / "bk", restored, false, error)) << error;
    EXPECT_EQ(server::VerifyStoreCopy(restored), std::vector<std::string>{});
    auto store = server::Store::Open(restored, error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->removedAtOpen(), std::vector<int32_t>{});
    for (const auto& [serial, package] : before)
        EXPECT_EQ(store->PackageBytes(serial), package) << "serial " << serial;
    const auto marking = store->FindMarking(1);
    ASSERT_TRUE(marking && marking->mark);
    EXPECT_GT(marking->mark->version, 1) << "the saves made before the backup are in it";
    EXPECT_GE(store->ListSubmissions().size(), before.size() + 3) << "the demo's three too";
}

// Each case damages a fresh backup of the demo; verification, and so restore, must name it.
TEST(Backup, VerificationNamesWhatIsDamaged) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& backupDb)> damage;
        const char* expected; // in the first problem
    };
    const server::PackageFiles packages("store.db.packages", false);
    const Case cases[] = {
        {"a missing package",
         [&](const fs::path& db) { fs::remove(db.parent_path() / packages.PathOf(2)); },
         "submission 2: package"},
        {"a truncated package",
         [&](const fs::path& db) { fs::resize_file(db.parent_path() / packages.PathOf(3), 10); },
         "submission 3: package"},
        {"a damaged page of the database",
         [](const fs::path& db) {
             std::fstream file(db, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(4096 * 3); // the page after the schema's first tables
             file << std::string(4096, '\x5a');
         },
         "integrity check"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        DemoStore(dir.path() / "d.db");
        std::string error;
        ASSERT_TRUE(server::BackupStore(dir.path() / "d.db", dir.path() / "bk", error)) << error;
        const fs::path backupDb = server::BackupDatabase(dir.path() / "bk");
        ASSERT_EQ(server::VerifyStoreCopy(backupDb), std::vector<std::string>{});
        c.damage(backupDb);
        const auto problems = server::VerifyStoreCopy(backupDb);
        ASSERT_FALSE(problems.empty());
        EXPECT_NE(problems.front().find(c.expected), std::string::npos) << problems.front();
        EXPECT_FALSE(server::RestoreStore(dir.path() / "bk", dir.path() / "r.db", false, error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(dir.path() / "r.db"));
    }
}

// The copy follows the unsynced group's rule: a row of the group without its package was never
// acknowledged and is left out; a row outside it without its package is a loss and fails the
// backup, which leaves nothing behind.
TEST(Backup, AMissingPackageIsDroppedOnlyInsideTheUnsyncedGroup) {
    for (const bool insideGroup : {true, false}) {
        SCOPED_TRACE(insideGroup ? "inside the group" : "outside the group");
        TempDir dir;
        const fs::path db = dir.path() / "d.db";
        DemoStore(db).reset();
        {
            std::string error;
            auto connection = server::sql::Connection::Open(db, error);
            ASSERT_TRUE(connection) << error;
            ASSERT_TRUE(
                connection->Execute("INSERT OR REPLACE INTO unsynced_packages VALUES (1, 2, 2)"));
        }
        const server::PackageFiles packages(db.string() + ".packages", false);
        fs::remove(packages.PathOf(insideGroup ? 2 : 3));
        std::string error;
        const bool ok = server::BackupStore(db, dir.path() / "bk", error);
        if (!insideGroup) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find("submission 3"), std::string::npos) << error;
            EXPECT_TRUE(fs::is_empty(dir.path() / "bk")) << "no half backup is left";
            continue;
        }
        ASSERT_TRUE(ok) << error;
        auto copy = server::Store::Open(server::BackupDatabase(dir.path() / "bk"), error);
        ASSERT_TRUE(copy) << error;
        EXPECT_EQ(copy->removedAtOpen(), std::vector<int32_t>{}) << "the copy keeps no group";
        EXPECT_FALSE(copy->FindSubmission(2));
        EXPECT_TRUE(copy->FindSubmission(1));
        EXPECT_TRUE(copy->FindSubmission(3));
    }
}

TEST(Backup, RefusesABusyFolderAndRestoreRefusesToReplaceUnlessForcedAndNeverWhileServed) {
    TempDir dir;
    InProcessServer server(dir.path(), "127.0.0.22");
    server.LoadDemo();
    const fs::path live = server.store().file();
    std::string error;

    fs::create_directory(dir.path() / "full");
    std::ofstream(dir.path() / "full" / "keep") << "x";
    EXPECT_FALSE(server::BackupStore(live, dir.path() / "full", error));
    EXPECT_NE(error.find("not an empty folder"), std::string::npos) << error;

    ASSERT_TRUE(server::BackupStore(live, dir.path() / "bk", error)) << error;
    EXPECT_FALSE(server::RestoreStore(dir.path() / "bk", live, true, error))
        << "the served database has its log open";
    EXPECT_NE(error.find("stop the server"), std::string::npos) << error;

    // Another database, stopped: refused without --force, replaced whole with it.
    const fs::path other = dir.path() / "other.db";
    {
        auto store = server::Store::Open(other, error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->AddMarker({"only-here", "Only Here", "TA", false, {}}));
    }
    EXPECT_FALSE(server::RestoreStore(dir.path() / "bk", other, false, error));
    EXPECT_NE(error.find("--force"), std::string::npos) << error;
    ASSERT_TRUE(server::RestoreStore(dir.path() / "bk", other, true, error)) << error;
    auto store = server::Store::Open(other, error);
    ASSERT_TRUE(store) << error;
    EXPECT_FALSE(store->FindMarker("only-here"));
    EXPECT_TRUE(store->FindMarker(server::kDemoMarker));
    EXPECT_EQ(store->ListSubmissions().size(), 3u);
    EXPECT_EQ(store->PackageBytes(2), server.store().PackageBytes(2));
}

} // namespace
} // namespace tallyport::test
