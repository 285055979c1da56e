#include "student/Server.h"

#include "student/CourseListCache.h"
#include "admission/OpenFileLimit.h"
#include "student/RequestHandler.h"
#include "store/Store.h"
#include "protocol/Keystream.h"
#include "protocol/Wire.h"

#include <asio.hpp>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tallyport::server {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// A body up to this length gets its whole buffer at once, so that it is never copied; only
// the pages its bytes fill become resident. A longer one starts here and doubles as bytes
// arrive, so that a promised length alone reserves at most this much address space.
constexpr std::size_t kFirstBodyBuffer = 8 << 20;
// After a refusal the rest of what the client sends is read and dropped (at most this much, for
// at most this long) so that closing does not reset the connection before the status arrives.
constexpr std::size_t kDrainLimit = 256 * 1024;
constexpr auto kDrainTime = std::chrono::milliseconds(1000);

int32_t ReadInt(const std::byte* p) {
    return wire::DecodeInt(std::span<const std::byte, 4>(p, 4));
}

void WriteInt(std::byte* p, int32_t value) {
    const auto bytes = wire::EncodeInt(value);
    std::copy(bytes.begin(), bytes.end(), p);
}

std::string PeerText(const tcp::endpoint& peer) {
    auto address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    return address.to_string();
}

std::shared_ptr<spdlog::logger> RequestLog() {
    static auto log = [] {
        auto logger = std::make_shared<spdlog::logger>(
            "requests", std::make_shared<spdlog::sinks::stderr_sink_mt>());
        logger->set_pattern("%Y-%m-%dT%H:%M:%S.%e %v");
        return logger;
    }();
    return log;
}

} // namespace

struct Server::Impl {
    Impl(Store& s, ServerOptions o) : store(s), courseList(s), options(std::move(o)) {}

    Store& store;
    CourseListCache courseList;
    ServerOptions options;
    std::atomic<int64_t> served{0};
    std::mutex mutex;
    std::condition_variable idle;
    int active = 0; // sessions alive (guarded by mutex)
    uint16_t boundPort = 0;

    // One event loop per thread: a connection lives on one loop from accept to close, so its
    // handlers never wait for or wake another thread.
    using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;
    std::vector<std::unique_ptr<asio::io_context>> loops;
    std::vector<WorkGuard> keepRunning;
    // Connections open on each loop (by loop index), for choosing where a new one goes.
    std::unique_ptr<std::atomic<int>[]> openOnLoop;
    // Every loop listens on the port with a socket of its own (SO_REUSEPORT), and the kernel
    // spreads the new connections over them: a connection finds a loop already waiting for it,
    // where one listener would make a lone client's next connection wait for the loop that is
    // still closing the last one. Each acceptor's state is used on its own loop only.
    struct Acceptor {
        Acceptor(std::size_t index, asio::io_context& io)
            : loop(index), io(io), socket(io), retry(io) {}
        std::size_t loop; // index in `loops`
        asio::io_context& io;
        tcp::acceptor socket;
        asio::steady_timer retry;
        bool pending = false;
        bool paused = false; // waiting for a connection to be released (see Accept)
        std::promise<void>* closed = nullptr;
    };
    std::vector<std::unique_ptr<Acceptor>> acceptors;
    std::unique_ptr<asio::steady_timer> burstLog; // ends the admission's quiet log bursts (loop 0)
    std::shared_ptr<PeerAdmission> admission;
    std::vector<std::thread> threads;
    std::unique_ptr<asio::thread_pool> storage; // runs the requests that use the store
    bool running = false;
    bool burstLogArmed = false; // on loop 0

    std::size_t LoopForNext(std::size_t accepting) const;
    bool Listen(const asio::ip::address& address, std::string& error);
    void Accept(Acceptor& acceptor);
    std::function<void()> Resumer(Acceptor& acceptor);
    bool ConnectionWaiting(Acceptor& acceptor);
    void WaitForConnection(Acceptor& acceptor);
    void ResumeAccept(Acceptor& acceptor);
    void AcceptFailed(Acceptor& acceptor, const asio::error_code& error);
    int AcceptNow(Acceptor& acceptor, tcp::endpoint& peer, asio::error_code& error);
    void WatchBursts();
    void StartSession(int fd, const tcp::endpoint& peer, std::size_t loop);
    void CloseAcceptor(Acceptor& acceptor, std::promise<void>& done);
    void SessionStarted() {
        std::lock_guard lock(mutex);
        ++active;
    }
    void SessionEnded() {
        std::lock_guard lock(mutex);
        if (--active == 0)
            idle.notify_all();
    }
};

