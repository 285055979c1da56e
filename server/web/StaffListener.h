// The staff listener's connections: its own accept loop in place of cpp-httplib's, so that the
// staff port shares the student listener's protections (PeerAdmission): a cap per address (an
// over-cap connection is closed unread), a share of the open-file budget (before each accept;
// a waiting connection is shed when it runs out), and a first-bytes deadline for the TLS
// handshake and the request head. A connection gets one of the worker threads only once it has
// sent something, so idle connections cost a socket, never a thread; the requests themselves are
// answered by cpp-httplib (StaffHttp) on those threads, one connection per thread.
#pragma once

#include "admission/PeerAdmission.h"
#include "web/ConnectionStream.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tallyport::server::staff {

// The routes and the library's request handling, served on streams of our own.
class StaffHttp : public httplib::Server {
public:
    using Setup = std::function<void(httplib::Request&)>;
    bool Serve(httplib::Stream& stream, bool closeConnection, bool& connectionClosed,
               const Setup& setup) {
        return process_request(stream, closeConnection, connectionClosed, setup);
    }
    ConnectionStream::Timeouts timeouts() const;
    std::chrono::milliseconds keepAliveTimeout() const {
        return std::chrono::seconds(keep_alive_timeout_sec_);
    }
    std::size_t keepAliveMaxCount() const { return keep_alive_max_count_; }
    // The socket bind_to_port made, for a listener of our own.
    int TakeListeningSocket() { return svr_sock_.exchange(INVALID_SOCKET); }
};

class StaffListener {
public:
    struct Settings {
        int threads = 16;
        std::chrono::milliseconds firstBytesTimeout{5'000};
        SSL_CTX* tls = nullptr; // plain HTTP when null; not owned
    };

    // Serves the connections accepted on `listenFd` (bound and listening; owned from now on).
    StaffListener(StaffHttp& http, int listenFd, Settings settings,
                  std::shared_ptr<PeerAdmission> admission);
    ~StaffListener(); // Stop()
    StaffListener(const StaffListener&) = delete;
    StaffListener& operator=(const StaffListener&) = delete;

    // Stops accepting, closes what has not sent its request, ends the others once their
    // current request is answered, and joins.
    void Stop();

    struct Connection;

private:
    void AcceptLoop();
    void AcceptSome(std::vector<std::shared_ptr<Connection>>& waiting);
    void Work();
    void ServeConnection(Connection& connection);

    struct Waker;
    StaffHttp& http_;
    const int listenFd_;
    const std::shared_ptr<Waker> waker_;
    const Settings settings_;
    const std::shared_ptr<PeerAdmission> admission_;
    std::atomic<bool> stopping_{false};
    // The accept loop's own: no room in the budget until the admission resumes it; no files
    // until retryAt_.
    bool paused_ = false;
    std::chrono::steady_clock::time_point retryAt_{};

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::shared_ptr<Connection>> queue_; // sent something; waiting for a thread
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

} // namespace tallyport::server::staff
