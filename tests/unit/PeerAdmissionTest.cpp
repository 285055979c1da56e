// Which connection is shed, when a listener resumes, what the log says per burst, and which
// addresses count as one peer: the decisions the flood tests only see from outside.
#include "admission/PeerAdmission.h"

#include "course/Demo.h"
#include "student/Server.h"
#include "ServerTestHelpers.h"
#include "store/Store.h"
#include "support/LoopbackFlood.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>

#include <poll.h>

namespace tallyport::server {
namespace {

using namespace std::chrono_literals;
using Clock = PeerAdmission::Clock;

class PeerAdmissionTest : public ::testing::Test {
protected:
    PeerAdmission Make(int maxPerAddress, std::size_t maxConnections) {
        return PeerAdmission({maxPerAddress, maxConnections, 10s},
                             [this](const std::string& line) { log.push_back(line); });
    }

    // Admits a connection named `name` from `key` at t0 + `at`; its shedding is recorded.
    std::optional<PeerAdmission::Ticket> Admit(PeerAdmission& admission, const std::string& key,
                                               const std::string& name, Clock::duration at) {
        return admission.Admit(
            key, [this, name] { shed.push_back(name); }, t0 + at);
    }

    const Clock::time_point t0 = Clock::now();
    std::vector<std::string> log;
    std::vector<std::string> shed;
};

TEST_F(PeerAdmissionTest, ShedsTheLongestWaitingOfTheAddressHoldingTheMost) {
    auto admission = Make(0, 5);
    auto b1 = Admit(admission, "10.0.0.2", "b1", 0s); // the oldest of all, but its address holds 2
    auto a1 = Admit(admission, "10.0.0.1", "a1", 1s);
    auto a2 = Admit(admission, "10.0.0.1", "a2", 2s);
    auto b2 = Admit(admission, "10.0.0.2", "b2", 3s);
    auto a3 = Admit(admission, "10.0.0.1", "a3", 4s);
    ASSERT_TRUE(b1 && a1 && a2 && b2 && a3);
    a1->RequestArrived(); // being answered: never shed

    int resumed = 0;
    const auto resume = [&resumed] { ++resumed; };
    EXPECT_FALSE(admission.RoomOrShed(this, resume, t0 + 5s));
    EXPECT_EQ(shed, std::vector<std::string>{"a2"});
    // Asked again before a2 has gone: the next one, not a2 twice.
    EXPECT_FALSE(admission.RoomOrShed(this, resume, t0 + 5s));
    EXPECT_EQ(shed, (std::vector<std::string>{"a2", "a3"}));
    EXPECT_EQ(resumed, 0);

    a2.reset(); // released: the listener is told once
    EXPECT_EQ(resumed, 1);
    EXPECT_TRUE(admission.RoomOrShed(this, resume, t0 + 5s));
    a3.reset();
    EXPECT_EQ(resumed, 1) << "nothing was waiting to be resumed";

    // Equal holdings: the longest waiting of them all.
    auto a4 = Admit(admission, "10.0.0.1", "a4", 6s);
    auto a5 = Admit(admission, "10.0.0.1", "a5", 7s);
    EXPECT_FALSE(admission.RoomOrShed(this, resume, t0 + 8s));
    EXPECT_EQ(shed.back(), "a4") << "10.0.0.1 holds a1, a4, a5; 10.0.0.2 holds b1, b2";
    a4.reset();
    auto c1 = Admit(admission, "10.0.0.3", "c1", 9s);
    b2->RequestArrived();
    a5->RequestArrived();
    EXPECT_FALSE(admission.RoomOrShed(this, resume, t0 + 10s));
    EXPECT_EQ(shed.back(), "b1") << "of the addresses with a connection waiting, 10.0.0.2 holds "
                                    "the most";
}

TEST_F(PeerAdmissionTest, WithNothingToShedTheListenerWaitsForARelease) {
    auto admission = Make(0, 2);
    auto a = Admit(admission, "10.0.0.1", "a", 0s);
    auto b = Admit(admission, "10.0.0.2", "b", 0s);
    a->RequestArrived();
    b->RequestArrived();
    int resumed = 0, forgotten = 0;
    EXPECT_FALSE(admission.RoomOrShed(this, [&resumed] { ++resumed; }));
    EXPECT_FALSE(admission.RoomOrShed(&forgotten, [&forgotten] { ++forgotten; }));
    admission.Forget(&forgotten); // a stopped listener is not called back
    EXPECT_TRUE(shed.empty());
    b.reset();
    EXPECT_EQ(resumed, 1);
    EXPECT_EQ(forgotten, 0);

    // Out of files with nothing held, nothing can be freed: the listener must retry by itself.
    a.reset();
    EXPECT_FALSE(admission.ShedForFiles(this, [] {}));
    auto c = Admit(admission, "10.0.0.3", "c", 0s);
    EXPECT_TRUE(admission.ShedForFiles(this, [] {}));
    EXPECT_EQ(shed, std::vector<std::string>{"c"});
}

TEST_F(PeerAdmissionTest, TheCapRefusesAndLogsOncePerBurst) {
    auto admission = Make(2, 0);
    auto a1 = Admit(admission, "10.0.0.1", "a1", 0s);
    auto a2 = Admit(admission, "10.0.0.1", "a2", 0s);
    ASSERT_TRUE(a1 && a2);
    for (int i = 0; i < 500; ++i)
        EXPECT_FALSE(Admit(admission, "10.0.0.1", "over", std::chrono::milliseconds(i)));
    EXPECT_TRUE(Admit(admission, "10.0.0.2", "other", 1s)) << "other addresses are not held up";
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "peer=10.0.0.1 holds 2 connections, the most one address may: closing its "
                      "new connections unread");