namespace {

// Body buffers up to this size are kept by their loop's thread when their request has been
// answered, for the next bodies that fit: a fresh one would be new pages, each faulted in and
// cleared by the kernel as the body arrives (a tenth of an upload's time). A loop keeps up to
// kKeptBodyBytes of them, so that uploads arriving together find one each.
constexpr std::size_t kKeptBodyBuffer = 2 << 20;
constexpr std::size_t kKeptBodyBytes = 8 << 20;

// The request body as it arrives: resident memory grows with the bytes received (the buffer is
// not cleared, and grows by doubling past kFirstBodyBuffer, never past the announced length),
// not with the length a client announces.
class BodyBuffer {
public:
    void Expect(std::size_t length) {
        length_ = length;
        const std::size_t first = std::min(length, kFirstBodyBuffer);
        // The smallest kept buffer that holds the whole body, else the largest one.
        const auto better = [length](const KeptBuffer& a, const KeptBuffer& b) {
            const bool aHolds = a.capacity >= length, bHolds = b.capacity >= length;
            if (aHolds != bHolds)
                return aHolds;
            return aHolds ? a.capacity < b.capacity : a.capacity > b.capacity;
        };
        auto& kept = Kept();
        auto chosen = kept.buffers.end();
        for (auto it = kept.buffers.begin(); it != kept.buffers.end(); ++it)
            if (it->capacity >= first && (chosen == kept.buffers.end() || better(*it, *chosen)))
                chosen = it;
        if (chosen != kept.buffers.end()) {
            data_ = std::move(chosen->data);
            capacity_ = chosen->capacity;
            kept.bytes -= capacity_;
            kept.buffers.erase(chosen);
            return;
        }
        Grow(first);
    }
    // Done with the body: the buffer is kept for a next one when it is small enough and the
    // loop keeps few enough.
    void Recycle() {
        auto& kept = Kept();
        if (data_ && capacity_ <= kKeptBodyBuffer && kept.bytes + capacity_ <= kKeptBodyBytes) {
            kept.bytes += capacity_;
            kept.buffers.push_back({std::move(data_), capacity_});
        }
        *this = {};
    }
    std::size_t size() const { return size_; }
    // Where the next bytes go: never empty while the body is incomplete.
    std::span<std::byte> Space() {
        if (size_ == capacity_)
            Grow(std::min(length_, capacity_ * 2));
        return {data_.get() + size_, std::min(capacity_, length_) - size_}; // a kept one is larger
    }
    // Counts `n` bytes written into Space(); returns them.
    std::span<std::byte> Received(std::size_t n) {
        std::span<std::byte> added(data_.get() + size_, n);
        size_ += n;
        return added;
    }
    std::span<const std::byte> bytes() const { return {data_.get(), size_}; }

private:
    void Grow(std::size_t capacity) {
        auto grown =
            std::make_unique_for_overwrite<std::byte[]>(std::max<std::size_t>(capacity, 1));
        if (size_ > 0)
            std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = std::max<std::size_t>(capacity, 1);
    }

    struct KeptBuffer {
        std::unique_ptr<std::byte[]> data;
        std::size_t capacity = 0;
    };
    struct KeptBuffers {
        std::vector<KeptBuffer> buffers;
        std::size_t bytes = 0;
    };
    static KeptBuffers& Kept() {
        thread_local KeptBuffers kept;
        return kept;
    }

    std::unique_ptr<std::byte[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0;
};

// One connection: preamble, body, reply, close. All of its handlers run on its socket's loop,
// one thread, one at a time.
class Session : public std::enable_shared_from_this<Session> {
public:
    // `fd`: the accepted socket, non-blocking; the session owns it.
    Session(Server::Impl& server, int fd, const tcp::endpoint& peer, std::size_t loop)
        : server_(server), fd_(fd), protocol_(peer.protocol()), socket_(*server.loops[loop]),
          timer_(socket_.get_executor()), started_(Clock::now()),
          deadline_(started_ + server.options.connectionDeadline),
          firstBytesBy_(started_ + server.options.firstBytesTimeout), peer_(PeerText(peer)),
          openOnLoop_(&server.openOnLoop[loop]) {
        ++*openOnLoop_;
        server_.SessionStarted();
    }
    ~Session() {
        if (fd_ >= 0)
            ::close(fd_);
        LeaveLoop();
        server_.SessionEnded();
    }

