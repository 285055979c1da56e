// The server on the wire: byte streams written out by hand, hostile and broken clients, stalls,
// limits and many clients at once.
#include "ServerTestHelpers.h"

#include "protocol/Keystream.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <utility>

namespace tallyport::test {
namespace {

constexpr std::string_view kTinyCourse = R"(
number = 42
name = "T"
[[component]]
name = "A"
elements = 1
sections = 1
types = "Text,txt,A,8/Data,dat,B,8"
[[component.entry]]
label = "L"
)";

class ServerWire : public ::testing::Test {
protected:
    void SetUp() override {
        server.LoadCourse(kTinyCourse);
        server::NewStudent student;
        student.course = 42;
        student.number = 100000042;
        student.password = "pw42";
        ASSERT_EQ(server.store().RegisterStudent(student), server::RegisterOutcome::Registered);
    }

    std::string RawExchange(std::string_view bytes) {
        RawConnection connection(server.endpoint());
        connection.Send(bytes);
        connection.FinishSending();
        return connection.ReceiveAll();
    }

    bool CourseListStillServed() {
        auto result = Exchange(server.endpoint(), CourseListRequest());
        return result.status == 0 && result.reply && result.reply->ReadInt() == 1;
    }

    // Header of a request: magic, address text, seed, body length.
    static std::string Header(std::string_view address, int32_t seed, int32_t length) {
        return "\x69\x44\x6D\x03" + BigEndian(int32_t(address.size())) + std::string(address) +
               BigEndian(seed) + BigEndian(length);
    }

