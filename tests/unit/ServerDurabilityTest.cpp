// A serial the server has sent is never lost: the real program is killed (SIGKILL) in the middle
// of a burst of uploads, and every acknowledged serial must be in the database afterwards with
// its exact package, and nothing half-stored; the program then starts again on the database as
// the kill left it and goes on from there. Likewise a marking saved through the staff API is
// the old one or the new one after a kill, never a mix.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"

#include "store/Sqlite.h"
#include "student/PackageParser.h"
#include "support/HttpClient.h"
#include "support/TempDir.h"
#include "web/MarkingJson.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>

namespace tallyport::test {
namespace {

TEST(ServerDurability, KilledDuringABurstOfUploadsLosesNoAcknowledgedSerialAndRestarts) {
    TempDir dir;
    ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "k.db"}).exitCode, 0);
    ServerProcess server(dir.path(), {"serve", "--db", "k.db", "--listen", "127.0.0.6:0",
                                      "--staff-listen", "127.0.0.6:0"});
    ASSERT_TRUE(server.WaitForError("serving")) << server.error();
    const Endpoint endpoint{"127.0.0.6", ServedPort(server.error(), "127.0.0.6")};
    ASSERT_NE(endpoint.port, 0) << server.error();

    std::mutex mutex;
    std::vector<std::pair<int32_t, std::string>> acknowledged;
    std::atomic<bool> stop = false;
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; !stop; ++i) {
                const std::string package =
                    PackageOf({{"c" + std::to_string(c) + "-" + std::to_string(i) + ".txt", 'A', 8,
                                std::string(20000 + 97 * i, char('a' + c))}});
                auto result = Exchange(endpoint, Upload(3101, 123456, "demo123", 2, package));
                if (result.status == 0 && result.reply) {
                    std::lock_guard lock(mutex);
                    acknowledged.emplace_back(result.reply->ReadInt(), package);
                }
            }
        });
    // Kill it once a good number of uploads has been acknowledged, with more in flight.
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (acknowledged.size() >= 60)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server.Signal(SIGKILL);
    EXPECT_EQ(server.Wait(), 128 + SIGKILL);
    stop = true;
    for (auto& thread : clients)
        thread.join();

    // The kill leaves the write-ahead log beside the database; the server restarts on it as it is.
    std::error_code noWal;
    EXPECT_GT(std::filesystem::file_size(dir.path() / "k.db-wal", noWal), 0u) << noWal.message();
    int32_t newest = 0;
    for (const auto& [serial, package] : acknowledged)
        newest = std::max(newest, serial);
    {
        ServerProcess again(dir.path(), {"serve", "--db", "k.db", "--listen", "127.0.0.6:0",
                                         "--staff-listen", "127.0.0.6:0"});
        ASSERT_TRUE(again.WaitForError("serving")) << again.error();
        const Endpoint restarted{"127.0.0.6", ServedPort(again.error(), "127.0.0.6")};
        auto list = Exchange(restarted, CourseListRequest());
        ASSERT_EQ(list.status, 0);
        ASSERT_TRUE(list.reply);
        EXPECT_EQ(list.reply->ReadInt(), 2) << "the demo's two courses";
        const std::string package = PackageOf({{"after.txt", 'A', 8, "after the restart"}});
        auto upload = Exchange(restarted, Upload(3101, 123456, "demo123", 2, package));
        ASSERT_EQ(upload.status, 0);
        ASSERT_TRUE(upload.reply);
        const int32_t serial = upload.reply->ReadInt();
        EXPECT_GT(serial, newest) << "a serial is never given twice";
        acknowledged.emplace_back(serial, package);
        again.Signal(SIGTERM);
        EXPECT_EQ(again.Wait(), 0) << again.error();
    }

    // Staff see every acknowledged submission in the list.
    const auto listed = RunServerCommand(dir.path(), {"submissions", "--db", "k.db"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    std::set<int32_t> serials;
    std::istringstream lines(listed.out);
    std::string line;
    std::getline(lines, line); // the heading
    while (std::getline(lines, line))
        serials.insert(std::stoi(line));
    for (const auto& [serial, package] : acknowledged)
        EXPECT_TRUE(serials.contains(serial)) << "serial " << serial << " is not listed";

    std::string error;
    auto store = server::Store::Open(dir.path() / "k.db", error);
    ASSERT_TRUE(store) << error;
    for (const auto& [serial, package] : acknowledged)
        EXPECT_EQ(store->PackageBytes(serial), package) << "serial " << serial;
    const auto stored = store->ListSubmissions({3101, 123456});
    EXPECT_GE(stored.size(), acknowledged.size() + 3) << "the demo's three and every acknowledged";
    for (const auto& info : stored) {
        const auto bytes = store->PackageBytes(info.serial);
        ASSERT_TRUE(bytes);
        const auto parsed = server::ParsePackage(*bytes);
        ASSERT_TRUE(parsed) << "serial " << info.serial << " is only partly stored";
        EXPECT_EQ(int32_t(parsed->files.size()), info.files);
    }
}

// Many small uploads at once keep the committer busy, so that each commit holds the rows of
// several uploads and a kill nearly always lands while one group is being flushed and the next
// is gathering. Three kills and restarts on the same database: after each, every acknowledged
// serial is there with its bytes, every stored submission is whole, and a package file without
// a row can only be one that a later serial will replace.
TEST(ServerDurability, KilledWhileUploadsAreCommittedInGroupsLosesNothingAcknowledged) {
    TempDir dir;
    ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "g.db"}).exitCode, 0);
    std::vector<std::pair<int32_t, std::string>> acknowledged;
    for (int round = 0; round < 3; ++round) {
        ServerProcess server(dir.path(), {"serve", "--db", "g.db", "--listen", "127.0.0.6:0",
                                          "--staff-listen", "127.0.0.6:0"});
        ASSERT_TRUE(server.WaitForError("serving")) << server.error();
        const Endpoint endpoint{"127.0.0.6", ServedPort(server.error(), "127.0.0.6")};
        ASSERT_NE(endpoint.port, 0) << server.error();
        const std::size_t before = acknowledged.size();
        std::mutex mutex;
        std::atomic<bool> stop = false;
        std::vector<std::thread> clients;
        for (int c = 0; c < 24; ++c)
            clients.emplace_back([&, c] {
                for (int i = 0; !stop; ++i) {
                    const std::string name =
                        std::to_string(round) + "-" + std::to_string(c) + "-" + std::to_string(i);
                    const std::string package = PackageOf(
                        {{name + ".txt", 'A', 8, std::string(300 + 7 * c + i, char('a' + c))},
                         {name + ".c", 'F', 4, name}});
                    auto result = Exchange(endpoint, Upload(3101, 123456, "demo123", 2, package));
                    if (result.status == 0 && result.reply) {
                        std::lock_guard lock(mutex);
                        acknowledged.emplace_back(result.reply->ReadInt(), package);
                    }
                }
            });
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (acknowledged.size() >= before + 80)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        server.Signal(SIGKILL);
        EXPECT_EQ(server.Wait(), 128 + SIGKILL);
        stop = true;
        for (auto& thread : clients)
            thread.join();

        std::string error;
        auto store = server::Store::Open(dir.path() / "g.db", error);
        ASSERT_TRUE(store) << error;
        std::set<int32_t> seen;
        for (const auto& [serial, package] : acknowledged) {
            EXPECT_TRUE(seen.insert(serial).second) << "serial " << serial << " given twice";
            EXPECT_EQ(store->PackageBytes(serial), package)
                << "round " << round << ", serial " << serial;
        }
        std::set<int32_t> rows;
        for (const auto& info : store->ListSubmissions()) {
            rows.insert(info.serial);
            const auto bytes = store->PackageBytes(info.serial);
            ASSERT_TRUE(bytes) << "serial " << info.serial << " has no package";
            const auto parsed = server::ParsePackage(*bytes);
            ASSERT_TRUE(parsed) << "serial " << info.serial << " is only partly stored";
            EXPECT_EQ(int32_t(parsed->files.size()), info.files);
            EXPECT_EQ(store->SubmissionFiles(info.serial).size(), parsed->files.size());
        }
        ASSERT_FALSE(rows.empty());
        for (const auto& entry : std::filesystem::directory_iterator(store->packageFolder())) {
            if (entry.path().extension() != ".pkg")
                continue;
            const int32_t serial = std::stoi(entry.path().stem().string());
            EXPECT_TRUE(rows.contains(serial) || serial > *rows.rbegin())
                << entry.path() << " has no row and no later serial will replace it";
        }
    }
}

