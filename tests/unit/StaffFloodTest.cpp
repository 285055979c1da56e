// The real program's staff port under connection floods, with the open-file limit of a small
// service: idle connections there count against the same cap per address and the same budget of
// files as on the student port, so they keep neither students nor other markers out.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"

#include "support/LoopbackFlood.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace tallyport::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr rlim_t kServerFiles = 256;
constexpr int kFloodConnections = 1000;
constexpr int kFirstBytesSeconds = 3;
// A generous bound on a loaded machine, not a benchmark (AddressSanitizer slows every step, the
// login's password hash most).
constexpr auto kAnswered = kSanitized ? 2s : 1s;

std::string LoginRequest() {
    const std::string body = R"({"id": "tjones", "password": "marking-demo-123"})";
    return "POST /api/login HTTP/1.1\r\nHost: staff\r\nContent-Type: application/json\r\n"
           "Connection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A marker's login from `source`, sent at once; all the server sent before closing.
std::string StaffLoginFrom(const std::string& source, const Endpoint& staff) {
    const int fd = ConnectFrom(source, staff);
    if (fd < 0)
        return {};
    const std::string request = LoginRequest();
    std::string received;
    if (SendAll(fd, std::as_bytes(std::span(request.data(), request.size()))))
        received = ReceiveUntilClosed(fd, 10'000);
    ::close(fd);
    return received;
}

class StaffFlood : public ::testing::Test {
protected:
    void SetUp() override {
        // This process holds the flood: a thousand sockets and more.
        if (!RaiseOwnFileLimit(2048))
            GTEST_SKIP() << "the hard open-file limit is too low for a flood of "
                         << kFloodConnections;

        ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "s.db"}).exitCode, 0);
        server.emplace(dir.path(),
                       std::vector<std::string>{"serve", "--db", "s.db", "--listen", "127.0.0.8:0",
                                                "--staff-listen", "127.0.0.8:0", "--sync", "normal",
                                                "--first-bytes-timeout",
                                                std::to_string(kFirstBytesSeconds)},
                       kServerFiles);
        ASSERT_TRUE(server->WaitForError("staff API at ")) << server->error();
        const std::string log = server->error();
        students = {"127.0.0.8", ServedPort(log, "127.0.0.8")};
        const std::string staffAt = "staff API at http://127.0.0.8:";
        const auto at = log.find(staffAt);
        ASSERT_NE(at, std::string::npos) << log;
        staff = {"127.0.0.8", uint16_t(std::stoi(log.substr(at + staffAt.size())))};
        ASSERT_NE(students.port, 0) << log;
        ASSERT_NE(staff.port, 0) << log;
    }

    // A course list from `source` on the student port, and a marker's login from it on the
    // staff port, each answered in full within kAnswered.
    void ExpectBothAnswered(const std::string& source) {
        auto start = Clock::now();
        const auto answer = ExchangeFrom(source, students, CourseListRequest());
        auto took = Clock::now() - start;
        EXPECT_EQ(answer.status, 0) << "course list from " << source;
        EXPECT_LT(took, kAnswered) << "course list from " << source << " took "
                                   << std::chrono::duration<double>(took).count() << " s";
        start = Clock::now();
        const std::string login = StaffLoginFrom(source, staff);
        took = Clock::now() - start;
        EXPECT_TRUE(login.starts_with("HTTP/1.1 200")) << "login from " << source << ": " << login;
        EXPECT_NE(login.find("csrfToken"), std::string::npos) << login;
        EXPECT_LT(took, kAnswered) << "login from " << source << " took "
                                   << std::chrono::duration<double>(took).count() << " s";
    }

    TempDir dir;
    std::optional<ServerProcess> server;
    Endpoint students, staff;
};

TEST_F(StaffFlood, OneAddressHoldingAThousandIdleConnectionsShutsNobodyOut) {
    Flood flood(staff, {Loopback(1)}, kFloodConnections);
    ASSERT_EQ(flood.failedAtStart(), 0);

    // 127.0.0.1 holds its cap on the staff port: a further connection from it, on either port,
    // is closed without its request being read, even a complete one.
    EXPECT_EQ(StaffLoginFrom(Loopback(1), staff), "");
    EXPECT_FALSE(ExchangeFrom(Loopback(1), students, CourseListRequest()).status);

    double tricklerClosedAfter = 0;
    std::thread trickler(
        [&] {
            const std::string_view head = "GET /api/session HTTP/1.1\r\nHost: staff\r\n\r\n";
            tricklerClosedAfter =
                SecondsUntilTricklerClosed(staff, Loopback(4), std::as_bytes(std::span(head)));
        });
    for (int round = 0; round < 5; ++round) {
        ExpectBothAnswered(Loopback(2));
        ExpectBothAnswered(Loopback(3));
        std::this_thread::sleep_for(200ms);
    }
    trickler.join();
    // Closed at the first-bytes deadline, though it kept sending well within the read timeout.
    EXPECT_GE(tricklerClosedAfter, kFirstBytesSeconds - 0.5);
    EXPECT_LT(tricklerClosedAfter, kFirstBytesSeconds + 3.0);
    // The idle ones are closed at the same deadline, and those over the cap at once.
    EXPECT_GT(flood.closedByServer(), kFloodConnections - 128);

    flood.Stop();
    std::this_thread::sleep_for(300ms); // the server sees the flood's sockets close
    ExpectBothAnswered(Loopback(1));

    server->Signal(SIGTERM);
    ASSERT_EQ(server->Wait(), 0) << server->error();
    // The refusals are counted in the log once per burst, not once per connection.
    const std::string log = server->error();
    EXPECT_EQ(Occurrences(log, "peer=127.0.0.1 holds 128 connections, the most one address may"), 1)
        << log.substr(0, 4000);
}

TEST_F(StaffFlood, AFloodSpreadOverThirtyTwoAddressesOutgrowingTheFilesShutsNobodyOut) {
    std::vector<std::string> sources;
    for (int i = 1; i <= 32; ++i)
        sources.push_back(Loopback(i));
    Flood flood(staff, sources, kFloodConnections);
    ASSERT_EQ(flood.failedAtStart(), 0);

    // More connections than the server has files: the staff listener keeps accepting, shedding
    // the longest waiting of the addresses holding the most, as the student listener does.
    for (int round = 0; round < 5; ++round) {
        ExpectBothAnswered(Loopback(60));
        ExpectBothAnswered(Loopback(61));
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_GT(flood.closedByServer(), kFloodConnections - int(kServerFiles));

    flood.Stop();
    server->Signal(SIGTERM);
    ASSERT_EQ(server->Wait(), 0) << server->error();
    EXPECT_EQ(Occurrences(server->error(), "out of open files with "), 1)
        << server->error().substr(0, 4000);
}

} // namespace
} // namespace tallyport::test