    TempDir dir;
    InProcessServer server{dir.path(), "127.0.0.4"};
};

// Seed 0x20000000 has no bit in the register's 29 bits, so its keystream is all zero bytes and
// both bodies travel as they are: every byte below is the plain format.
TEST_F(ServerWire, CourseListByteForByte) {
    const std::string request =
        std::string("\x69\x44\x6D\x03", 4) + std::string("\x00\x00\x00\x09", 4) + "127.0.0.1" +
        std::string("\x20\x00\x00\x00", 4) + std::string("\x00\x00\x00\x0C", 4) +
        std::string("\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00", 12);
    const std::string expected = std::string("\x00\x00\x00\x00", 4) + // status 0
                                 std::string("\x00\x00\x00\x1E", 4) + // 30 reply bytes
                                 std::string("\x00\x00\x00\x01", 4) + // one course
                                 std::string("\x00\x00\x00\x2A", 4) + // number 42
                                 std::string("T\0", 2) + std::string("A,1,1\0", 6) +
                                 std::string("\x00\x00\x00\x01", 4) + // one entry
                                 std::string("\x00\x00\x00\x4F", 4) + // 'O'
                                 std::string("\x00\x00\x00\x41", 4) + // 'A'
                                 std::string("L\0", 2);
    EXPECT_EQ(RawExchange(request), expected);
}

// With a working seed, the request is unscrambled and the reply scrambled with a fresh keystream
// from the same seed; the reference here is the plain one-step-at-a-time register.
TEST_F(ServerWire, ScrambledBothWaysWithTheSeed) {
    const int32_t seed = 0x1234567;
    std::string body("\x00\x00\x00\x0E\x00\x00\x00\x2A"
                     "tjones\0",
                     15);
    // Request 14 for an unknown marker id "tjones" in course 42: status -12 comes back plain.
    std::string scrambled = body;
    ScrambleBytesBitwise(
        std::span(reinterpret_cast<std::byte*>(scrambled.data()), scrambled.size()), seed);
    EXPECT_EQ(RawExchange(Header("127.0.0.1", seed, 15) + scrambled),
              std::string("\xFF\xFF\xFF\xF4", 4));

    ASSERT_TRUE(server.store().AddMarker({"tjones", "Terry", "TA", false, {}}));
    const std::string received = RawExchange(Header("127.0.0.1", seed, 15) + scrambled);
    ASSERT_EQ(received.size(), 8u + 9u);
    EXPECT_EQ(received.substr(0, 8), std::string("\x00\x00\x00\x00\x00\x00\x00\x09", 8));
    std::string reply = received.substr(8);
    ScrambleBytesBitwise(std::span(reinterpret_cast<std::byte*>(reply.data()), reply.size()), seed);
    EXPECT_EQ(reply, std::string("Terry\0TA\0", 9));
}

TEST_F(ServerWire, WrongMagicGetsTheOldVersionStatus) {
    for (std::string magic : {std::string("\x69\x44\x6D\x02", 4), std::string("GET ", 4),
                              std::string("\x03\x6D\x44\x69", 4)}) {
        EXPECT_EQ(RawExchange(magic + std::string(40, 'x')), std::string("\xFF\xFF\xFF\xFC", 4));
    }
    EXPECT_TRUE(CourseListStillServed());
}

TEST_F(ServerWire, BrokenPreamblesCloseTheConnectionWithoutAReply) {
    const std::string cases[] = {
        std::string("\x69\x44\x6D\x03", 4) + BigEndian(100000) + std::string(64, 'a'), // address
        std::string("\x69\x44\x6D\x03", 4) + BigEndian(-1),                            // address
        Header("127.0.0.1", 7, -5),                        // body length
        Header("127.0.0.1", 7, 12) + std::string(5, '\0'), // cut short
        std::string("\x69\x44", 2),                        // cut short
    };
    for (const auto& bytes : cases) {
        RawConnection connection(server.endpoint());
        connection.Send(bytes);
        connection.FinishSending();
        EXPECT_EQ(connection.ReceiveAll(), "");
        EXPECT_FALSE(connection.timedOut());
    }
    EXPECT_TRUE(CourseListStillServed());
}

TEST_F(ServerWire, BodyOverTheCapIsRefusedBeforeItIsRead) {
    server.Stop();
    server.SetLimits(4096, 30'000);
    server.Start();
    RawConnection connection(server.endpoint());
    connection.Send(Header("127.0.0.1", 0, 4097));
    EXPECT_EQ(connection.ReceiveAll(), std::string("\xFF\xFF\xFF\xFD", 4));
    EXPECT_FALSE(connection.timedOut());

    // A body at the cap is still read and answered.
    // (a course list request followed by bytes the server does not read)
    std::string body = Text(CourseListRequest().bytes());
    body.resize(4096, '\0');
    const std::string reply = RawExchange(Header("127.0.0.1", 0x20000000, 4096) + body);
    EXPECT_EQ(reply.substr(0, 4), std::string(4, '\0'));
    // And the real client hears -3 for an over-cap upload (or loses the connection while still
    // sending); either way nothing is stored.
    const auto result =
        Exchange(server.endpoint(), Upload(42, 100000042, "pw42", 0,
                                           PackageOf({{"a.txt", 'A', 8, std::string(8000, 'a')}})));
    EXPECT_TRUE(result.status == status::kServerError ||
                result.status == status::kTransmissionError)
        << result.status;
    EXPECT_TRUE(server.store().ListSubmissions().empty());
}

TEST_F(ServerWire, RandomBytesNeverHurtTheServer) {
    std::mt19937 random(2047);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 200, '\0');
        for (auto& b : bytes)
            b = char(random());
        if (round % 2 == 1) // half of them behind a good preamble, as a scrambled body
            bytes = Header("127.0.0.1", int32_t(random()), int32_t(bytes.size())) + bytes;
        const std::string reply = RawExchange(bytes);
        if (round % 2 == 0)
            EXPECT_TRUE(reply.empty() || reply == std::string("\xFF\xFF\xFF\xFC", 4));
        else
            EXPECT_TRUE(reply.size() >= 4) << "a whole request gets a status";
    }
    EXPECT_TRUE(CourseListStillServed());
    EXPECT_TRUE(server.store().ListSubmissions().empty());
}