    tcp::socket::executor_type executor() { return socket_.get_executor(); }
    const std::string& peer() const { return peer_; }

    // Reads and writes are tried at once and wait only when the socket is not ready, so a
    // request that has fully arrived is answered without a trip through the loop.
    void Start(PeerAdmission::Ticket ticket) {
        ticket_.emplace(std::move(ticket));
        ReadHead();
    }

private:
    // Magic, address length: 8 bytes.
    void ReadHead() {
        Read(head_.data(), 8, [this](auto self) {
            if (!wire::IsProtocolMagic(ReadInt(head_.data()))) {
                handled_.detail = "wrong magic";
                return Refuse(status::kOldVersion);
            }
            // Longer address texts are not from a client of ours: closed without a reply.
            const int32_t addressLength = ReadInt(head_.data() + 4);
            if (!wire::IsValidAddressLength(addressLength))
                return Finish("bad address length");
            addressText_.resize(std::size_t(addressLength) + 8);
            ReadAddressSeedLength(std::move(self));
        });
    }

    // Address text, seed, body length.
    void ReadAddressSeedLength(std::shared_ptr<Session>) {
        Read(addressText_.data(), addressText_.size(), [this](auto) {
            firstBytesArrived_ = true;
            const std::byte* tail = addressText_.data() + addressText_.size() - 8;
            seed_ = ReadInt(tail);
            const int32_t length = ReadInt(tail + 4);
            context_.claimedAddress.assign(reinterpret_cast<const char*>(addressText_.data()),
                                           addressText_.size() - 8);
            if (length < 0)
                return Finish("negative body length");
            if (length > server_.options.bodyCap) {
                handled_.detail = "body of " + std::to_string(length) + " bytes over the cap";
                return Refuse(status::kServerError);
            }
            bodyLength_ = std::size_t(length);
            keystream_.emplace(seed_);
            body_.Expect(bodyLength_);
            ReadBody();
        });
    }

    // Reads whatever has arrived into the free part of the buffer (one call takes as much as the
    // socket holds) and unscrambles it at once with the running keystream.
    void ReadBody() {
        if (body_.size() == bodyLength_)
            return Answer();
        const auto space = body_.Space();
        if (const std::size_t taken = TakeAhead(space); taken > 0) {
            keystream_->Apply(body_.Received(taken));
            return ReadBody();
        }
        if (!Wait())
            return Finish(CannotWait());
        socket_.async_read_some(
            asio::buffer(space.data(), space.size()),
            [self = shared_from_this()](asio::error_code error, std::size_t got) {
                self->bytesIn_ += got;
                if (error)
                    return self->Finish(self->Closed());
                self->keystream_->Apply(self->body_.Received(got));
                self->ReadBody();
            });
    }

    void Answer() {
        RequestArrived();
        context_.peerAddress = peer_;
        context_.now = int64_t(std::time(nullptr));
        context_.courseList = &server_.courseList;
        // The course list is answered from memory here. Requests that use the store may wait for
        // the disk (an upload waits for its flushes and its group's commit): they run on the
        // storage threads, so that this loop goes on reading other bodies meanwhile and uploads
        // that finish together are committed together.
        if (body_.size() < 4 || ReadInt(body_.bytes().data()) == request::kCourseList)
            return Reply(HandleRequest(server_.store, body_.bytes(), context_));
        asio::post(*server_.storage, [self = shared_from_this()] {
            auto handled = HandleRequest(self->server_.store, self->body_.bytes(), self->context_);
            asio::post(self->executor(), [self, handled = std::move(handled)]() mutable {
                self->Reply(std::move(handled));
            });
        });
    }

