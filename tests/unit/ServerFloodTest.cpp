// The real program under connection floods, with the open-file limit of a small service: idle
// connections by the thousand, from one address or spread over many, must not keep other
// students out, cost memory without bound, or lose an upload.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"

#include "support/LoopbackFlood.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>

#include <regex>
#include <set>

namespace tallyport::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr rlim_t kServerFiles = 256;
constexpr int kFloodConnections = 1000;
constexpr int kFirstBytesSeconds = 4;
constexpr int kIdleSeconds = 20;
constexpr int kUploadEntry = 2; // open, any .c/.h/.txt/.dat files
// A generous bound on a loaded machine, not a benchmark (AddressSanitizer slows every step).
constexpr auto kAnswered = kSanitized ? 2s : 1s;

// The number in the first line of `log` that matches `pattern` (with one group of digits).
int64_t Counted(const std::string& log, const std::string& pattern) {
    std::smatch match;
    if (!std::regex_search(log, match, std::regex(pattern)))
        return -1;
    return std::stoll(match[1]);
}

struct SentUpload {
    std::string package;
    std::optional<StatusCode> status;
    int32_t serial = 0;
};

class ServerFlood : public ::testing::Test {
protected:
    void SetUp() override {
        // This process holds the flood: a thousand sockets and more.
        if (!RaiseOwnFileLimit(2048))
            GTEST_SKIP() << "the hard open-file limit is too low for a flood of "
                         << kFloodConnections;

        ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "f.db"}).exitCode, 0);
        if (kSanitized) {
            // AddressSanitizer holds freed memory in a quarantine of up to 256 MiB by default,
            // and the flood's thousands of short sessions pass through it: a small quarantine
            // keeps the peak about what the server holds, not what it has freed.
            const char* options = std::getenv("ASAN_OPTIONS");
            const std::string small = std::string(options ? options : "") +
                                      (options && *options ? ":" : "") + "quarantine_size_mb=8";
            ::setenv("ASAN_OPTIONS", small.c_str(), 1);
        }
        server.emplace(dir.path(),
                       std::vector<std::string>{"serve", "--db", "f.db", "--listen", "127.0.0.9:0",
                                                "--staff-listen", "127.0.0.9:0", "--sync", "normal",
                                                "--first-bytes-timeout",
                                                std::to_string(kFirstBytesSeconds),
                                                "--idle-timeout", std::to_string(kIdleSeconds)},
                       kServerFiles);
        ASSERT_TRUE(server->WaitForError("serving")) << server->error();
        endpoint = {"127.0.0.9", ServedPort(server->error(), "127.0.0.9")};
        ASSERT_NE(endpoint.port, 0) << server->error();
        // The hard limit is all there is: the start message says what the server works with.
        EXPECT_NE(server->error().find("open files 256 (the hard limit)"), std::string::npos)
            << server->error();
        // Every worker thread serves a few requests first, so that what they set up once is
        // counted before the measurement starts.
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(ExchangeFrom(Loopback(2), endpoint, CourseListRequest()).status, 0);
        memoryBefore = StatusKilobytes(server->pid(), "VmHWM");
        ASSERT_GT(memoryBefore, 0);
    }

    // A course list from `source`, answered in full within kAnswered.
    void ExpectCourseListAnswered(const std::string& source) {
        const auto start = Clock::now();
        const auto answer = ExchangeFrom(source, endpoint, CourseListRequest());
        const auto took = Clock::now() - start;
        EXPECT_EQ(answer.status, 0) << "course list from " << source;
        EXPECT_GT(answer.reply.size(), 8u) << "course list from " << source;
        EXPECT_LT(took, kAnswered) << "course list from " << source << " took "
                                   << std::chrono::duration<double>(took).count() << " s";
    }

    // `count` uploads at once, one from each address from `firstSource` on, each a package of its
    // own; what each got back.
    std::vector<SentUpload> UploadAtOnce(int firstSource, int count) {
        std::vector<SentUpload> uploads(static_cast<std::size_t>(count));
        std::vector<std::thread> threads;
        for (int i = 0; i < count; ++i) {
            uploads[i].package =
                PackageOf({{"u" + std::to_string(i) + ".c", 'F', 4,
                            "int main(void) { return " + std::to_string(i) + "; }\r\n"}});
            threads.emplace_back([this, i, firstSource, &uploads] {
                const auto answer =
                    ExchangeFrom(Loopback(firstSource + i), endpoint,
                                 Upload(3101, 123456, "demo123", kUploadEntry, uploads[i].package));
                uploads[i].status = answer.status;
                if (answer.status == 0 && answer.reply.size() >= 4)
                    uploads[i].serial = wire::DecodeInt(std::span(answer.reply).first<4>());
            });
        }
        for (auto& thread : threads)
            thread.join();
        return uploads;
    }

    // Stops the server (so its log is complete) and checks that every acknowledged upload is
    // stored byte for byte.
    void StopAndExpectStored(const std::vector<SentUpload>& uploads) {
        server->Signal(SIGTERM);
        ASSERT_EQ(server->Wait(), 0) << server->error();
        std::string error;
        auto store = server::Store::Open(dir.path() / "f.db", error);
        ASSERT_TRUE(store) << error;
        std::set<int32_t> serials;
        for (const auto& upload : uploads) {
            ASSERT_EQ(upload.status, 0) << "an honest upload was refused or cut off";
            EXPECT_TRUE(serials.insert(upload.serial).second) << "serial " << upload.serial;
            EXPECT_EQ(store->PackageBytes(upload.serial), upload.package)
                << "serial " << upload.serial;
        }
    }

    void ExpectMemoryBounded() {
        // Held connections cost a socket and a session each, and their number is bounded by the
        // cap and by the files: the peak stays within a few MiB of where it was, however many
        // connections the flood opens. (AddressSanitizer adds its quarantine, set small above,
        // and the shadow of what the flood touches.)
        constexpr int64_t kBoundKilobytes = kSanitized ? 64 * 1024 : 8 * 1024;
        const int64_t after = StatusKilobytes(server->pid(), "VmHWM");
        EXPECT_LT(after - memoryBefore, kBoundKilobytes)
            << "peak resident set grew from " << memoryBefore << " kB to " << after << " kB";
        RecordProperty("VmHWMGrowthKilobytes", std::to_string(after - memoryBefore));
    }

    TempDir dir;
    std::optional<ServerProcess> server;
    Endpoint endpoint;
    int64_t memoryBefore = 0;
};