TEST_F(ServerWire, StalledClientsAreClosedAndBlockNobody) {
    server.Stop();
    server.SetLimits(int64_t(64) << 20, 300);
    server.Start();
    // One client stalls inside the preamble, one inside an upload body.
    RawConnection early(server.endpoint());
    early.Send(std::string("\x69\x44\x6D", 3));
    const std::string package = PackageOf({{"a.txt", 'A', 8, "partial"}});
    const std::string upload = Text(Upload(42, 100000042, "pw42", 0, package).bytes());
    RawConnection late(server.endpoint());
    late.Send(Header("127.0.0.1", 0x20000000, int32_t(upload.size())) +
              upload.substr(0, upload.size() - 10));

    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(CourseListStillServed());

    EXPECT_EQ(early.ReceiveAll(), "");
    EXPECT_FALSE(early.timedOut()) << "the server closed the stalled connection";
    EXPECT_EQ(late.ReceiveAll(), "");
    EXPECT_FALSE(late.timedOut());
    EXPECT_TRUE(server.store().ListSubmissions().empty()) << "no partial submission is stored";
}

// Bytes that differ from client to client and from place to place, so that a mix-up between
// two uploads' buffers shows in the stored bytes.
std::string PatternBytes(std::size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = char(x >> 24);
    }
    return bytes;
}

// One fast client's package: a single binary file of 1 MiB that is its own. Made again when the
// stored bytes are checked, so that only the uploads in flight hold a copy.
std::string FastPackage(int client) {
    return PackageOf({{"client" + std::to_string(client) + ".dat", 'B', 8,
                       PatternBytes(std::size_t(1) << 20, uint32_t(client))}});
}

std::string SlowPackage(int client) {
    return PackageOf({{"slow" + std::to_string(client) + ".dat", 'B', 8,
                       PatternBytes(64 * 1024, uint32_t(100000 + client))}});
}