    void Reply(HandledRequest handled) {
        handled_ = std::move(handled);
        body_.Recycle(); // on the session's loop
        WriteInt(status_.data(), handled_.status);
        std::vector<asio::const_buffer> out{asio::buffer(status_.data(), 4)};
        if (handled_.status == status::kSuccess) {
            WriteInt(status_.data() + 4, int32_t(handled_.reply.size()));
            ScrambleBytes(handled_.reply, seed_);
            out.push_back(asio::buffer(status_.data() + 4, 4));
            out.push_back(asio::buffer(handled_.reply));
        }
        bytesOut_ = 0;
        for (const auto& b : out)
            bytesOut_ += b.size();
        std::array<iovec, 3> parts{};
        for (std::size_t i = 0; i < out.size(); ++i)
            parts[i] = {const_cast<void*>(out[i].data()), out[i].size()};
        msghdr message{};
        message.msg_iov = parts.data();
        message.msg_iovlen = out.size();
        // MSG_MORE: the close that follows a whole reply sends its end in the same segment, so
        // the client is woken once, for the reply and its end together.
        const ssize_t n = ::sendmsg(Fd(), &message, MSG_NOSIGNAL | MSG_MORE);
        if (n < 0 && !WouldBlock())
            return Finish("reply not delivered: " + LastError().message());
        if (std::size_t(std::max<ssize_t>(n, 0)) == bytesOut_)
            return Finish({});
        // The rest goes when the socket takes it.
        std::size_t sent = std::size_t(std::max<ssize_t>(n, 0));
        std::vector<asio::const_buffer> rest;
        for (const auto& b : out) {
            if (sent < b.size())
                rest.push_back(b + sent);
            sent -= std::min(sent, b.size());
        }
        if (!Wait())
            return Finish(CannotWait());
        asio::async_write(
            socket_, rest, [self = shared_from_this()](asio::error_code error, std::size_t) {
                self->Finish(error ? "reply not delivered: " + error.message() : std::string());
            });
    }

    // Sends a status without reply, then reads and drops what the client still sends (bounded),
    // so that the status is not lost to a connection reset.
    void Refuse(StatusCode status) {
        RequestArrived();
        handled_.status = status;
        WriteInt(status_.data(), status);
        bytesOut_ = 4;
        if (!Wait())
            return Finish(CannotWait());
        asio::async_write(socket_, asio::buffer(status_.data(), 4),
                          [self = shared_from_this()](asio::error_code error, std::size_t) {
                              if (error)
                                  return self->Finish("refusal not delivered");
                              asio::error_code ignored;
                              self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
                              self->drainUntil_ = Clock::now() + kDrainTime;
                              self->Drain();
                          });
    }

    void Drain() {
        if (drained_ >= kDrainLimit)
            return Finish({});
        drainBuffer_.resize(4096);
        limit_ = std::min(drainUntil_, deadline_);
        timer_.expires_at(limit_); // the refusal's write has started the watch
        socket_.async_read_some(asio::buffer(drainBuffer_),
                                [self = shared_from_this()](asio::error_code error, std::size_t n) {
                                    self->bytesIn_ += n;
                                    self->drained_ += n;
                                    if (error)
                                        return self->Finish({});
                                    self->Drain();
                                });
    }

    // Reads exactly n bytes; on success runs then(self), otherwise finishes. The preamble's
    // fields are small: whatever has arrived is read at once into `ahead_` and taken from there,
    // so that a whole small request costs one read, not one per field.
    template <typename Then> void Read(std::byte* at, std::size_t n, Then then) {
        const std::size_t taken = TakeAhead({at, n});
        if (taken == n)
            return then(shared_from_this());
        const ssize_t got = ::recv(Fd(), ahead_.data(), ahead_.size(), 0);
        if (got > 0) {
            bytesIn_ += std::size_t(got);
            aheadBegin_ = 0;
            aheadEnd_ = std::size_t(got);
            return Read(at + taken, n - taken, then);
        }
        if (got == 0 || !WouldBlock())
            return Finish(Closed());
        if (!Wait())
            return Finish(CannotWait());
        socket_.async_read_some(
            asio::buffer(ahead_),
            [self = shared_from_this(), at, n, taken, then](asio::error_code error,
                                                            std::size_t got) {
                self->bytesIn_ += got;
                if (error)
                    return self->Finish(self->Closed());
                self->aheadBegin_ = 0;
                self->aheadEnd_ = got;
                self->Read(at + taken, n - taken, then);
            });
    }

    // Moves bytes already read ahead into `to`; how many.
    std::size_t TakeAhead(std::span<std::byte> to) {
        const std::size_t n = std::min(to.size(), aheadEnd_ - aheadBegin_);
        if (n > 0)
            std::memcpy(to.data(), ahead_.data() + aheadBegin_, n);
        aheadBegin_ += n;
        return n;
    }

