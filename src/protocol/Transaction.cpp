#include "protocol/Transaction.h"

#include "protocol/HostLookup.h"
#include "protocol/Keystream.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>
#include <vector>

namespace tallyport {
namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

// The UI is pumped at least this often while an attempt waits, so Cancel is seen well within
// 100 ms.
constexpr auto kPumpInterval = std::chrono::milliseconds(20);
// Request bodies are scrambled and sent, and reply bodies received, this many bytes at a time:
// an upload never needs a scrambled copy of the whole request, and a reply's memory grows only
// with the bytes that actually arrive.
constexpr std::size_t kChunkSize = 64 * 1024;

// One connection attempt. The socket's operations run asynchronously on the calling thread in
// short slices with the UI pumped in between; Cancel closes the socket, which ends the operation
// in progress with an error.
class Attempt {
public:
    Attempt(TransactionUi& ui, int32_t seed) : ui_(ui), seed_(seed) {}

    // Steps 2 to 12 of one attempt: the final status, and the reply when one arrived in full.
    StatusCode Run(const Endpoint& endpoint, const StreamedRequest& request,
                   std::optional<NetMessage>& reply);

private:
    struct Outcome {
        asio::error_code error;
        std::size_t bytes = 0;
    };

    bool Connect(const Endpoint& endpoint);
    std::optional<std::vector<tcp::endpoint>> Addresses(const Endpoint& endpoint);
    std::string LocalAddressText();
    bool Send(const StreamedRequest& request);
    bool ReadInt(int32_t& value);
    std::optional<std::vector<std::byte>> ReadBody(int32_t length);

    template <class Start> Outcome Await(Start start);
    void PumpIfDue();

    TransactionUi& ui_;
    const int32_t seed_;
    asio::io_context io_{1};
    tcp::socket socket_{io_};
    bool cancelled_ = false;
    Clock::time_point lastPump_ = Clock::now();
};

// Runs the operation that `start` begins until its handler has run, pumping the UI in between.
template <class Start> Attempt::Outcome Attempt::Await(Start start) {
    bool done = false;
    Outcome outcome;
    start([&](const asio::error_code& error, std::size_t bytes) {
        done = true;
        outcome = {error, bytes};
    });
    while (!done) {
        io_.restart();
        io_.run_for(kPumpInterval);
        if (!done)
            PumpIfDue();
    }
    // Operations that finish at once still let the UI in now and then (a fast upload).
    PumpIfDue();
    if (cancelled_)
        outcome.error = asio::error::operation_aborted;
    return outcome;
}

void Attempt::PumpIfDue() {
    const auto now = Clock::now();
    if (cancelled_ || now - lastPump_ < kPumpInterval)
        return;
    lastPump_ = now;
    if (ui_.Pump()) {
        cancelled_ = true;
        asio::error_code ignored;
        socket_.close(ignored); // pending operations end with operation_aborted
    }
}

std::optional<std::vector<tcp::endpoint>> Attempt::Addresses(const Endpoint& endpoint) {
    asio::error_code error;
    const auto literal = asio::ip::make_address_v4(endpoint.host, error);
    if (!error)
        return std::vector{tcp::endpoint(literal, endpoint.port)};
    HostLookup lookup(endpoint.host, endpoint.port);
    for (;;) {
        if (auto found = lookup.WaitFor(kPumpInterval))
            return found;
        PumpIfDue();
        if (cancelled_)
            return std::nullopt;
    }
}

bool Attempt::Connect(const Endpoint& endpoint) {
    const auto addresses = Addresses(endpoint);
    if (!addresses)
        return false;
    for (const auto& address : *addresses) {
        asio::error_code error;
        socket_.close(error);
        socket_.open(tcp::v4(), error);
        if (error)
            return false;
        const Outcome connected = Await([&](auto handler) {
            socket_.async_connect(address,
                                  [handler](const asio::error_code& e) mutable { handler(e, 0); });
        });
        if (!connected.error)
            return true;
        if (cancelled_)
            return false;
    }
    return false;
}

std::string Attempt::LocalAddressText() {
    asio::error_code error;
    const auto local = socket_.local_endpoint(error);
    if (error)
        return {};
    const auto address = local.address();
    if (address.is_v4())
        return address.to_v4().to_string();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return {};
}

bool Attempt::Send(const StreamedRequest& request) {
    const auto total = std::size_t(std::max(0, request.length));
    // The header goes out with the first chunk, so a small request is one segment.
    std::vector<std::byte> out =
        wire::EncodeRequestHeader(LocalAddressText(), seed_, request.length);
    std::size_t bodyAt = out.size(); // where this chunk's body bytes start in `out`
    out.reserve(bodyAt + std::min(kChunkSize, total));
    Keystream keystream(seed_);
    std::size_t produced = 0;
    std::size_t sent = 0;
    bool ok = true;
    const auto sendChunk = [&] {
        keystream.Apply(std::span(out).subspan(bodyAt));
        const Outcome written =
            Await([&](auto handler) { asio::async_write(socket_, asio::buffer(out), handler); });
        ok = !written.error;
        if (!ok)
            return;
        sent += out.size() - bodyAt;
        ui_.Progress(int64_t(sent), int64_t(total));
        out.clear();
        bodyAt = 0;
    };
    request.write([&](std::span<const std::byte> piece) {
        while (ok && !piece.empty()) {
            const std::size_t n =
                std::min({piece.size(), kChunkSize - (out.size() - bodyAt), total - produced});
            if (n == 0) { // more bytes than the announced length
                ok = false;
                return;
            }
            out.insert(out.end(), piece.begin(), piece.begin() + std::ptrdiff_t(n));
            piece = piece.subspan(n);
            produced += n;
            if (out.size() - bodyAt == kChunkSize)
                sendChunk();
        }
    });
    if (ok && !out.empty()) // the last part of the body, or the header of an empty one
        sendChunk();
    return ok && produced == total;
}

bool Attempt::ReadInt(int32_t& value) {
    std::array<std::byte, wire::kIntSize> bytes{};
    const Outcome read =
        Await([&](auto handler) { asio::async_read(socket_, asio::buffer(bytes), handler); });
    if (read.error)
        return false;
    value = wire::DecodeInt(bytes);
    return true;
}

std::optional<std::vector<std::byte>> Attempt::ReadBody(int32_t length) {
    std::vector<std::byte> body; // never reserved from the announced length
    std::vector<std::byte> chunk(std::min(kChunkSize, std::size_t(length)));
    while (body.size() < std::size_t(length)) {
        const std::size_t wanted = std::min(chunk.size(), std::size_t(length) - body.size());
        const Outcome read = Await([&](auto handler) {
            socket_.async_read_some(asio::buffer(chunk.data(), wanted), handler);
        });
        if (read.error)
            return std::nullopt;
        body.insert(body.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(read.bytes));
    }
    return body;
}

StatusCode Attempt::Run(const Endpoint& endpoint, const StreamedRequest& request,
                        std::optional<NetMessage>& reply) {
    reply.reset();
    if (!Connect(endpoint))
        return status::kNoConnection;
    if (!Send(request))
        return status::kTransmissionError;
    int32_t status = 0;
    if (!ReadInt(status))
        return status::kTransmissionError;
    if (status != status::kSuccess)
        return status;
    // From here a reply that does not arrive in full is status 0 with no reply and no message;
    // only a Cancel press is reported, as the transmission error it causes.
    int32_t length = 0;
    if (!ReadInt(length))
        return cancelled_ ? status::kTransmissionError : status::kSuccess;
    if (length <= 0)
        return status::kSuccess;
    std::optional<std::vector<std::byte>> body;
    try {
        body = ReadBody(length);
    } catch (const std::bad_alloc&) { // a reply this machine cannot hold is not received
        body.reset();
    }
    if (cancelled_)
        return status::kTransmissionError;
    if (!body)
        return status::kSuccess;
    ScrambleBytes(*body, seed_); // a fresh keystream from the same seed
    reply = NetMessage::fromReply(std::move(*body));
    return status::kSuccess;
}

} // namespace

