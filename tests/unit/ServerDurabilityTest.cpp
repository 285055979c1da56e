// A serial the server has sent is never lost: the real program is killed (SIGKILL) in the middle
// of a burst of uploads, and every acknowledged serial must be in the database afterwards with
// its exact package, and nothing half-stored.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"

#include "PackageParser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace tallyport::test {
namespace {

TEST(ServerDurability, KilledDuringABurstOfUploadsLosesNoAcknowledgedSerial) {
    TempDir dir;
    ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "k.db"}).exitCode, 0);
    ServerProcess server(dir.path(), {"serve", "--db", "k.db", "--listen", "127.0.0.6:0"});
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

} // namespace
} // namespace tallyport::test