    // Every step gets the idle timeout, never beyond the connection's deadline, nor beyond the
    // first-bytes deadline until the body length has arrived: a client trickling its preamble
    // makes progress but is still closed then. Only the limit moves here; the timer catches up
    // when it fires, so progress costs no timer call.
    void ArmTimer() {
        limit_ = std::min(Clock::now() + server_.options.idleTimeout, deadline_);
        if (!firstBytesArrived_)
            limit_ = std::min(limit_, firstBytesBy_);
    }

    // Before every wait for the socket: the limit moves on. The first wait hands the socket to
    // the loop to watch and starts the deadline watch, so that an exchange that never waits
    // costs neither (joining the loop's watch list and leaving it again cost more than the
    // exchange's reads and writes). False if the loop cannot watch it.
    bool Wait() {
        ArmTimer();
        if (watching_)
            return true;
        asio::error_code error;
        socket_.assign(protocol_, fd_, error);
        if (error)
            return false;
        fd_ = -1;
        watching_ = true;
        timer_.expires_at(limit_);
        WatchDeadline();
        return true;
    }

    int Fd() { return watching_ ? socket_.native_handle() : fd_; }

    static bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
    static asio::error_code LastError() { return {errno, asio::system_category()}; }
    static std::string CannotWait() { return "cannot watch the socket"; }

    void RequestArrived() {
        requestArrived_ = true;
        ticket_->RequestArrived();
    }

    std::string Closed() const {
        if (!timedOut_)
            return "closed by the client";
        return firstBytesArrived_ ? "timed out" : "timed out before the body length";
    }

public:
    // Picked to make room when the open files run out (PeerAdmission): closed without an answer.
    // Counted in the admission's log, so it writes no line of its own.
    void Shed() {
        if (finished_ || requestArrived_) // picked just before its request came in: answered
            return;
        quiet_ = true;
        Finish("shed");
    }

private:
    // One wait runs for the session's whole life: when it fires before the limit (which progress
    // has moved on), it waits again until the limit; once the limit has passed it closes the
    // socket, which ends the read or write in progress.
    void WatchDeadline() {
        timer_.async_wait([self = shared_from_this()](asio::error_code error) {
            if (self->finished_)
                return;
            const auto now = Clock::now();
            if (!error && self->timer_.expiry() <= now) {
                if (self->limit_ <= now) {
                    self->timedOut_ = true;
                    asio::error_code ignored;
                    self->socket_.close(ignored);
                    return;
                }
                self->timer_.expires_at(self->limit_);
            }
            self->WatchDeadline();
        });
    }

    // No longer counted on its loop; before the socket closes, so that a client's next
    // connection finds the loop free again.
    void LeaveLoop() {
        if (openOnLoop_)
            --*std::exchange(openOnLoop_, nullptr);
    }

    void Finish(std::string problem) {
        if (finished_)
            return;
        finished_ = true;
        LeaveLoop();
        if (watching_) {
            timer_.cancel();
            asio::error_code ignored;
            socket_.shutdown(tcp::socket::shutdown_both, ignored);
            socket_.close(ignored);
        } else {
            ::shutdown(fd_, SHUT_RDWR);
            ::close(std::exchange(fd_, -1));
        }
        ticket_.reset(); // its file is free: a paused accept may go on
        if (!problem.empty() && handled_.detail.empty())
            handled_.detail = std::move(problem);
        const bool answered = handled_.kind != 0 || bytesOut_ > 0;
        if (answered)
            ++server_.served;
        if (server_.options.logRequests && !quiet_)
            Log(answered);
    }

    void Log(bool answered) const {
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
        std::string kind = std::to_string(handled_.kind);
        if (handled_.step != 0)
            kind += handled_.step;
        RequestLog()->info(
            "peer={} kind={} course={} student={} status={} in={} out={} ms={:.1f}{}{}", peer_,
            answered ? kind : "-", handled_.course, handled_.student,
            answered ? std::to_string(handled_.status) : "-", bytesIn_, bytesOut_, ms,
            handled_.detail.empty() ? "" : " ", handled_.detail);
    }