int32_t SessionSeed() {
    const auto seconds = uint32_t(uint64_t(std::time(nullptr)));
    const auto ticks = uint32_t(std::clock());
    return int32_t(seconds + ticks);
}

Transactor::Transactor(Endpoint endpoint, TransactionUi& ui, SeedSource seedSource)
    : endpoint_(std::move(endpoint)), ui_(ui), seedSource_(std::move(seedSource)) {}

RetryChoice Transactor::Report(StatusCode status) {
    switch (DescribeStatus(status).box) {
    case StatusBox::None:
        return RetryChoice::Ignore;
    case StatusBox::Notice:
        ui_.ReportStatus(status);
        return RetryChoice::Ignore;
    case StatusBox::AbortRetryIgnore:
        break;
    }
    return ui_.ReportStatus(status);
}

std::optional<NetMessage> Transactor::Transact(const NetMessage& request, StatusCode& status,
                                               std::string_view title) {
    const StreamedRequest whole{request.length(),
                                [&](const StreamedRequest::Sink& sink) { sink(request.bytes()); }};
    return Transact(whole, status, title);
}

std::optional<NetMessage> Transactor::Transact(const StreamedRequest& request, StatusCode& status,
                                               std::string_view title) {
    const bool withBox = !title.empty();
    if (withBox)
        ui_.Open(title);
    std::optional<NetMessage> reply;
    std::optional<int32_t> previousSeed;
    for (;;) {
        int32_t seed = seedSource_();
        if (previousSeed && seed == *previousSeed) // a retry never reuses the keystream
            seed = int32_t(uint32_t(seed) + 1);
        previousSeed = seed;

        ui_.SetBusy(true);
        status = Attempt(ui_, seed).Run(endpoint_, request, reply);
        ui_.SetBusy(false);
        if (status == status::kSuccess)
            break;
        reply.reset();
        const RetryChoice choice = Report(status);
        if (status == status::kOldVersion || choice == RetryChoice::Abort) {
            status = status::kAborted;
            break;
        }
        if (choice != RetryChoice::Retry)
            break;
    }
    if (withBox)
        ui_.Close();
    return reply;
}

} // namespace tallyport
