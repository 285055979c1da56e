#include "web/StaffListener.h"

#include "web/WebConnection.h"

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
// Two threads wait on the network for every connection; the routes run on the workers.
constexpr int kNetworkThreads = 2;

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

StaffListener::StaffListener(const Router& router, int listenFd, Settings settings,
                             std::shared_ptr<PeerAdmission> admission)
    : listenFd_(listenFd), waker_(std::make_shared<Waker>()), admission_(std::move(admission)),
      shared_(std::make_unique<Shared>(router, settings, settings.tls)) {
    ::listen(listenFd_, SOMAXCONN);
    // Accepted in rounds until the backlog is empty.
    ::fcntl(listenFd_, F_SETFL, ::fcntl(listenFd_, F_GETFL) | O_NONBLOCK);
    for (int i = 0; i < kNetworkThreads; ++i)
        networkThreads_.emplace_back([this] { shared_->io.run(); });
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

StaffListener::~StaffListener() {
    Stop();
}

void StaffListener::Stop() {
    if (stopping_.exchange(true))
        return;
    shared_->stopping = true;
    waker_->Wake();
    acceptor_.join();
    ::close(listenFd_);
    // Connections between requests close now; a request being answered is finished first.
    {
        std::unique_lock lock(shared_->mutex);
        for (const auto& [session, close] : shared_->live)
            close();
        const auto settings = shared_->settings;
        shared_->allClosed.wait_for(lock, settings.bodyTimeout + settings.writeTimeout,
                                    [this] { return shared_->live.empty(); });
    }
    shared_->workers.join();
    shared_->keepRunning.reset();
    shared_->io.stop();
    for (auto& thread : networkThreads_)
        thread.join();
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
            next = std::min(next, connection->accepted + shared_->settings.firstBytesTimeout);
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
                ServeWebConnection(*shared_, std::move(connection));
            } else if (now < connection->accepted + shared_->settings.firstBytesTimeout) {
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
        connection->peer = PeerKey(address);
        connection->ticket = admission_->Admit(connection->peer, [weak] {
            if (const auto held = weak.lock())
                held->Shed();
        });
        if (!connection->ticket)
            continue; // over the cap per address: closed unread
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        waiting.push_back(std::move(connection));
    }
}

} // namespace tallyport::server::staff