    Server::Impl& server_;
    int fd_; // the socket until the loop watches it (then -1, and socket_ holds it)
    tcp protocol_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    Clock::time_point started_;
    Clock::time_point deadline_;
    Clock::time_point drainUntil_;
    Clock::time_point firstBytesBy_;
    Clock::time_point limit_; // the socket is closed when no progress is made by then
    std::string peer_;
    std::optional<PeerAdmission::Ticket> ticket_;
    std::array<std::byte, 8> head_{};
    std::array<std::byte, 128> ahead_{}; // read but not yet taken: [aheadBegin_, aheadEnd_)
    std::size_t aheadBegin_ = 0, aheadEnd_ = 0;
    std::vector<std::byte> addressText_;
    int32_t seed_ = 0;
    std::size_t bodyLength_ = 0;
    std::optional<Keystream> keystream_;
    BodyBuffer body_;
    std::vector<std::byte> drainBuffer_;
    std::size_t drained_ = 0;
    RequestContext context_;
    HandledRequest handled_{};
    std::array<std::byte, 8> status_{};
    std::size_t bytesIn_ = 0;
    std::size_t bytesOut_ = 0;
    bool timedOut_ = false;
    bool finished_ = false;
    bool firstBytesArrived_ = false; // the preamble and the body length
    bool requestArrived_ = false;
    bool quiet_ = false;
    bool watching_ = false; // socket_ holds the socket and the deadline watch runs (see Wait)
    std::atomic<int>* openOnLoop_; // null once it has left
};

} // namespace

// A connection over its address's cap is dropped here with the session: its socket closes
// before a byte of it is read.
void Server::Impl::StartSession(int fd, const tcp::endpoint& peer, std::size_t loop) {
    auto session = std::make_shared<Session>(*this, fd, peer, loop);
    auto ticket = admission->Admit(PeerAdmission::AddressKey(session->peer()),
                                   [weak = std::weak_ptr<Session>(session)] {
                                       if (auto shed = weak.lock())
                                           asio::post(shed->executor(), [shed] { shed->Shed(); });
                                   });
    if (!ticket) {
        WatchBursts();
        return;
    }
    // The session starts on its socket's loop, where all of its handlers run: at once when that
    // is the accepting loop.
    asio::dispatch(session->executor(), [session, ticket = std::move(*ticket)]() mutable {
        session->Start(std::move(ticket));
    });
}

// A connection stays on the loop that accepted it unless that loop holds two or more connections
// than the quietest: the kernel spreads connections evenly, and this evens out the ones that stay
// long (uploads, slow clients) without waking another thread for every connection under load.
// Chosen as the connection is taken, so that it never moves.
std::size_t Server::Impl::LoopForNext(std::size_t accepting) const {
    std::size_t quietest = accepting;
    for (std::size_t i = 0; i < loops.size(); ++i)
        if (openOnLoop[i] < openOnLoop[quietest])
            quietest = i;
    return openOnLoop[accepting] >= openOnLoop[quietest] + 2 ? quietest : accepting;
}

// Binds one listening socket per loop to the address and port. A plain socket is bound first, so
// that a port in use fails here as it always has, also when the other user is a server of ours
// (its sockets would otherwise join this one's and share the connections); its port is the one
// taken when none was given.
bool Server::Impl::Listen(const asio::ip::address& address, std::string& error) {
    tcp::endpoint endpoint(address, options.port);
    asio::error_code ec;
    const auto bind = [&](tcp::acceptor& socket, bool sharedPort) {
        socket.open(endpoint.protocol(), ec);
        if (!ec)
            socket.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec && sharedPort)
            socket.set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>(true),
                              ec);
        if (!ec)
            socket.bind(endpoint, ec);
    };
    {
        tcp::acceptor probe(*loops.front());
        bind(probe, false);
        if (!ec)
            endpoint.port(probe.local_endpoint(ec).port());
    }
    for (std::size_t i = 0; i < loops.size() && !ec; ++i) {
        auto& acceptor = *acceptors.emplace_back(std::make_unique<Acceptor>(i, *loops[i]));
        bind(acceptor.socket, true);
        if (!ec)
            acceptor.socket.listen(asio::socket_base::max_listen_connections, ec);
        if (!ec)
            acceptor.socket.non_blocking(true, ec); // Accept takes a connection once one is there
    }
    if (ec) {
        error = "cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " +
                ec.message();
        acceptors.clear();
        return false;
    }
    boundPort = endpoint.port();
    return true;
}

// Takes a connection that is waiting: its socket, non-blocking, or -1 with the reason (would_block
// when none is waiting). Connections that failed while they waited are passed over.
int Server::Impl::AcceptNow(Acceptor& acceptor, tcp::endpoint& peer, asio::error_code& error) {
    for (;;) {
        socklen_t length = socklen_t(peer.capacity());
        const int fd = ::accept4(acceptor.socket.native_handle(), peer.data(), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            peer.resize(length);
            return fd;
        }
        if (errno != ECONNABORTED && errno != EPROTO && errno != EINTR) {
            error = {errno, asio::system_category()};
            return -1;
        }
    }
}

