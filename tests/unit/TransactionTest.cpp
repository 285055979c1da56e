// The transaction against a scripted peer on 127.0.0.1: the bytes on the wire, the status table
// with Abort / Retry / Ignore, replies that stop short, and Cancel.
#include "protocol/Transaction.h"

#include "support/ScriptedPeer.h"
#include "support/ScriptedTransactionUi.h"

#include <gtest/gtest.h>

#include <ctime>
#include <initializer_list>
#include <vector>

using namespace tallyport;
using tallyport::test::PeerAction;
using tallyport::test::ScriptedPeer;
using tallyport::test::ScriptedTransactionUi;
using tallyport::test::StalledListener;

namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(std::byte(v));
    return out;
}

NetMessage CourseListRequest() {
    NetMessage request;
    request.AppendInt(1);
    request.AppendInt(0);
    request.AppendInt(0);
    return request;
}

std::vector<std::byte> Pattern(std::size_t n) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::byte((i * 7 + i / 251) & 0xFF);
    return v;
}

// Keystream of seed 1 (only the low 29 bits of a seed count, so also of 0x20000001), worked out
// from the register: the bits shifted in obey x[n] = x[n-2] ^ x[n-29], with x[0], x[-1], ...,
// x[-28] the seed's bits 0..28. For seed 1 only x[0] is set, so x[1..28] alternate 0,1,0,1,...
// and the first three bytes (x1..x8, x9..x16, x17..x24, oldest bit first) are 55 55 55. Then
// x29 = x27^x0 = 1, x30 = x28^x1 = 1, x31 = x29^x2 = 0, x32 = x30^x3 = 1, giving byte 3 =
// 0,1,0,1,1,1,0,1 = 5D; byte 4 continues x33 = x31^x4 = 1, x34 = 1, x35 = 0, x36 = 1, x37 = 1,
// x38 = 1, x39 = 0, x40 = 1 = DD. Carried on the same way: 55 55 55 5D DD DD DD 8D 8D 8D 8F 8F.
constexpr int32_t kFixedSeed = 0x20000001;

} // namespace

TEST(Transaction, CourseListRequestGoesOutAsWorkedOutByHand) {
    ScriptedPeer peer;
    peer.Push(PeerAction::Reply(status::kNothingThere));
    ScriptedTransactionUi ui;
    Transactor transactor(peer.endpoint(), ui, [] { return kFixedSeed; });
    StatusCode status = 0;
    transactor.Transact(CourseListRequest(), status, "Course List");

    // 00 00 00 01 00 00 00 00 00 00 00 00 XOR the keystream above.
    const auto expected =
        Bytes({0x69, 0x44, 0x6D, 0x03,                              // magic
               0x00, 0x00, 0x00, 0x09,                              // address length
               '1',  '2',  '7',  '.',  '0',  '.',  '0',  '.',  '1', // local address
               0x20, 0x00, 0x00, 0x01,                              // seed, as sent
               0x00, 0x00, 0x00, 0x0C,                              // body length
               0x55, 0x55, 0x55, 0x5C, 0xDD, 0xDD, 0xDD, 0x8D, 0x8D, 0x8D, 0x8F, 0x8F});
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].raw, expected);
}

TEST(Transaction, ReplyIsUnscrambledWithAFreshKeystreamFromTheSeed) {
    ScriptedPeer peer;
    // The reply 00 00 00 2A "ABC" 00 XOR the keystream of seed 1 from its first byte (not from
    // where the 12-byte request left it): 55 55 55 77 9C 9F 9E 8D.
    peer.Push(PeerAction::Raw(Bytes({0, 0, 0, 0, 0, 0, 0, 8, //
                                     0x55, 0x55, 0x55, 0x77, 0x9C, 0x9F, 0x9E, 0x8D})));
    ScriptedTransactionUi ui;
    Transactor transactor(peer.endpoint(), ui, [] { return kFixedSeed; });
    StatusCode status = -1;
    auto reply = transactor.Transact(CourseListRequest(), status, "Course List");

    EXPECT_EQ(status, 0);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->length(), 8);
    EXPECT_EQ(reply->ReadInt(), 42);
    EXPECT_EQ(reply->ReadString(), "ABC");
    EXPECT_FALSE(reply->malformed());
    EXPECT_TRUE(ui.reported.empty());
    EXPECT_EQ(ui.events,
              (std::vector<std::string>{"Open Course List", "Busy on", "Busy off", "Close"}));
}

