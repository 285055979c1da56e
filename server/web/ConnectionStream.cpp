#include "web/ConnectionStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace tallyport::server::staff {
namespace {

void AddressOf(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

} // namespace

ConnectionStream::ConnectionStream(int fd, SSL* ssl, Timeouts timeouts,
                                   Clock::time_point firstBytesBy)
    : fd_(fd), ssl_(ssl), timeouts_(timeouts), firstBytesBy_(firstBytesBy) {}

ConnectionStream::Clock::time_point
ConnectionStream::Deadline(std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    return firstBytesBy_ ? std::min(deadline, *firstBytesBy_) : deadline;
}

bool ConnectionStream::Wait(short events, Clock::time_point deadline) const {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd_, events, 0};
        const int ready = ::poll(&p, 1, int(std::min<long long>(left, 60'000)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool ConnectionStream::WaitForTls(int result, Clock::time_point deadline) const {
    switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ:
        return Wait(POLLIN, deadline);
    case SSL_ERROR_WANT_WRITE:
        return Wait(POLLOUT, deadline);
    default:
        return false;
    }
}

bool ConnectionStream::Handshake() {
    if (ssl_ == nullptr)
        return true;
    const auto deadline = Deadline(timeouts_.read);
    for (;;) {
        ERR_clear_error();
        const int result = SSL_accept(ssl_);
        if (result == 1)
            return true;
        if (!WaitForTls(result, deadline))
            return false;
    }
}

bool ConnectionStream::WaitForMore(std::chrono::milliseconds timeout) {
    if (ssl_ != nullptr && SSL_pending(ssl_) > 0)
        return true;
    return Wait(POLLIN, Deadline(timeout));
}

void ConnectionStream::Close() {
    if (ssl_ != nullptr) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
    }
}

bool ConnectionStream::is_readable() const {
    return (ssl_ != nullptr && SSL_pending(ssl_) > 0) || Wait(POLLIN, Deadline(timeouts_.read));
}

bool ConnectionStream::is_writable() const {
    return Wait(POLLOUT, Deadline(timeouts_.write));
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    const auto deadline = Deadline(timeouts_.read);
    const int chunk = int(std::min<size_t>(size, 1 << 20));
    for (;;) {
        if (ssl_ != nullptr) {
            ERR_clear_error();
            const int n = SSL_read(ssl_, ptr, chunk);
            if (n > 0)
                return n;
            if (SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN)
                return 0;
            if (!WaitForTls(n, deadline))
                return -1;
            continue;
        }
        const ssize_t n = ::recv(fd_, ptr, size_t(chunk), 0);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN, deadline))
            return -1;
    }
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    const auto deadline = Deadline(timeouts_.write);
    const int chunk = int(std::min<size_t>(size, 1 << 20));
    for (;;) {
        if (ssl_ != nullptr) {
            ERR_clear_error();
            const int n = SSL_write(ssl_, ptr, chunk);
            if (n > 0)
                return n;
            if (!WaitForTls(n, deadline))
                return -1;
            continue;
        }
        const ssize_t n = ::send(fd_, ptr, size_t(chunk), MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLOUT, deadline))
            return -1;
    }
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        AddressOf(address, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        AddressOf(address, ip, port);
}

} // namespace tallyport::server::staff
