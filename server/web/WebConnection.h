// One accepted staff connection from its first bytes to its close: TLS handshake, then requests
// read, checked and answered with Boost.Beast, asynchronously on the listener's io_context. Each
// phase has its deadline; only the route runs on a worker of the listener's pool.
#pragma once

#include "admission/PeerAdmission.h"
#include "web/StaffListener.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace tallyport::server::staff {

// An accepted socket and its admission. The socket is handed to Beast once the connection has
// sent something; the file is closed before the ticket is released, so it is free by the time
// the admission lets a listener accept again.
struct StaffListener::Connection {
    using Clock = std::chrono::steady_clock;
    explicit Connection(int fd) : fd(fd) {}
    ~Connection();
    // Asked by the admission to make room: ends the connection unless it is closed already.
    void Shed();
    // The socket is closed (by whoever owns it now): Shed does nothing from here on.
    void Closed();

    const int fd;
    const Clock::time_point accepted = Clock::now();
    std::optional<PeerAdmission::Ticket> ticket;
    std::string peer; // the address, for the log
    std::mutex mutex;
    bool handedOver = false; // the socket belongs to a WebConnection
    bool closed = false;
};

// What every connection of one listener uses.
struct StaffListener::Shared {
    Shared(const Router& router, Settings settings, SSL_CTX* tls);

    const Router& router;
    const Settings settings;
    std::atomic<bool> stopping{false};
    std::optional<boost::asio::ssl::context> tls;
    boost::asio::thread_pool workers;

    // Connections being served, each with what ends it at Stop when it is between requests.
    std::mutex mutex;
    std::condition_variable allClosed;
    std::map<const void*, std::function<void()>> live;

    // Last, so that it is destroyed first, with the connections its handlers still hold.
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning;
};

// Serves `connection` (which has sent something) until it closes.
void ServeWebConnection(StaffListener::Shared& shared,
                        std::shared_ptr<StaffListener::Connection> connection);

} // namespace tallyport::server::staff
