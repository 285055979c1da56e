#include "support/ScriptedPeer.h"

#include "protocol/Keystream.h"
#include "protocol/Wire.h"

#include <asio/read.hpp>
#include <asio/write.hpp>

#include <array>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

namespace tallyport::test {
namespace {

using asio::ip::tcp;

constexpr int32_t kMaxBody = 16 << 20; // far above anything the transaction tests send

const auto kLoopback = asio::ip::make_address_v4("127.0.0.1");

bool ReadInto(tcp::socket& socket, std::span<std::byte> into, ReceivedRequest& request) {
    asio::error_code error;
    const std::size_t n = asio::read(socket, asio::buffer(into.data(), into.size()), error);
    request.raw.insert(request.raw.end(), into.begin(), into.begin() + std::ptrdiff_t(n));
    return n == into.size();
}

bool ReadInt(tcp::socket& socket, int32_t& value, ReceivedRequest& request) {
    std::array<std::byte, wire::kIntSize> bytes{};
    if (!ReadInto(socket, bytes, request))
        return false;
    value = wire::DecodeInt(bytes);
    return true;
}

// Reads one request as the protocol frames it; stops at the first field that does not arrive or
// does not fit.
void ReadRequest(tcp::socket& socket, ReceivedRequest& request) {
    int32_t addressLength = 0;
    if (!ReadInt(socket, request.magic, request) || !ReadInt(socket, addressLength, request) ||
        !wire::IsValidAddressLength(addressLength))
        return;
    std::vector<std::byte> address(std::size_t(addressLength), std::byte{0});
    if (!ReadInto(socket, address, request))
        return;
    for (std::byte b : address)
        request.address.push_back(char(b));
    if (!ReadInt(socket, request.seed, request) || !ReadInt(socket, request.length, request) ||
        request.length < 0 || request.length > kMaxBody)
        return;
    request.body.resize(std::size_t(request.length));
    if (!ReadInto(socket, request.body, request))
        return;
    ScrambleBytes(request.body, request.seed);
    request.complete = true;
}

} // namespace

PeerAction PeerAction::Reply(StatusCode status, std::vector<std::byte> body) {
    return {Kind::Reply, status, std::move(body)};
}
PeerAction PeerAction::Raw(std::vector<std::byte> bytes) {
    return {Kind::Raw, 0, std::move(bytes)};
}
PeerAction PeerAction::Hang() {
    return {Kind::Hang, 0, {}};
}
PeerAction PeerAction::Framed(int32_t lengthField, std::vector<std::byte> body) {
    return {Kind::Framed, 0, std::move(body), lengthField};
}
PeerAction PeerAction::ThenRefuse() && {
    thenRefuse = true;
    return std::move(*this);
}

ScriptedPeer::ScriptedPeer(bool listening) {
    acceptor_.open(tcp::v4());
    acceptor_.bind(tcp::endpoint(kLoopback, 0));
    port_ = acceptor_.local_endpoint().port();
    if (listening)
        Listen();
}

void ScriptedPeer::Listen() {
    if (thread_.joinable())
        return;
    acceptor_.listen();
    thread_ = std::thread([this] { Loop(); });
}

ScriptedPeer::~ScriptedPeer() {
    if (!thread_.joinable())
        return;
    stopping_ = true;
    const int current = currentSocket_.load();
    if (current >= 0)
        ::shutdown(current, SHUT_RDWR); // ends a read the served connection is blocked in
    asio::io_context io;
    tcp::socket wake(io); // ends the blocking accept
    asio::error_code ignored;
    wake.connect(tcp::endpoint(kLoopback, port_), ignored);
    thread_.join();
}

void ScriptedPeer::Push(PeerAction action) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(action));
}

std::vector<ReceivedRequest> ScriptedPeer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

PeerAction ScriptedPeer::NextAction() {
    std::lock_guard lock(mutex_);
    if (script_.empty())
        return PeerAction::Raw({});
    PeerAction action = std::move(script_.front());
    script_.pop_front();
    return action;
}

void ScriptedPeer::Loop() {
    for (;;) {
        tcp::socket socket(io_);
        asio::error_code error;
        acceptor_.accept(socket, error);
        if (stopping_)
            return;
        if (error)
            continue;
        currentSocket_ = socket.native_handle();
        Serve(socket);
        currentSocket_ = -1;
        if (!acceptor_.is_open())
            return; // an action asked for later connections to be refused
    }
}

void ScriptedPeer::Serve(tcp::socket& socket) {
    ReceivedRequest request;
    ReadRequest(socket, request);
    const int32_t seed = request.seed;
    const bool complete = request.complete;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    if (complete)
        ++completeRequests_;
    const PeerAction action = NextAction();
    asio::error_code error;
    if (action.thenRefuse)
        acceptor_.close(error); // before the answer: the client's next connect finds no listener
    switch (action.kind) {
    case PeerAction::Kind::Reply:
        asio::write(socket, asio::buffer(wire::EncodeReply(action.status, action.bytes, seed)),
                    error);
        break;
    case PeerAction::Kind::Raw:
        asio::write(socket, asio::buffer(action.bytes), error);
        break;
    case PeerAction::Kind::Framed: {
        std::vector<std::byte> out;
        for (int32_t field : {0, action.lengthField}) {
            const auto encoded = wire::EncodeInt(field);
            out.insert(out.end(), encoded.begin(), encoded.end());
        }
        std::vector<std::byte> body = action.bytes;
        ScrambleBytes(body, seed);
        out.insert(out.end(), body.begin(), body.end());
        asio::write(socket, asio::buffer(out), error);
        break;
    }
    case PeerAction::Kind::Hang: {
        std::array<std::byte, 256> sink{};
        while (!error && !stopping_)
            socket.read_some(asio::buffer(sink), error);
        break;
    }
    }
    socket.shutdown(tcp::socket::shutdown_both, error);
    socket.close(error);
}

StalledListener::StalledListener() {
    acceptor_.open(tcp::v4());
    acceptor_.bind(tcp::endpoint(kLoopback, 0));
    acceptor_.listen(0); // a queue of one connection
    port_ = acceptor_.local_endpoint().port();
    // The first filler takes the one place in the queue; once it is connected every later
    // handshake is dropped. The second is only a spare.
    for (int i = 0; i < 2; ++i) {
        tcp::socket& filler = fillers_.emplace_back(io_);
        filler.open(tcp::v4());
        filler.non_blocking(true);
        // The plain call: asio's own connect would wait for the handshake even on a
        // non-blocking socket.
        const tcp::endpoint to(kLoopback, port_);
        ::connect(filler.native_handle(), to.data(), socklen_t(to.size()));
    }
    pollfd first{fillers_.front().native_handle(), POLLOUT, 0};
    if (::poll(&first, 1, 5000) != 1 || (first.revents & POLLOUT) == 0)
        throw std::runtime_error("the stalled listener's queue could not be filled");
}

} // namespace tallyport::test