TEST(Transaction, EveryServerStatusEndsAsTheTableSays) {
    struct Case {
        StatusCode sent;
        std::vector<RetryChoice> answers;
        StatusCode final;
        std::vector<StatusCode> reported;
    };
    using enum RetryChoice;
    const std::vector<Case> cases = {
        {-3, {Ignore}, -3, {-3}},
        {-3, {Abort}, -999, {-3}},
        {-4, {Retry}, -999, {-4}}, // old version: notice once, never retried
        {-5, {Retry}, -5, {-5}},   // notices count as Ignore whatever the box answers
        {-6, {}, -6, {-6}},
        {-7, {}, -7, {-7}},
        {-8, {Abort}, -8, {-8}},
        {-9, {}, -9, {-9}},
        {-10, {}, -10, {-10}},
        {-11, {}, -11, {-11}},
        {-12, {Abort}, -12, {}}, // silent: no box at all
        {-13, {}, -13, {-13}},
        {-77, {Ignore}, -77, {-77}}, // unknown negative: Abort / Retry / Ignore
        {-77, {Abort}, -999, {-77}},
        {5, {Ignore}, 5, {5}}, // positive: reported as unknown, no reply
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("status " + std::to_string(c.sent));
        ScriptedPeer peer;
        // A body after a failing status must not be taken as a reply.
        peer.Push(
            PeerAction::Raw(Bytes({(c.sent >> 24) & 0xFF, (c.sent >> 16) & 0xFF,
                                   (c.sent >> 8) & 0xFF, c.sent & 0xFF, 0, 0, 0, 4, 1, 2, 3, 4})));
        ScriptedTransactionUi ui;
        ui.answers.assign(c.answers.begin(), c.answers.end());
        Transactor transactor(peer.endpoint(), ui);
        StatusCode status = 0;
        const auto reply = transactor.Transact(CourseListRequest(), status, "Verification");

        EXPECT_EQ(status, c.final);
        EXPECT_FALSE(reply.has_value());
        EXPECT_EQ(ui.reported, c.reported);
        EXPECT_EQ(peer.requests().size(), 1u);
        EXPECT_EQ(ui.opens, 1);
        EXPECT_EQ(ui.closes, 1);
    }
}

TEST(Transaction, RetryOpensANewConnectionWithANewSeedUnderTheSameBox) {
    ScriptedPeer peer;
    peer.Push(PeerAction::Reply(status::kServerError));
    peer.Push(PeerAction::Reply(status::kSuccess, Bytes({0, 0, 0, 7})));
    ScriptedTransactionUi ui;
    ui.answers = {RetryChoice::Retry};
    Transactor transactor(peer.endpoint(), ui);
    StatusCode status = -1;
    const NetMessage request = CourseListRequest();
    auto reply = transactor.Transact(request, status, "Course List");

    EXPECT_EQ(status, 0);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->ReadInt(), 7);
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].seed, requests[1].seed);
    for (const auto& r : requests) {
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.magic, wire::kProtocolMagic);
        EXPECT_EQ(r.address, "127.0.0.1");
        EXPECT_EQ(r.body, request.CopyOut());
    }
    EXPECT_EQ(ui.events, (std::vector<std::string>{"Open Course List", "Busy on", "Busy off",
                                                   "Report -3", "Busy on", "Busy off", "Close"}));
}

TEST(Transaction, RetryAfterNoConnectionReachesTheServerOnceItListens) {
    ScriptedPeer peer(/*listening=*/false); // bound but refusing connections
    peer.Push(PeerAction::Reply(status::kSuccess, Bytes({0, 0, 0, 1})));
    ScriptedTransactionUi ui;
    ui.answers = {RetryChoice::Retry};
    ui.onReport = [&](StatusCode) { peer.Listen(); };
    Transactor transactor(peer.endpoint(), ui);
    StatusCode status = 0;
    auto reply = transactor.Transact(CourseListRequest(), status, "Course List");

    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kNoConnection});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(reply.has_value());
    EXPECT_EQ(ui.opens, 1);
    EXPECT_EQ(ui.closes, 1);
}