// The serial in a whole plain reply (seed 0x20000000) to an upload; none for anything else.
std::optional<int32_t> SerialOfPlainReply(const std::string& received) {
    if (received.size() != 12 || received.substr(0, 8) != std::string("\0\0\0\0\0\0\0\4", 8))
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(received.data() + 8);
    return int32_t(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
}

// A reply larger than the sockets hold goes out in parts as the client makes room: a client that
// starts reading only after the server's send has filled them still gets every byte in order.
TEST_F(ServerWire, AReplyLargerThanTheSocketsHoldReachesALateReader) {
    const std::string content = PatternBytes(std::size_t(24) << 20, 7);
    const std::string upload =
        Text(Upload(42, 100000042, "pw42", 0, PackageOf({{"big.dat", 'B', 8, content}})).bytes());
    ASSERT_TRUE(SerialOfPlainReply(
        RawExchange(Header("127.0.0.1", 0x20000000, int32_t(upload.size())) + upload)));

    const std::string marked = Text(MarkedRequest(42, 100000042, "pw42", 0).bytes());
    RawConnection late(server.endpoint());
    late.Send(Header("127.0.0.1", 0x20000000, int32_t(marked.size())) + marked);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string received = late.ReceiveAll();
    ASSERT_GT(received.size(), content.size());
    EXPECT_EQ(received.substr(0, 4), std::string(4, '\0')) << "status 0";
    EXPECT_EQ(received.substr(4, 4), BigEndian(int32_t(received.size() - 8)));
    EXPECT_TRUE(received.ends_with(content + "EOF\r\n")) << "the package's file, whole";
}

// Many clients upload a 1 MiB package each, all at once, while slow clients hold connections
// open by trickling their requests (far inside the idle timeout). Every fast client gets its
// serial; the slow clients that finish get theirs, the ones that hang up halfway store nothing;
// every stored submission is one that was acknowledged, with its exact bytes.
class ServerLoad : public ServerWire, public ::testing::WithParamInterface<int> {};

TEST_P(ServerLoad, ManyClientsAtOnceLoseNothing) {
    const int fastClients = GetParam();
    constexpr int kSlowClients = 16;

    std::atomic<bool> burstOver = false;
    std::latch slowInBody(kSlowClients);
    std::vector<std::string> slowReceived(kSlowClients);
    std::vector<std::thread> slow;
    for (int c = 0; c < kSlowClients; ++c)
        slow.emplace_back([&, c] {
            const std::string upload =
                Text(Upload(42, 100000042, "pw42", 0, SlowPackage(c)).bytes());
            const std::string request =
                Header("127.0.0.1", 0x20000000, int32_t(upload.size())) + upload;
            RawConnection connection(server.endpoint());
            // A few bytes every 10 ms: progress the server sees, with most of the body held back.
            // The burst starts once every slow client is inside its body.
            bool inBody = false;
            const auto holding = [&] {
                if (!std::exchange(inBody, true))
                    slowInBody.count_down();
            };
            std::size_t sent = 0;
            while (!burstOver && sent + 3 < request.size() / 2) {
                if (!connection.Send(std::string_view(request).substr(sent, 3)))
                    return holding();
                sent += 3;
                if (sent > request.size() - upload.size())
                    holding();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            holding();
            if (c % 2 == 1)
                return; // hangs up halfway through its body
            connection.Send(std::string_view(request).substr(sent));
            slowReceived[std::size_t(c)] = connection.ReceiveAll();
        });

    std::vector<StatusCode> statuses(std::size_t(fastClients), 1);
    std::vector<int32_t> serials(std::size_t(fastClients), -1);
    std::latch ready(fastClients);
    std::vector<std::thread> fast;
    for (int c = 0; c < fastClients; ++c)
        fast.emplace_back([&, c] {
            const NetMessage request = Upload(42, 100000042, "pw42", 0, FastPackage(c));
            ready.arrive_and_wait(); // every upload starts together
            slowInBody.wait();
            auto result = Exchange(server.endpoint(), request);
            statuses[std::size_t(c)] = result.status;
            if (result.status == 0 && result.reply)
                serials[std::size_t(c)] = result.reply->ReadInt();
        });
    for (auto& thread : fast)
        thread.join();
    burstOver = true;
    for (auto& thread : slow)
        thread.join();

    std::set<int32_t> acknowledged;
    for (int c = 0; c < fastClients; ++c) {
        SCOPED_TRACE("fast client " + std::to_string(c));
        ASSERT_EQ(statuses[std::size_t(c)], 0);
        const int32_t serial = serials[std::size_t(c)];
        ASSERT_GT(serial, 0);
        EXPECT_TRUE(acknowledged.insert(serial).second) << "serial " << serial << " given twice";
        EXPECT_TRUE(server.store().PackageBytes(serial) == FastPackage(c)) << "serial " << serial;
    }
    for (int c = 0; c < kSlowClients; c += 2) {
        SCOPED_TRACE("slow client " + std::to_string(c));
        const auto serial = SerialOfPlainReply(slowReceived[std::size_t(c)]);
        ASSERT_TRUE(serial);
        EXPECT_TRUE(acknowledged.insert(*serial).second) << "serial " << *serial << " given twice";
        EXPECT_TRUE(server.store().PackageBytes(*serial) == SlowPackage(c)) << "serial " << *serial;
    }
    std::set<int32_t> stored;
    for (const auto& info : server.store().ListSubmissions())
        stored.insert(info.serial);
    EXPECT_EQ(stored.size(), std::size_t(fastClients + kSlowClients / 2));
    EXPECT_TRUE(stored == acknowledged) << "nothing is stored that was not acknowledged";
}

INSTANTIATE_TEST_SUITE_P(Clients, ServerLoad, ::testing::Values(64, 256));

TEST_F(ServerWire, RestartKeepsPortAndData) {
    const auto before = server.endpoint();
    auto first = Exchange(server.endpoint(),
                          Upload(42, 100000042, "pw42", 0, PackageOf({{"a.txt", 'A', 8, "a"}})));
    ASSERT_EQ(first.status, 0);
    server.Stop();
    EXPECT_EQ(Exchange(server.endpoint(), CourseListRequest()).status, status::kNoConnection);
    server.Start();
    EXPECT_EQ(server.endpoint().port, before.port);
    auto view = Exchange(server.endpoint(), MarkedRequest(42, 100000042, "pw42", 0));
    EXPECT_EQ(view.status, 0);
}

} // namespace
} // namespace tallyport::test