// An honest client on a slow line: the preamble and length at once, then the body in pieces a
// second apart, so that the whole request takes longer than the first-bytes deadline but never
// stalls for the idle timeout. It must be answered.
RawAnswer SlowUpload(const Endpoint& endpoint, const std::string& source) {
    const int fd = ConnectFrom(source, endpoint);
    if (fd < 0)
        return {};
    const int32_t seed = 99;
    const auto request = Upload(3101, 123456, "demo123", kUploadEntry,
                                PackageOf({{"slow.c", 'F', 4, "int slow;\r\n"}}));
    const auto bytes = wire::EncodeRequest(source, seed, request.bytes());
    const std::size_t header = bytes.size() - std::size_t(request.length());
    const std::size_t pieces = kFirstBytesSeconds + 2;
    const std::size_t piece = (std::size_t(request.length()) + pieces - 1) / pieces;
    bool sent = SendAll(fd, std::span(bytes).first(header));
    for (std::size_t at = header; sent && at < bytes.size(); at += piece) {
        std::this_thread::sleep_for(1s);
        sent = SendAll(fd, std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));
    }
    const auto received = sent ? ReceiveUntilClosed(fd) : std::string();
    ::close(fd);
    return ReadAnswer(received, seed);
}

TEST_F(ServerFlood, OneAddressHoldingAThousandIdleConnectionsShutsNobodyOut) {
    Flood flood(endpoint, {Loopback(1)}, kFloodConnections);
    ASSERT_EQ(flood.failedAtStart(), 0);

    // 127.0.0.1 holds its cap: a further connection from it is closed without its request being
    // read, even a complete one.
    const auto overCap = ExchangeFrom(Loopback(1), endpoint, CourseListRequest());
    EXPECT_FALSE(overCap.status) << "answered with " << *overCap.status;

    // While the flood holds: a trickler, a slow honest upload, 64 honest uploads at once, and
    // course lists from two more addresses.
    double tricklerClosedAfter = 0;
    std::thread trickler([&] {
        // The preamble of a course list, one byte a second.
        const auto request = wire::EncodeRequest(Loopback(4), 7, CourseListRequest().bytes());
        tricklerClosedAfter = SecondsUntilTricklerClosed(endpoint, Loopback(4), request);
    });
    RawAnswer slow;
    std::thread slowUpload([&] { slow = SlowUpload(endpoint, Loopback(5)); });
    auto uploads = UploadAtOnce(10, 64);
    for (int round = 0; round < 5; ++round) {
        ExpectCourseListAnswered(Loopback(2));
        ExpectCourseListAnswered(Loopback(3));
        std::this_thread::sleep_for(200ms);
    }
    trickler.join();
    slowUpload.join();

    // Closed at the first-bytes deadline (not after the idle timeout, though it kept sending).
    EXPECT_GE(tricklerClosedAfter, kFirstBytesSeconds - 0.5);
    EXPECT_LT(tricklerClosedAfter, kFirstBytesSeconds + 5.0);
    EXPECT_EQ(slow.status, 0) << "a slow upload that keeps going is served";
    EXPECT_EQ(slow.reply.size(), 4u);
    EXPECT_GT(flood.closedByServer(), kFloodConnections - 128);

    flood.Stop();
    ExpectCourseListAnswered(Loopback(1)); // the address is served again
    ExpectMemoryBounded();
    StopAndExpectStored(uploads);

    // The refusals are counted in the log once per burst, not once per connection.
    const std::string log = server->error();
    EXPECT_EQ(Occurrences(log, "peer=127.0.0.1 holds 128 connections, the most one address may"), 1)
        << log.substr(0, 4000);
    EXPECT_GE(Counted(log, R"(peer=127\.0\.0\.1 closed (\d+) connections over the cap)"),
              kFloodConnections - 128)
        << log.substr(0, 4000);
    EXPECT_NE(log.find("peer=127.0.0.4 kind=- "), std::string::npos);
    EXPECT_NE(log.find("timed out before the body length"), std::string::npos);
}