// Before each accept the admission is asked for room. At the budget, once a client waits to be
// taken, it has one connection shed that has not sent its request, and the accept pauses until a
// connection is released: the server never runs out of files on its own connections and takes
// the waiting client as soon as the shed one has closed.
void Server::Impl::Accept(Acceptor& acceptor) {
    if (!acceptor.socket.is_open())
        return;
    // At the budget an acceptor asks for room only with a connection waiting: the acceptors a
    // release resumes together would otherwise each have a connection shed for nobody.
    if (!admission->HasRoom() && !ConnectionWaiting(acceptor))
        return WaitForConnection(acceptor);
    if (!admission->RoomOrShed(&acceptor, Resumer(acceptor))) {
        acceptor.paused = true;
        WatchBursts();
        return;
    }
    // Taken at once when one is waiting (the acceptor does not block), onto the loop chosen for
    // it then; otherwise when one arrives.
    tcp::endpoint peer;
    asio::error_code error;
    if (const int fd = AcceptNow(acceptor, peer, error); fd >= 0) {
        StartSession(fd, peer, LoopForNext(acceptor.loop));
        // the loop's other work goes on between
        asio::post(acceptor.io, [this, &acceptor] { Accept(acceptor); });
        return;
    }
    if (error != asio::error::would_block && error != asio::error::try_again)
        return AcceptFailed(acceptor, error);
    WaitForConnection(acceptor);
}

// What the admission calls, on the releasing thread, to resume a paused acceptor on its loop.
std::function<void()> Server::Impl::Resumer(Acceptor& acceptor) {
    return [this, &acceptor] { asio::post(acceptor.io, [this, &acceptor] { ResumeAccept(acceptor); }); };
}

bool Server::Impl::ConnectionWaiting(Acceptor& acceptor) {
    pollfd listening{acceptor.socket.native_handle(), POLLIN, 0};
    return ::poll(&listening, 1, 0) > 0;
}

void Server::Impl::WaitForConnection(Acceptor& acceptor) {
    acceptor.pending = true;
    acceptor.socket.async_wait(tcp::acceptor::wait_read,
                                [this, &acceptor](asio::error_code error) {
                                    acceptor.pending = false;
                                    if (!acceptor.socket.is_open()) {
                                        if (acceptor.closed)
                                            acceptor.closed->set_value();
                                        return;
                                    }
                                    if (error)
                                        return AcceptFailed(acceptor, error);
                                    Accept(acceptor);
                                });
}

void Server::Impl::ResumeAccept(Acceptor& acceptor) {
    if (!acceptor.paused)
        return;
    acceptor.paused = false;
    Accept(acceptor);
}

// Out of files all the same (files besides the connections, or the system's table): a waiting
// connection is shed and the accept resumes when it is gone. With nothing to shed, the accept is
// tried again shortly instead of spinning.
void Server::Impl::AcceptFailed(Acceptor& acceptor, const asio::error_code& error) {
    if (error.value() == EMFILE || error.value() == ENFILE) {
        if (admission->ShedForFiles(&acceptor, Resumer(acceptor))) {
            acceptor.paused = true;
            WatchBursts();
            return;
        }
    }
    if (options.logRequests)
        RequestLog()->warn("accept failed: {}", error.message());
    acceptor.retry.expires_after(std::chrono::milliseconds(100));
    acceptor.retry.async_wait([this, &acceptor](asio::error_code e) {
        if (!e && acceptor.socket.is_open())
            Accept(acceptor);
    });
}

// Ends the admission's log bursts once they have been quiet; on the first loop, whichever
// loop's accept opened the burst.
void Server::Impl::WatchBursts() {
    asio::dispatch(*loops.front(), [this] {
        if (burstLogArmed || !burstLog)
            return;
        const auto next = admission->EndQuietBursts();
        if (!next)
            return;
        burstLogArmed = true;
        burstLog->expires_at(*next);
        burstLog->async_wait([this](asio::error_code error) {
            burstLogArmed = false;
            if (!error)
                WatchBursts();
        });
    });
}

