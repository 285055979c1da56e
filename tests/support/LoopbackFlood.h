// Clients from chosen 127.0.0.x source addresses, for the server's flood tests and benchmark: one
// exchange by hand over a blocking socket, and a flood of idle connections that stays open (what
// the server closes is opened again) until it is stopped.
#pragma once

#include "protocol/Configuration.h"
#include "protocol/Keystream.h"
#include "protocol/NetMessage.h"
#include "protocol/Wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tallyport::test {

// Whether this build runs under AddressSanitizer, whose memory and time costs the flood tests
// allow for.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Lets this process open as many files as its hard limit allows, for holding a flood; false when
// that limit is below `atLeast`.
inline bool RaiseOwnFileLimit(rlim_t atLeast) {
    rlimit own{};
    if (::getrlimit(RLIMIT_NOFILE, &own) != 0)
        return false;
    if (own.rlim_max != RLIM_INFINITY && own.rlim_max < atLeast)
        return false;
    own.rlim_cur = own.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &own) == 0;
}

inline std::string Loopback(int last) {
    return "127.0.0." + std::to_string(last);
}

// A blocking TCP connection from `source` (any port) to `endpoint`; -1 if it cannot be made.
inline int ConnectFrom(const std::string& source, const Endpoint& endpoint) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // The port is chosen at connect, per destination: thousands of short connections from one
    // source address do not use up its ports.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    to.sin_port = htons(endpoint.port);
    if (::inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
        ::inet_pton(AF_INET, endpoint.host.c_str(), &to.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool SendAll(int fd, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes = bytes.subspan(std::size_t(n));
    }
    return true;
}

// Everything the peer sends until it closes (or resets) the connection; the patience only keeps
// a broken server from hanging the caller.
inline std::string ReceiveUntilClosed(int fd, int patienceMs = 60'000) {
    std::string received;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, patienceMs) <= 0)
            return received;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return received;
        received.append(buffer, std::size_t(n));
    }
}

// Sends `request` one byte a second from `source`; seconds from the connection to the server
// closing it (or 15 s, if it never does).
inline double SecondsUntilTricklerClosed(const Endpoint& endpoint, const std::string& source,
                                         std::span<const std::byte> request) {
    using Clock = std::chrono::steady_clock;
    const int fd = ConnectFrom(source, endpoint);
    if (fd < 0)
        return -1;
    const auto start = Clock::now();
    for (std::size_t sent = 0; Clock::now() - start < std::chrono::seconds(15); ++sent) {
        if (sent < request.size() && !SendAll(fd, request.subspan(sent, 1)))
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) > 0) {
            char byte;
            if (::recv(fd, &byte, 1, 0) <= 0)
                break;
        }
    }
    ::close(fd);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct RawAnswer {
    std::optional<StatusCode> status; // none: closed without an answer
    std::vector<std::byte> reply;     // unscrambled (status 0 only)
};

// What the server sent, read as an answer: the status and, for status 0, the unscrambled reply.
inline RawAnswer ReadAnswer(const std::string& received, int32_t seed) {
    RawAnswer answer;
    auto bytes = std::as_bytes(std::span(received.data(), received.size()));
    if (bytes.size() < 4)
        return answer;
    answer.status = wire::DecodeInt(bytes.first<4>());
    if (*answer.status != 0 || bytes.size() < 8)
        return answer;
    const int32_t length = wire::DecodeInt(bytes.subspan(4).first<4>());
    if (length < 0 || bytes.size() - 8 < std::size_t(length))
        return answer;
    answer.reply.assign(bytes.begin() + 8, bytes.begin() + 8 + length);
    ScrambleBytes(answer.reply, seed);
    return answer;
}

// One request from `source`, sent at once, and the whole answer.
inline RawAnswer ExchangeFrom(const std::string& source, const Endpoint& endpoint,
                              const NetMessage& request, int32_t seed = 0x2B0F3A17) {
    const int fd = ConnectFrom(source, endpoint);
    if (fd < 0)
        return {};
    std::string received;
    if (SendAll(fd, wire::EncodeRequest(source, seed, request.bytes())))
        received = ReceiveUntilClosed(fd);
    ::close(fd);
    return ReadAnswer(received, seed);
}

// `connections` idle connections spread evenly over `sources`, each sending nothing. A thread
// watches them: with `reopen`, one the server closes is opened again (at most kReopenPerRound
// every kRound, as a script would), so the flood holds until Stop.
class Flood {
public:
    static constexpr int kReopenPerRound = 100;
    static constexpr auto kRound = std::chrono::milliseconds(50);

    Flood(const Endpoint& endpoint, std::vector<std::string> sources, int connections,
          bool reopen = true)
        : endpoint_(endpoint), sources_(std::move(sources)), fds_(std::size_t(connections), -1),
          reopen_(reopen) {
        for (std::size_t i = 0; i < fds_.size(); ++i)
            fds_[i] = Open(i);
        watcher_ = std::thread([this] { Watch(); });
    }
    ~Flood() { Stop(); }
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    // Connections opened at the start that could not be made at all.
    int failedAtStart() const { return failedAtStart_; }
    // How many of the flood's connections the server has closed so far.
    int64_t closedByServer() const { return closed_.load(); }

    void Stop() {
        if (!watcher_.joinable())
            return;
        stop_ = true;
        watcher_.join();
        for (int& fd : fds_)
            if (fd >= 0)
                ::close(std::exchange(fd, -1));
    }

private:
    int Open(std::size_t slot) {
        const int fd = ConnectFrom(sources_[slot % sources_.size()], endpoint_);
        if (fd < 0 && !watcher_.joinable())
            ++failedAtStart_;
        return fd;
    }

    template <std::size_t N> static bool ClosedByPeer(int fd, char (&sink)[N]) {
        const ssize_t n = ::recv(fd, sink, N, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

    void Watch() {
        std::vector<pollfd> polled(fds_.size());
        char sink[256];
        while (!stop_) {
            for (std::size_t i = 0; i < fds_.size(); ++i)
                polled[i] = {fds_[i], POLLIN, 0}; // negative fds are ignored by poll
            ::poll(polled.data(), polled.size(), int(kRound.count()));
            int reopened = 0;
            for (std::size_t i = 0; i < fds_.size(); ++i) {
                if (fds_[i] >= 0 && polled[i].revents != 0 && ClosedByPeer(fds_[i], sink)) {
                    ::close(std::exchange(fds_[i], -1));
                    ++closed_;
                }
                if (reopen_ && fds_[i] < 0 && reopened < kReopenPerRound) {
                    fds_[i] = Open(i);
                    ++reopened;
                }
            }
            if (reopened == kReopenPerRound)
                std::this_thread::sleep_for(kRound);
        }
    }

    Endpoint endpoint_;
    std::vector<std::string> sources_;
    std::vector<int> fds_;
    bool reopen_;
    int failedAtStart_ = 0;
    std::atomic<int64_t> closed_{0};
    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

} // namespace tallyport::test
