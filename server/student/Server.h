// The protocol peer: accepts connections on one address and port, reads the preamble and the
// scrambled request, answers with a status and (for status 0) a scrambled reply, and closes.
// Runs on a small pool of threads, each with its own event loop (a connection stays on one);
// every connection has an idle deadline and a body cap, so a stalled or hostile client costs a
// socket and a timer, never a thread. Which connections are taken on at all (a cap per address,
// a budget the open files allow) is PeerAdmission's decision.
#pragma once

#include "admission/PeerAdmission.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tallyport::server {

class Store;

struct ServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 2047; // 0 = an ephemeral port (see Server::port())
    int threads = 4;
    // Requests that use the store run here, off the connections' loops; an upload holds one
    // while it waits for the disk, and uploads waiting together are committed together.
    int storageThreads = 16;
    int64_t bodyCap = int64_t(64) << 20;                   // request bodies above this are refused
    std::chrono::milliseconds idleTimeout{30'000};         // no progress for this long closes it
    std::chrono::milliseconds connectionDeadline{600'000}; // whole exchange at most this long
    // The preamble and the body length must have arrived this long after the connection opened.
    std::chrono::milliseconds firstBytesTimeout{5'000};
    int maxPerAddress = 128; // connections one peer address may hold at once; 0: no cap
    // Connections held in all; 0: what the open-file limit leaves room for (ConnectionBudget).
    std::size_t maxConnections = 0;
    // Shared with the process's other listeners, so that they share one budget; none: its own.
    std::shared_ptr<PeerAdmission> admission;
    // On Stop, exchanges in flight get this long to finish before their sockets are closed.
    std::chrono::milliseconds stopGrace{10'000};
    bool logRequests = true; // one line per request on stderr
};

class Server {
public:
    Server(Store& store, ServerOptions options);
    ~Server(); // Stop()
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds, listens and starts the threads. False (with the reason in `error`) if it cannot.
    bool Start(std::string& error);
    // Stops accepting, lets the exchanges in flight finish (up to their deadlines), joins.
    void Stop();
    uint16_t port() const;
    int64_t requestsServed() const;
    // The admission in use while serving: another listener of the process passes it in its own
    // options, so that both share one budget of files and one count per address.
    std::shared_ptr<PeerAdmission> admission() const;

    struct Impl; // the listener, threads and connections (Server.cpp)

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tallyport::server
