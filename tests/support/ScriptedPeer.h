// A scriptable server for transaction tests, on 127.0.0.1 at an ephemeral port. It reads each
// request the way the protocol frames it, records it, and answers with the next scripted action.
// One thread serves one connection at a time (a transaction makes one at a time).
#pragma once

#include "protocol/Configuration.h"
#include "protocol/StatusCode.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tallyport::test {

struct ReceivedRequest {
    int32_t magic = 0;
    std::string address;
    int32_t seed = 0;
    int32_t length = 0;
    std::vector<std::byte> body; // unscrambled
    std::vector<std::byte> raw;  // every byte as it arrived, preamble included
    bool complete = false;       // all announced bytes arrived
};

struct PeerAction {
    enum class Kind { Reply, Raw, Hang, Framed };
    Kind kind = Kind::Raw;
    StatusCode status = 0;
    std::vector<std::byte> bytes;
    int32_t lengthField = 0; // Framed: the reply length announced, whatever follows
    // Stop listening before answering, so that every later connection is refused.
    bool thenRefuse = false;

    // The status and, for status 0, the body length and the body scrambled with the request's seed.
    static PeerAction Reply(StatusCode status, std::vector<std::byte> body = {});
    // These bytes exactly, then the connection is closed (nothing at all: closed before the
    // status).
    static PeerAction Raw(std::vector<std::byte> bytes);
    // No answer; the connection stays open until the client closes it.
    static PeerAction Hang();
    // Status 0, then `lengthField` as the reply length (true or not), then `body` scrambled with
    // the request's seed; then the connection is closed.
    static PeerAction Framed(int32_t lengthField, std::vector<std::byte> body);
    // This action, after which the port refuses connections.
    PeerAction ThenRefuse() &&;
};

class ScriptedPeer {
public:
    // With `listening` false the port is bound but refuses connections until Listen().
    explicit ScriptedPeer(bool listening = true);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    void Listen();
    // Actions for the coming connections, in order; when none is left a connection is closed
    // after its request, unanswered.
    void Push(PeerAction action);
    Endpoint endpoint() const { return {"127.0.0.1", port_}; }
    uint16_t port() const { return port_; }

    std::vector<ReceivedRequest> requests() const;
    // Connections whose request has been read in full so far (safe to poll from any thread).
    int completeRequests() const { return completeRequests_.load(); }

private:
    void Loop();
    void Serve(asio::ip::tcp::socket& socket);
    PeerAction NextAction();

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_{io_};
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> completeRequests_{0};
    std::atomic<int> currentSocket_{-1}; // native handle of the connection being served
    mutable std::mutex mutex_;
    std::deque<PeerAction> script_;
    std::vector<ReceivedRequest> requests_;
};

// A port on 127.0.0.1 whose listening queue is full and never drained: a connect to it neither
// succeeds nor fails for a long time (the SYN is dropped and retried), which is what a client
// sees while it waits on a far, slow server.
class StalledListener {
public:
    StalledListener();
    Endpoint endpoint() const { return {"127.0.0.1", port_}; }

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_{io_};
    std::vector<asio::ip::tcp::socket> fillers_;
    uint16_t port_ = 0;
};

} // namespace tallyport::test
