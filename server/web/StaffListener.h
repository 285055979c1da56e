// The staff listener's connections. Its own accept loop takes them on under the admission shared
// with the student listener (PeerAdmission): a cap per address (an over-cap connection is closed
// unread), a share of the open-file budget (before each accept; a waiting connection is shed when
// it runs out), and a first-bytes deadline for the TLS handshake and the request head.
//
// A connection that has sent something is served by WebConnection with Boost.Beast's
// asynchronous reads and writes on one io_context: each phase (handshake and head, body, the gap
// before the next request, the answer's write) has a deadline of its own, and a connection
// waiting on the network holds no thread. Only the route itself (SQLite, a password hash) runs
// on a small pool of workers.
#pragma once

#include "admission/PeerAdmission.h"
#include "web/HttpMessage.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace tallyport::server::staff {

class StaffListener {
public:
    struct Settings {
        int threads = 16;                                   // workers running routes
        std::chrono::milliseconds firstBytesTimeout{5'000}; // handshake and first request head
        std::chrono::milliseconds headTimeout{10'000};      // a later head, from its first byte
        std::chrono::milliseconds bodyTimeout{10'000};      // the whole body
        std::chrono::milliseconds keepAliveTimeout{5'000};  // the gap before the next request
        std::chrono::milliseconds writeTimeout{10'000};     // the whole answer
        std::size_t headerLimit = 16 << 10;                 // request line and headers
        std::size_t bodyCap = std::size_t(4) << 20;         // no route takes more
        SSL_CTX* tls = nullptr;                             // plain HTTP when null; not owned
        HttpHeaders defaultHeaders; // sent with every answer
    };

    // Serves the connections accepted on `listenFd` (bound and listening; owned from now on)
    // with the routes of `router`, which must outlive the listener.
    StaffListener(const Router& router, int listenFd, Settings settings,
                  std::shared_ptr<PeerAdmission> admission);
    ~StaffListener(); // Stop()
    StaffListener(const StaffListener&) = delete;
    StaffListener& operator=(const StaffListener&) = delete;

    // Stops accepting, closes what has not sent its request, lets the others finish the
    // request being answered, and joins.
    void Stop();

    struct Connection;
    struct Shared;

private:
    void AcceptLoop();
    void AcceptSome(std::vector<std::shared_ptr<Connection>>& waiting);

    struct Waker;
    const int listenFd_;
    const std::shared_ptr<Waker> waker_;
    const std::shared_ptr<PeerAdmission> admission_;
    std::atomic<bool> stopping_{false};
    // The accept loop's own: no room in the budget until the admission resumes it; no files
    // until retryAt_.
    bool paused_ = false;
    std::chrono::steady_clock::time_point retryAt_{};

    std::unique_ptr<Shared> shared_;
    std::thread acceptor_;
    std::vector<std::thread> networkThreads_;
};

} // namespace tallyport::server::staff