TEST(ServerDurability, KilledDuringStaffSavesKeepsEachMarkingWhole) {
    TempDir dir;
    ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "m.db"}).exitCode, 0);
    ServerProcess server(dir.path(), {"serve", "--db", "m.db", "--listen", "127.0.0.6:0",
                                      "--staff-listen", "127.0.0.6:0"});
    ASSERT_TRUE(server.WaitForError("staff API at ")) << server.error();
    const std::string log = server.error();
    const std::string staffAt = "staff API at http://127.0.0.6:";
    const auto at = log.find(staffAt);
    ASSERT_NE(at, std::string::npos) << log;
    const auto port = uint16_t(std::stoi(log.substr(at + staffAt.size())));
    ASSERT_NE(port, 0) << server.error();

    HttpClient client("127.0.0.6", port);
    const auto login = client.Post("/api/login", R"({"id": "tjones", "password": "marking-demo-123"})",
                                   "application/json");
    ASSERT_TRUE(login && login->status == 200);
    const std::string cookie = login->get_header_value("Set-Cookie");
    const server::staff::HttpHeaders headers = {
        {"Cookie", cookie.substr(0, cookie.find(';'))},
        {"X-CSRF-Token", nlohmann::json::parse(login->body)["csrfToken"].get<std::string>()}};

    // Save after save, each with a mark, detail and comment that name its version, until killed.
    std::atomic<int64_t> acknowledged = 1; // the demo's marking of serial 1
    std::thread saver([&] {
        for (int64_t version = 1;; ++version) {
            const std::string tag = "v" + std::to_string(version + 1);
            const nlohmann::json marking = {
                {"version", version},
                {"mark", (version + 1) % 11},
                {"detail", tag},
                {"files",
                 {{{"name", "hello.c"},
                   {"annotations",
                    {{{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", tag + "\n" + tag}}}}}}}};
            const auto reply = client.Put("/api/submissions/1/marking", headers, marking.dump(),
                                          "application/json");
            if (!reply || reply->status != 200)
                return;
            acknowledged = version + 1;
        }
    });
    while (acknowledged < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server.Signal(SIGKILL);
    EXPECT_EQ(server.Wait(), 128 + SIGKILL);
    saver.join();

    std::string error;
    auto store = server::Store::Open(dir.path() / "m.db", error);
    ASSERT_TRUE(store) << error;
    const auto marking = store->FindMarking(1);
    ASSERT_TRUE(marking && marking->mark);
    const int64_t version = marking->mark->version;
    EXPECT_GE(version, acknowledged.load());     // nothing acknowledged is lost
    EXPECT_LE(version, acknowledged.load() + 1); // at most the save in flight
    const std::string tag = "v" + std::to_string(version);
    EXPECT_EQ(marking->mark->mark, version % 11);
    EXPECT_EQ(marking->mark->detail, tag);
    ASSERT_EQ(marking->markup.size(), 1u);
    const auto annotations = server::staff::AnnotationsJson(marking->markup[0]);
    ASSERT_EQ(annotations.size(), 1u);
    EXPECT_EQ(annotations[0]["text"], tag + "\n" + tag);
    // One audit line per saved version.
    int saves = 0;
    for (const auto& line : store->Audit(3101))
        saves += line.serial == 1 ? 1 : 0;
    EXPECT_EQ(saves, version);
}

// A group's package folder and its rows are flushed at the same time. Should the machine stop
// between the two, rows can be on the disk whose package is not: the restarted program removes
// the rows of that last group whose package is missing (nobody was told their serials) and says
// so, and keeps everything else, a package lost outside the group included. A killed process
// cannot make this state (its renames are in the page cache), so the test makes it by hand.
TEST(ServerDurability, RowsWhosePackageTheMachineLostAreRemovedOnRestart) {
    TempDir dir;
    ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "m.db"}).exitCode, 0);
    std::vector<std::pair<int32_t, std::string>> uploaded;
    {
        ServerProcess server(dir.path(), {"serve", "--db", "m.db", "--listen", "127.0.0.6:0",
                                          "--staff-listen", "127.0.0.6:0"});
        ASSERT_TRUE(server.WaitForError("serving")) << server.error();
        const Endpoint endpoint{"127.0.0.6", ServedPort(server.error(), "127.0.0.6")};
        for (const char* text : {"first", "second", "third"}) {
            const std::string package = PackageOf({{"m.txt", 'A', 8, text}});
            auto upload = Exchange(endpoint, Upload(3101, 123456, "demo123", 2, package));
            ASSERT_EQ(upload.status, 0);
            ASSERT_TRUE(upload.reply);
            uploaded.emplace_back(upload.reply->ReadInt(), package);
        }
        server.Signal(SIGKILL);
        EXPECT_EQ(server.Wait(), 128 + SIGKILL);
    }
    const int32_t first = uploaded[0].first, second = uploaded[1].first, third = uploaded[2].first;
    // The last group held the second and third upload; the machine kept the second's rename and
    // lost the third's. The first upload's package is lost too, long after its group finished.
    {
        std::string error;
        auto connection = server::sql::Connection::Open(dir.path() / "m.db", error);
        ASSERT_TRUE(connection) << error;
        ASSERT_TRUE(connection->Execute(
            "UPDATE unsynced_packages SET first_serial = " + std::to_string(second) +
            ", last_serial = " + std::to_string(third)));
        ASSERT_EQ(connection->Changes(), 1) << "the last group is recorded";
    }
    const auto folder = dir.path() / "m.db.packages";
    char name[32];
    for (const int32_t serial : {first, third}) {
        std::snprintf(name, sizeof name, "%06d.pkg", serial);
        ASSERT_TRUE(std::filesystem::remove(folder / name));
    }

    ServerProcess again(dir.path(), {"serve", "--db", "m.db", "--listen", "127.0.0.6:0",
                                     "--staff-listen", "127.0.0.6:0"});
    ASSERT_TRUE(again.WaitForError("serving")) << again.error();
    const std::string log = again.error();
    EXPECT_NE(log.find("removed submission " + std::to_string(third) +
                       ": its package was not "
                       "on the disk when the machine stopped (its upload was never acknowledged)"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("removed submission " + std::to_string(first)), std::string::npos) << log;
    EXPECT_EQ(log.find("removed submission " + std::to_string(second)), std::string::npos) << log;
    const Endpoint restarted{"127.0.0.6", ServedPort(log, "127.0.0.6")};
    const std::string package = PackageOf({{"m.txt", 'A', 8, "fourth"}});
    auto upload = Exchange(restarted, Upload(3101, 123456, "demo123", 2, package));
    ASSERT_EQ(upload.status, 0);
    ASSERT_TRUE(upload.reply);
    EXPECT_GT(upload.reply->ReadInt(), third) << "a removed serial is never given again";
    again.Signal(SIGTERM);
    EXPECT_EQ(again.Wait(), 0) << again.error();

    std::string error;
    auto store = server::Store::Open(dir.path() / "m.db", error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(store->removedAtOpen().empty()) << "the group is forgotten once checked";
    EXPECT_FALSE(store->FindSubmission(third));
    EXPECT_TRUE(store->SubmissionFiles(third).empty());
    EXPECT_EQ(store->PackageBytes(second), uploaded[1].second);
    EXPECT_TRUE(store->FindSubmission(first)) << "a package lost outside the group stays listed";
    EXPECT_FALSE(store->PackageBytes(first));
}

} // namespace
} // namespace tallyport::test
