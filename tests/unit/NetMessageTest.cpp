// The message buffer: byte layout of each field kind, the 1024-byte growth rule, in-place reads
// and what a read past the end gives.
#include "protocol/NetMessage.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <vector>

using namespace tallyport;

namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(std::byte(v));
    return out;
}

std::vector<std::byte> Filled(std::size_t n, int value) {
    return std::vector<std::byte>(n, std::byte(value));
}

} // namespace

TEST(NetMessage, FieldsAreWrittenAsTheWireWantsThem) {
    struct Case {
        const char* what;
        void (*append)(NetMessage&);
        std::vector<std::byte> bytes;
    };
    const std::vector<Case> cases = {
        {"int 1", [](NetMessage& m) { m.AppendInt(1); }, Bytes({0, 0, 0, 1})},
        {"int -1", [](NetMessage& m) { m.AppendInt(-1); }, Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {"int 0x12345678", [](NetMessage& m) { m.AppendInt(0x12345678); },
         Bytes({0x12, 0x34, 0x56, 0x78})},
        {"int min", [](NetMessage& m) { m.AppendInt(INT32_MIN); }, Bytes({0x80, 0, 0, 0})},
        {"letter O", [](NetMessage& m) { m.AppendInt('O'); }, Bytes({0, 0, 0, 0x4F})},
        {"string S", [](NetMessage& m) { m.AppendString("S"); }, Bytes({0x53, 0})},
        {"empty string", [](NetMessage& m) { m.AppendString(""); }, Bytes({0})},
        {"string cut at a NUL",
         [](NetMessage& m) { m.AppendString(std::string_view("ab\0cd", 5)); },
         Bytes({'a', 'b', 0})},
        {"raw bytes", [](NetMessage& m) { m.AppendBytes("\x01\x00\xFF", 3); }, Bytes({1, 0, 0xFF})},
        {"no raw bytes", [](NetMessage& m) { m.AppendBytes(nullptr, 0); }, Bytes({})},
        {"a request in order",
         [](NetMessage& m) {
             m.AppendInt(12);
             m.AppendInt(3101);
             m.AppendString("V");
         },
         Bytes({0, 0, 0, 12, 0, 0, 0x0C, 0x1D, 'V', 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetMessage m;
        c.append(m);
        EXPECT_EQ(m.CopyOut(), c.bytes);
        EXPECT_EQ(m.length(), int32_t(c.bytes.size()));
        EXPECT_EQ(m.cursor(), m.length()); // building: the cursor is at the end
        EXPECT_EQ(m.capacity(), 1024);
    }
}

TEST(NetMessage, ReadsIntegersStringsAndBytesInPlace) {
    NetMessage m = NetMessage::fromReply(
        Bytes({0xFF, 0xFF, 0xFF, 0xFC, 'a', 'b', 0, 0, 'c', 0, 7, 8, 9, 0, 0, 1, 0}));
    EXPECT_EQ(m.length(), 17);
    EXPECT_EQ(m.capacity(), 17);
    EXPECT_EQ(m.cursor(), 0);
    EXPECT_EQ(m.ReadInt(), -4);
    const std::string_view first = m.ReadString();
    const std::string_view second = m.ReadString();
    const std::string_view third = m.ReadString();
    EXPECT_EQ(first, "ab");
    EXPECT_EQ(second, "");
    EXPECT_EQ(third, "c");
    EXPECT_EQ(first.data(), reinterpret_cast<const char*>(m.bytes().data()) + 4); // not copied
    const auto run = m.ReadBytes(3);
    EXPECT_EQ(run.data(), m.bytes().data() + 10);
    EXPECT_EQ(std::vector<std::byte>(run.begin(), run.end()), Bytes({7, 8, 9}));
    EXPECT_EQ(m.ReadInt(), 256);
    EXPECT_EQ(m.remaining(), 0);
    EXPECT_FALSE(m.malformed());
}

TEST(NetMessage, ReadsPastTheEndGiveNothingAndMarkTheMessage) {
    struct Case {
        const char* what;
        std::vector<std::byte> bytes;
        void (*read)(NetMessage&);
    };
    const std::vector<Case> cases = {
        {"int from 3 bytes", Bytes({1, 2, 3}), [](NetMessage& m) { EXPECT_EQ(m.ReadInt(), 0); }},
        {"int from nothing", Bytes({}), [](NetMessage& m) { EXPECT_EQ(m.ReadInt(), 0); }},
        {"string without terminator", Bytes({'a', 'b'}),
         [](NetMessage& m) { EXPECT_EQ(m.ReadString(), ""); }},
        {"string from nothing", Bytes({}), [](NetMessage& m) { EXPECT_EQ(m.ReadString(), ""); }},
        {"bytes beyond the end", Bytes({1, 2}),
         [](NetMessage& m) { EXPECT_TRUE(m.ReadBytes(3).empty()); }},
        {"negative byte count", Bytes({1, 2}),
         [](NetMessage& m) { EXPECT_TRUE(m.ReadBytes(-1).empty()); }},
        {"huge byte count", Bytes({1, 2}),
         [](NetMessage& m) { EXPECT_TRUE(m.ReadBytes(INT32_MAX).empty()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetMessage m = NetMessage::fromReply(c.bytes);
        c.read(m);
        EXPECT_TRUE(m.malformed());
        EXPECT_EQ(m.cursor(), m.length());
        // Later reads find nothing either.
        EXPECT_EQ(m.ReadInt(), 0);
        EXPECT_EQ(m.ReadString(), "");
    }
    // Reading exactly to the end is not malformed; one more read is.
    NetMessage exact = NetMessage::fromReply(Bytes({0, 0, 0, 5}));
    EXPECT_EQ(exact.ReadInt(), 5);
    EXPECT_FALSE(exact.malformed());
    EXPECT_TRUE(exact.ReadBytes(0).empty());
    EXPECT_FALSE(exact.malformed());
    exact.ReadInt();
    EXPECT_TRUE(exact.malformed());
}

TEST(NetMessage, GrowsToMultiplesOf1024KeepingItsBytes) {
    NetMessage m;
    const auto head = Filled(1021, 0x5A);
    m.AppendBytes(head);
    EXPECT_EQ(m.capacity(), 1024);
    m.AppendInt(-2);
    EXPECT_EQ(m.capacity(), 2048);
    EXPECT_EQ(m.length(), 1025);
    EXPECT_EQ(m.cursor(), 1025);
    auto expected = head;
    for (std::byte b : Bytes({0xFF, 0xFF, 0xFF, 0xFE}))
        expected.push_back(b);
    EXPECT_EQ(m.CopyOut(), expected);

    struct Case {
        int32_t initial;
        std::size_t appended;
        int32_t capacity;
    };
    for (const Case& c : std::vector<Case>{{1024, 1024, 1024},
                                           {1024, 1025, 2048},
                                           {1024, 5000, 5120}, // straight to the multiple
                                           {0, 1, 1024},
                                           {0, 0, 0},
                                           {100, 50, 100}}) {
        SCOPED_TRACE(std::to_string(c.initial) + " + " + std::to_string(c.appended));
        NetMessage grown(c.initial);
        grown.AppendBytes(Filled(c.appended, 1));
        EXPECT_EQ(grown.capacity(), c.capacity);
        EXPECT_EQ(grown.length(), int32_t(c.appended));
    }
}

TEST(NetMessage, ResetRebuildsFromTheStartKeepingTheCapacity) {
    NetMessage m;
    m.AppendBytes(Filled(3000, 9));
    ASSERT_EQ(m.capacity(), 3072);
    m.Reset();
    EXPECT_EQ(m.length(), 0);
    EXPECT_EQ(m.cursor(), 0);
    EXPECT_EQ(m.capacity(), 3072);
    m.AppendInt(1);
    EXPECT_EQ(m.CopyOut(), Bytes({0, 0, 0, 1}));
}

TEST(NetMessage, AMovedFromMessageIsEmpty) {
    NetMessage source = NetMessage::fromReply(Bytes({0, 0, 0, 9}));
    NetMessage target = std::move(source);
    EXPECT_EQ(target.ReadInt(), 9);
    EXPECT_EQ(source.length(), 0); // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_EQ(source.capacity(), 0);
    EXPECT_EQ(source.ReadInt(), 0);
    EXPECT_TRUE(source.malformed());
    source = std::move(target);
    EXPECT_EQ(source.length(), 4);
    EXPECT_EQ(target.length(), 0);
}