// Connections the kernel has already completed are clients that were in time: they are served.
// `done` is set once no accept is left to deliver a connection: at once, or when the pending
// accept's handler has run.
void Server::Impl::CloseAcceptor(Acceptor& acceptor, std::promise<void>& done) {
    asio::error_code error;
    while (!error) {
        tcp::endpoint peer;
        if (const int fd = AcceptNow(acceptor, peer, error); fd >= 0)
            StartSession(fd, peer, LoopForNext(acceptor.loop));
    }
    acceptor.socket.close(error);
    acceptor.retry.cancel();
    admission->Forget(&acceptor);
    if (acceptor.pending)
        acceptor.closed = &done;
    else
        done.set_value();
}

Server::Server(Store& store, ServerOptions options)
    : impl_(std::make_unique<Impl>(store, std::move(options))) {}

Server::~Server() {
    Stop();
}

bool Server::Start(std::string& error) {
    if (impl_->running)
        return true;
    auto& s = *impl_;
    asio::error_code ec;
    const auto address = asio::ip::make_address(s.options.address, ec);
    if (ec) {
        error = "not an IP address: " + s.options.address;
        return false;
    }
    for (int i = 0; i < std::max(1, s.options.threads); ++i) {
        s.loops.push_back(std::make_unique<asio::io_context>(1));
        s.keepRunning.push_back(asio::make_work_guard(*s.loops.back()));
    }
    s.openOnLoop = std::make_unique<std::atomic<int>[]>(s.loops.size());
    s.burstLog = std::make_unique<asio::steady_timer>(*s.loops.front());
    s.admission = s.options.admission;
    if (!s.admission) {
        PeerAdmission::Limits limits;
        limits.maxPerAddress = s.options.maxPerAddress;
        limits.maxConnections = s.options.maxConnections > 0
                                    ? s.options.maxConnections
                                    : ConnectionBudget(CurrentOpenFileLimit(), int(s.loops.size()));
        PeerAdmission::LogLine log;
        if (s.options.logRequests)
            log = [](const std::string& line) { RequestLog()->warn("{}", line); };
        s.admission = std::make_shared<PeerAdmission>(limits, std::move(log));
    }
    if (!s.Listen(address, error)) {
        s.burstLog.reset();
        s.admission.reset();
        s.keepRunning.clear();
        s.loops.clear();
        return false;
    }
    s.options.port = s.boundPort; // a restart binds the same port again
    s.storage = std::make_unique<asio::thread_pool>(std::max(1, s.options.storageThreads));
    for (auto& acceptor : s.acceptors)
        s.Accept(*acceptor);
    for (auto& loop : s.loops)
        s.threads.emplace_back([&loop] { loop->run(); });
    s.running = true;
    return true;
}

void Server::Stop() {
    auto& s = *impl_;
    if (!s.running)
        return;
    // Each acceptor is closed on its loop; the wait for the sessions starts only after that,
    // so that the connections taken from the backlogs are counted.
    std::vector<std::promise<void>> closed(s.acceptors.size());
    for (std::size_t i = 0; i < s.acceptors.size(); ++i)
        asio::post(s.acceptors[i]->io, [&s, &acceptor = *s.acceptors[i], &done = closed[i]] {
            s.CloseAcceptor(acceptor, done);
        });
    for (auto& done : closed)
        done.get_future().wait();
    // Then the admission's last log lines, on the loop that keeps its bursts.
    std::promise<void> bursts;
    asio::post(*s.loops.front(), [&s, &bursts] {
        s.burstLog->cancel();
        s.admission->EndAllBursts();
        bursts.set_value();
    });
    bursts.get_future().wait();
    {
        std::unique_lock lock(s.mutex);
        s.idle.wait_for(lock, s.options.stopGrace, [&s] { return s.active == 0; });
    }
    for (auto& loop : s.loops)
        loop->stop();
    for (auto& thread : s.threads)
        thread.join();
    s.threads.clear();
    // Requests still with the store finish first: their sessions live on the loops.
    s.storage->join();
    s.storage.reset();
    s.acceptors.clear();
    s.burstLog.reset();
    s.burstLogArmed = false;
    s.keepRunning.clear();
    s.loops.clear(); // destroys the sessions still waiting (closing their sockets)
    s.admission.reset();
    s.running = false;
}

uint16_t Server::port() const {
    return impl_->boundPort;
}

std::shared_ptr<PeerAdmission> Server::admission() const {
    return impl_->admission;
}

int64_t Server::requestsServed() const {
    return impl_->served.load();
}

} // namespace tallyport::server