    // Still within the quiet time: nothing ends; the next call is due 10 s after the last one.
    EXPECT_EQ(admission.EndQuietBursts(t0 + 5s), t0 + 499ms + 10s);
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(admission.EndQuietBursts(t0 + 499ms + 10s), std::nullopt);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "peer=10.0.0.1 closed 500 connections over the cap per address unread, in "
                      "0.5 s");

    // Room again once one is released; a later refusal is a new burst.
    a1.reset();
    auto a3 = Admit(admission, "10.0.0.1", "a3", 20s);
    EXPECT_TRUE(a3);
    EXPECT_FALSE(Admit(admission, "10.0.0.1", "over", 21s));
    admission.EndAllBursts();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], "peer=10.0.0.1 closed 1 connection over the cap per address unread, in "
                      "0.0 s");
}

TEST_F(PeerAdmissionTest, OneHostIsOnePeer) {
    const std::map<std::string, std::string> keys = {
        {"10.1.2.3", "10.1.2.3"},
        {"::ffff:10.1.2.3", "10.1.2.3"},
        {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::9", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::9", "2001:db8:1:3::/64"},
        {"::1", "::/64"},
    };
    for (const auto& [address, key] : keys)
        EXPECT_EQ(PeerAdmission::AddressKey(address), key) << address;
}

// Waits until `admission` holds `count` connections; the patience only keeps a broken server
// from hanging the test.
bool HoldsSoon(const PeerAdmission& admission, std::size_t count) {
    for (int waited = 0; waited < 10'000; waited += 5) {
        if (admission.held() == count)
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// A quiet listener on 127.0.0.11 with `threads` loops, sharing `admission`.
ServerOptions SharingOptions(std::shared_ptr<PeerAdmission> admission, int threads) {
    ServerOptions options;
    options.address = "127.0.0.11";
    options.port = 0;
    options.threads = threads;
    options.logRequests = false;
    options.admission = std::move(admission);
    return options;
}

std::unique_ptr<Store> DemoStore(const test::TempDir& dir) {
    std::string error;
    auto store = Store::Open(dir.path() / "s.db", error);
    EXPECT_TRUE(store && LoadDemo(*store, error)) << error;
    return store;
}

TEST(SharedAdmission, TwoListenersShareOneCapPerAddress) {
    test::TempDir dir;
    std::string error;
    auto store = DemoStore(dir);
    ASSERT_TRUE(store);
    auto admission = std::make_shared<PeerAdmission>(PeerAdmission::Limits{2, 0, 10s}, nullptr);
    const ServerOptions options = SharingOptions(admission, 1);
    Server first(*store, options), second(*store, options);
    ASSERT_TRUE(first.Start(error) && second.Start(error)) << error;
    const Endpoint one{"127.0.0.11", first.port()}, other{"127.0.0.11", second.port()};

    // 127.0.0.1 holds its two on the first listener: the second one refuses it too.
    int held[2] = {test::ConnectFrom("127.0.0.1", one), test::ConnectFrom("127.0.0.1", one)};
    ASSERT_TRUE(held[0] >= 0 && held[1] >= 0);
    ASSERT_TRUE(HoldsSoon(*admission, 2));
    EXPECT_FALSE(test::ExchangeFrom("127.0.0.1", other, test::CourseListRequest()).status);
    EXPECT_EQ(test::ExchangeFrom("127.0.0.2", other, test::CourseListRequest()).status, 0);

    ::close(held[0]);
    ASSERT_TRUE(HoldsSoon(*admission, 1));
    EXPECT_EQ(test::ExchangeFrom("127.0.0.1", other, test::CourseListRequest()).status, 0);
    ::close(held[1]);
}

// Whether the server has closed `fd` (a shed connection), without waiting.
bool ClosedByServer(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// At the budget a connection is shed only for a client that is waiting to be taken: the loops
// each listen on the port, and the ones with nobody waiting must not close anyone's connection.
TEST(SharedAdmission, AtTheBudgetAConnectionIsShedOnlyForAWaitingClient) {
    test::TempDir dir;
    std::string error;
    auto store = DemoStore(dir);
    ASSERT_TRUE(store);
    auto admission = std::make_shared<PeerAdmission>(PeerAdmission::Limits{0, 4, 10s}, nullptr);
    ServerOptions options = SharingOptions(admission, 4);
    options.firstBytesTimeout = 60s;
    Server server(*store, options);
    ASSERT_TRUE(server.Start(error)) << error;
    const Endpoint endpoint{"127.0.0.11", server.port()};

    std::vector<int> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(test::ConnectFrom("127.0.0.1", endpoint));
        ASSERT_GE(idle.back(), 0);
    }
    ASSERT_TRUE(HoldsSoon(*admission, 4));
    std::this_thread::sleep_for(300ms); // time for a wrongful shed to happen
    const auto shed = [&] { return std::count_if(idle.begin(), idle.end(), ClosedByServer); };
    EXPECT_EQ(shed(), 0) << "shed with nobody waiting";

    // A client that comes is served, and room is made for it by closing one idle connection.
    EXPECT_EQ(test::ExchangeFrom("127.0.0.2", endpoint, test::CourseListRequest()).status, 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(shed(), 1);
    for (const int fd : idle)
        ::close(fd);
}

} // namespace
} // namespace tallyport::server