TEST_F(ServerFlood, AFloodSpreadOverThirtyTwoAddressesOutgrowingTheFilesShutsNobodyOut) {
    std::vector<std::string> sources;
    for (int i = 1; i <= 32; ++i)
        sources.push_back(Loopback(i));
    Flood flood(endpoint, sources, kFloodConnections);
    ASSERT_EQ(flood.failedAtStart(), 0);

    // More connections than the server has files: it keeps accepting, shedding the longest
    // waiting of the addresses holding the most, so honest requests get in at once.
    auto uploads = UploadAtOnce(40, 16);
    for (int round = 0; round < 5; ++round) {
        ExpectCourseListAnswered(Loopback(60));
        ExpectCourseListAnswered(Loopback(61));
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_GT(flood.closedByServer(), kFloodConnections - int(kServerFiles));

    flood.Stop();
    ExpectCourseListAnswered(Loopback(1));
    ExpectMemoryBounded();
    StopAndExpectStored(uploads);

    const std::string log = server->error();
    EXPECT_EQ(Occurrences(log, "out of open files with "), 1) << log.substr(0, 4000);
    EXPECT_GE(Counted(log, R"(out of open files: shed (\d+) connections)"),
              kFloodConnections - int(kServerFiles))
        << log.substr(0, 4000);
}

} // namespace
} // namespace tallyport::test
