#include "web/StaffListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tallyport::server::staff {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kAcceptsPerRound = 64;
// When files ran out with nothing of ours to shed, the accept is tried again this much later.
constexpr milliseconds kFilesRetry{50};
// Stop ends kept-alive connections this soon, not at the end of their keep-alive timeout.
constexpr milliseconds kStopCheck{100};

std::string PeerKey(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                    sizeof text);
    else if (address.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text,
                    sizeof text);
    return PeerAdmission::AddressKey(text);
}

} // namespace

ConnectionStream::Timeouts StaffHttp::timeouts() const {
    const auto of = [](time_t sec, time_t usec) {
        return std::chrono::duration_cast<milliseconds>(std::chrono::seconds(sec) +
                                                        std::chrono::microseconds(usec));
    };
    return {of(read_timeout_sec_, read_timeout_usec_), of(write_timeout_sec_, write_timeout_usec_)};
}

// The socket is closed before the ticket is released, so the file is free by the time the
// admission lets a listener accept again.
struct StaffListener::Connection {
    explicit Connection(int fd) : fd(fd) {}
    ~Connection() {
        if (ssl != nullptr)
            SSL_free(ssl);
        ::close(fd);
    }
    const int fd;
    const Clock::time_point accepted = Clock::now();
    std::optional<PeerAdmission::Ticket> ticket;
    SSL* ssl = nullptr;
};

// Wakes the accept loop; outlives the listener in any resume the admission still holds.
struct StaffListener::Waker {
    Waker() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Waker() { ::close(fd); }
    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
    }
    void Drain() {
        uint64_t count = 0;
        [[maybe_unused]] const auto got = ::read(fd, &count, sizeof count);
    }
    const int fd;
    std::atomic<bool> resumed{false};
};

StaffListener::StaffListener(StaffHttp& http, int listenFd, Settings settings,
                             std::shared_ptr<PeerAdmission> admission)
    : http_(http), listenFd_(listenFd), waker_(std::make_shared<Waker>()), settings_(settings),
      admission_(std::move(admission)) {
    // The library listens with a backlog of 5; a burst of honest clients needs more.
    ::listen(listenFd_, SOMAXCONN);
    // Accepted in rounds until the backlog is empty.
    ::fcntl(listenFd_, F_SETFL, ::fcntl(listenFd_, F_GETFL) | O_NONBLOCK);
    for (int i = 0; i < std::max(1, settings_.threads); ++i)
        workers_.emplace_back([this] { Work(); });
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

StaffListener::~StaffListener() {
    Stop();
}

void StaffListener::Stop() {
    if (stopping_.exchange(true))
        return;
    waker_->Wake();
    acceptor_.join();
    ready_.notify_all();
    for (auto& worker : workers_)
        worker.join();
    ::close(listenFd_);
}

void StaffListener::AcceptLoop() {
    std::vector<std::shared_ptr<Connection>> waiting; // accepted, nothing sent yet
    std::vector<pollfd> polled;
    std::optional<Clock::time_point> burstsDue;
    while (!stopping_) {
        if (waker_->resumed.exchange(false))
            paused_ = false;
        auto now = Clock::now();
        const bool accepting = !paused_ && now >= retryAt_;
        auto next = now + std::chrono::seconds(1);
        if (!paused_ && !accepting)
            next = std::min(next, retryAt_);
        if (burstsDue)
            next = std::min(next, *burstsDue);
        polled.assign({{waker_->fd, POLLIN, 0}, {accepting ? listenFd_ : -1, POLLIN, 0}});
        for (const auto& connection : waiting) {
            polled.push_back({connection->fd, POLLIN, 0});
            next = std::min(next, connection->accepted + settings_.firstBytesTimeout);
        }
        const auto wait = std::chrono::ceil<milliseconds>(next - now).count();
        ::poll(polled.data(), polled.size(), int(std::max<long long>(wait, 0)));
        if (polled[0].revents != 0)
            waker_->Drain();
        now = Clock::now();
        // What has sent something goes to a thread; what missed its first bytes is closed.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            auto& connection = waiting[i];
            if (polled[i + 2].revents != 0) {
                std::lock_guard lock(mutex_);
                queue_.push_back(std::move(connection));
                ready_.notify_one();
            } else if (now < connection->accepted + settings_.firstBytesTimeout) {
                waiting[kept++] = std::move(connection);
            }
        }
        waiting.resize(kept);
        if (accepting && polled[1].revents != 0)
            AcceptSome(waiting);
        burstsDue = admission_->EndQuietBursts(now);
    }
    admission_->Forget(this);
}

void StaffListener::AcceptSome(std::vector<std::shared_ptr<Connection>>& waiting) {
    auto resume = [waker = waker_] {
        waker->resumed = true;
        waker->Wake();
    };
    for (int i = 0; i < kAcceptsPerRound; ++i) {
        if (!admission_->RoomOrShed(this, resume)) {
            paused_ = true;
            return;
        }
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                if (admission_->ShedForFiles(this, resume))
                    paused_ = true;
                else
                    retryAt_ = Clock::now() + kFilesRetry;
            }
            return;
        }
        auto connection = std::make_shared<Connection>(fd);
        std::weak_ptr<Connection> weak = connection;
        connection->ticket = admission_->Admit(PeerKey(address), [weak] {
            if (const auto held = weak.lock())
                ::shutdown(held->fd, SHUT_RDWR);
        });
        if (!connection->ticket)
            continue; // over the cap per address: closed unread
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        waiting.push_back(std::move(connection));
    }
}

void StaffListener::Work() {
    for (;;) {
        std::shared_ptr<Connection> connection;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            connection = std::move(queue_.front());
            queue_.pop_front();
        }
        ServeConnection(*connection);
    }
}

void StaffListener::ServeConnection(Connection& connection) {
    if (settings_.tls != nullptr) {
        connection.ssl = SSL_new(settings_.tls);
        if (connection.ssl == nullptr || SSL_set_fd(connection.ssl, connection.fd) != 1)
            return;
    }
    ConnectionStream stream(connection.fd, connection.ssl, http_.timeouts(),
                            connection.accepted + settings_.firstBytesTimeout);
    if (!stream.Handshake())
        return;
    const StaffHttp::Setup headArrived = [&](httplib::Request&) {
        connection.ticket->RequestArrived();
        stream.HeadArrived();
    };
    for (auto left = http_.keepAliveMaxCount(); left > 0; --left) {
        bool closed = false;
        if (!http_.Serve(stream, left == 1 || stopping_, closed, headArrived) || closed)
            break;
        // Kept alive: wait for the next request, and look at Stop now and then.
        const auto until = Clock::now() + http_.keepAliveTimeout();
        bool more = false;
        while (!more && !stopping_ && Clock::now() < until)
            more = stream.WaitForMore(
                std::min(kStopCheck, std::chrono::ceil<milliseconds>(until - Clock::now())));
        if (!more)
            break;
    }
    stream.Close();
}

} // namespace tallyport::server::staff