TEST(Transaction, ConnectionRefusedAndIgnoredKeepsMinusOne) {
    ScriptedPeer peer(/*listening=*/false);
    ScriptedTransactionUi ui;
    Transactor transactor(peer.endpoint(), ui);
    StatusCode status = 0;
    EXPECT_FALSE(transactor.Transact(CourseListRequest(), status, "Course List").has_value());
    EXPECT_EQ(status, status::kNoConnection);
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kNoConnection});
}

// Replies that stop short or announce nothing: before the status is complete that is a
// transmission error; after it, status 0 with no reply and no message.
TEST(Transaction, RepliesThatStopShort) {
    struct Case {
        const char* what;
        std::vector<std::byte> sent;
        StatusCode final;
    };
    const std::vector<Case> cases = {
        {"closed before the status", {}, status::kTransmissionError},
        {"closed inside the status", Bytes({0, 0}), status::kTransmissionError},
        {"closed before the reply length", Bytes({0, 0, 0, 0}), 0},
        {"closed inside the reply length", Bytes({0, 0, 0, 0, 0, 0}), 0},
        {"reply length 0", Bytes({0, 0, 0, 0, 0, 0, 0, 0}), 0},
        {"negative reply length", Bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFC, 1, 2, 3}), 0},
        {"closed inside the body", Bytes({0, 0, 0, 0, 0, 0, 0, 100, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
         0},
        {"2 GB announced, 10 bytes sent",
         Bytes({0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer;
        peer.Push(PeerAction::Raw(c.sent));
        ScriptedTransactionUi ui;
        Transactor transactor(peer.endpoint(), ui);
        StatusCode status = 12345;
        const auto reply = transactor.Transact(CourseListRequest(), status, "Course List");
        EXPECT_EQ(status, c.final);
        EXPECT_FALSE(reply.has_value());
        if (c.final == 0)
            EXPECT_TRUE(ui.reported.empty());
        else
            EXPECT_EQ(ui.reported, std::vector<StatusCode>{c.final});
    }
}

TEST(Transaction, LargeRequestAndReplyTravelInChunksIntact) {
    ScriptedPeer peer;
    const auto big = Pattern(300'000);
    peer.Push(PeerAction::Reply(status::kSuccess, Pattern(250'001)));
    ScriptedTransactionUi ui;
    Transactor transactor(peer.endpoint(), ui);
    NetMessage request;
    request.AppendInt(12);
    request.AppendBytes(big);
    const auto before = request.CopyOut();
    StatusCode status = -1;
    auto reply = transactor.Transact(request, status, "Submitted Program");

    EXPECT_EQ(status, 0);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->CopyOut(), Pattern(250'001));
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].body, before);
    EXPECT_EQ(request.CopyOut(), before); // the request itself stays plain
    // Progress goes up chunk by chunk to the whole body.
    ASSERT_GT(ui.progress.size(), 1u);
    for (std::size_t i = 1; i < ui.progress.size(); ++i)
        EXPECT_GT(ui.progress[i].first, ui.progress[i - 1].first);
    EXPECT_EQ(ui.progress.back(), std::make_pair(int64_t(before.size()), int64_t(before.size())));
}

TEST(Transaction, CancelWhileConnectingFailsWithNoConnection) {
    StalledListener listener;
    ScriptedTransactionUi ui;
    ui.cancelOnPump = 1;
    Transactor transactor(listener.endpoint(), ui);
    StatusCode status = 0;
    const auto reply = transactor.Transact(CourseListRequest(), status, "Course List");
    EXPECT_FALSE(reply.has_value());
    EXPECT_EQ(status, status::kNoConnection);
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kNoConnection});
}

TEST(Transaction, CancelWhileWaitingForTheReplyFailsWithTransmissionErrorAndCanAbort) {
    ScriptedPeer peer;
    peer.Push(PeerAction::Hang());
    ScriptedTransactionUi ui;
    ui.onPump = [&] { return peer.completeRequests() >= 1; }; // pressed once the request is in
    ui.answers = {RetryChoice::Abort};
    Transactor transactor(peer.endpoint(), ui);
    StatusCode status = 0;
    const auto reply = transactor.Transact(CourseListRequest(), status, "Marked Assignment");
    EXPECT_FALSE(reply.has_value());
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kTransmissionError});
    EXPECT_EQ(status, status::kAborted);
}

TEST(Transaction, HostNameIsResolvedAndNoBoxWithoutTitle) {
    ScriptedPeer peer;
    peer.Push(PeerAction::Reply(status::kSuccess, Bytes({0, 0, 0, 3})));
    ScriptedTransactionUi ui;
    Transactor transactor(Endpoint{"localhost", peer.port()}, ui);
    StatusCode status = -1;
    auto reply = transactor.Transact(CourseListRequest(), status, "");
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->ReadInt(), 3);
    EXPECT_EQ(ui.opens, 0);
    EXPECT_EQ(ui.closes, 0);
    EXPECT_EQ(peer.requests().at(0).address, "127.0.0.1");
}

TEST(Transaction, SessionSeedIsCalendarSecondsPlusClockTicks) {
    const auto secondsBefore = uint32_t(uint64_t(std::time(nullptr)));
    const auto ticksBefore = uint32_t(std::clock());
    const auto seed = uint32_t(SessionSeed());
    const auto secondsAfter = uint32_t(uint64_t(std::time(nullptr)));
    const auto ticksAfter = uint32_t(std::clock());
    // seed = seconds + ticks (32-bit wrap), each read between the readings around it.
    const uint32_t ticksPart = seed - secondsBefore;
    EXPECT_GE(ticksPart, ticksBefore);
    EXPECT_LE(ticksPart, ticksAfter + (secondsAfter - secondsBefore));
}

// A body produced piece by piece, in pieces both smaller and larger than a chunk, must put the
// same bytes on the wire, segment for segment in progress, as the whole message.
TEST(Transaction, StreamedBodyGoesOutByteForByteAsTheWholeMessage) {
    ScriptedPeer peer;
    peer.Push(PeerAction::Reply(status::kSuccess, Bytes({0, 0, 0, 1})));
    peer.Push(PeerAction::Reply(status::kSuccess, Bytes({0, 0, 0, 1})));
    NetMessage whole;
    whole.AppendInt(12);
    whole.AppendBytes(Pattern(300'000));
    const auto bytes = whole.bytes();
    StreamedRequest streamed;
    streamed.length = whole.length();
    streamed.write = [&](const StreamedRequest::Sink& sink) {
        std::size_t at = 0;
        for (std::size_t piece : {1, 3, 70'000, 0, 65'536, 12'345, 2}) {
            sink(bytes.subspan(at, piece));
            at += piece;
        }
        sink(bytes.subspan(at));
    };
    std::vector<std::vector<std::pair<int64_t, int64_t>>> progress;
    for (int i = 0; i < 2; ++i) {
        ScriptedTransactionUi ui;
        Transactor transactor(peer.endpoint(), ui, [] { return kFixedSeed; });
        StatusCode status = -1;
        const auto reply = i == 0 ? transactor.Transact(whole, status, "Submitted Program")
                                  : transactor.Transact(streamed, status, "Submitted Program");
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(reply.has_value());
        progress.push_back(ui.progress);
    }
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].complete);
    EXPECT_EQ(requests[1].raw, requests[0].raw);
    EXPECT_EQ(requests[1].body, whole.CopyOut());
    EXPECT_EQ(progress[1], progress[0]);
}

// A body that comes out shorter or longer than its announced length is a failed attempt, never
// a request the server would wait on or misread.
TEST(Transaction, StreamedBodyOfTheWrongLengthFailsTheAttempt) {
    for (const int32_t produced : {99'999, 100'001}) {
        SCOPED_TRACE(produced);
        ScriptedPeer peer;
        peer.Push(PeerAction::Hang());
        const auto body = Pattern(std::size_t(produced));
        StreamedRequest request;
        request.length = 100'000;
        request.write = [&](const StreamedRequest::Sink& sink) { sink(body); };
        ScriptedTransactionUi ui;
        Transactor transactor(peer.endpoint(), ui);
        StatusCode status = 0;
        EXPECT_FALSE(transactor.Transact(request, status, "Submitted Program").has_value());
        EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kTransmissionError});
        EXPECT_EQ(peer.completeRequests(), 0);
    }
}
