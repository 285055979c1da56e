// One staff connection as cpp-httplib reads and writes it: a non-blocking socket, with TLS when
// an SSL object is given, where every wait has a deadline. Until the request head has arrived
// (HeadArrived), no wait reaches past the connection's first-bytes deadline, so a client that
// trickles its handshake or head a byte at a time is closed then, however steadily it sends.
#pragma once

#include <httplib.h>

#include <chrono>
#include <optional>

namespace tallyport::server::staff {

class ConnectionStream : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;

    struct Timeouts {
        std::chrono::milliseconds read{10'000}, write{10'000};
    };

    // `ssl` (may be null) is set up on `fd` and still owned by the caller.
    ConnectionStream(int fd, SSL* ssl, Timeouts timeouts, Clock::time_point firstBytesBy);

    // The TLS handshake (nothing to do without TLS); false when it fails or misses the deadline.
    bool Handshake();
    // The request head is in: from now on only the read and write timeouts apply.
    void HeadArrived() { firstBytesBy_.reset(); }
    // Waits up to `timeout` for the next request on a kept-alive connection.
    bool WaitForMore(std::chrono::milliseconds timeout);
    // Ends TLS politely, without waiting for the client's answer.
    void Close();

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return fd_; }

private:
    Clock::time_point Deadline(std::chrono::milliseconds timeout) const;
    // Polls for `events` until `deadline`; true when the socket is ready.
    bool Wait(short events, Clock::time_point deadline) const;
    // After a TLS call returned `result`: waits for what it wants; false when it failed.
    bool WaitForTls(int result, Clock::time_point deadline) const;

    int fd_;
    SSL* ssl_;
    Timeouts timeouts_;
    std::optional<Clock::time_point> firstBytesBy_;
};

} // namespace tallyport::server::staff
