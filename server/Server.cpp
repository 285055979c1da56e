#include "Server.h"

#include "RequestHandler.h"
#include "Store.h"
#include "protocol/Keystream.h"
#include "protocol/Wire.h"

#include <asio.hpp>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <array>
#include <condition_variable>
#include <ctime>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace tallyport::server {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 64 * 1024;
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

std::string PeerText(const tcp::socket& socket) {
    asio::error_code error;
    auto address = socket.remote_endpoint(error).address();
    if (error)
        return "?";
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
    Impl(Store& s, ServerOptions o) : store(s), options(std::move(o)) {}

    Store& store;
    ServerOptions options;
    std::atomic<int64_t> served{0};
    std::mutex mutex;
    std::condition_variable idle;
    int active = 0; // sessions alive (guarded by mutex)
    uint16_t boundPort = 0;

    std::unique_ptr<asio::io_context> io;
    std::unique_ptr<asio::strand<asio::io_context::executor_type>> acceptStrand;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::unique_ptr<asio::steady_timer> acceptRetry;
    std::vector<std::thread> threads;
    bool running = false;
    // Accept state, used on the accept strand only.
    bool acceptPending = false;
    std::promise<void>* acceptorClosed = nullptr;

    void Accept();
    void StartSession(tcp::socket socket);
    void CloseAcceptor(std::promise<void>& done);
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

// One connection: preamble, body, reply, close. All of its handlers run on its own strand.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(Server::Impl& server, tcp::socket socket)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()),
          started_(Clock::now()), deadline_(started_ + server.options.connectionDeadline) {
        server_.SessionStarted();
    }
    ~Session() { server_.SessionEnded(); }

    tcp::socket::executor_type executor() { return socket_.get_executor(); }

    void Start() {
        peer_ = PeerText(socket_);
        WatchDeadline();
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
            // Memory grows with the bytes that arrive, not with the length announced.
            body_.reserve(std::min(bodyLength_, kReadChunk));
            ReadBody();
        });
    }

    void ReadBody() {
        if (body_.size() == bodyLength_)
            return Answer();
        const std::size_t have = body_.size();
        const std::size_t chunk = std::min(kReadChunk, bodyLength_ - have);
        body_.resize(have + chunk);
        Read(body_.data() + have, chunk, [this, have, chunk](auto) {
            keystream_->Apply(std::span(body_.data() + have, chunk));
            ReadBody();
        });
    }

    void Answer() {
        context_.peerAddress = peer_;
        context_.now = int64_t(std::time(nullptr));
        handled_ = HandleRequest(server_.store, body_, context_);
        body_ = {};
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
        ArmTimer();
        asio::async_write(
            socket_, out, [self = shared_from_this()](asio::error_code error, std::size_t) {
                self->Finish(error ? "reply not delivered: " + error.message() : std::string());
            });
    }

    // Sends a status without reply, then reads and drops what the client still sends (bounded),
    // so that the status is not lost to a connection reset.
    void Refuse(StatusCode status) {
        handled_.status = status;
        WriteInt(status_.data(), status);
        bytesOut_ = 4;
        ArmTimer();
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
        timer_.expires_at(std::min(drainUntil_, deadline_));
        socket_.async_read_some(asio::buffer(drainBuffer_),
                                [self = shared_from_this()](asio::error_code error, std::size_t n) {
                                    self->bytesIn_ += n;
                                    self->drained_ += n;
                                    if (error)
                                        return self->Finish({});
                                    self->Drain();
                                });
    }

    // Reads exactly n bytes; on success runs then(self) on the strand, otherwise finishes.
    template <typename Then> void Read(std::byte* at, std::size_t n, Then then) {
        ArmTimer();
        asio::async_read(
            socket_, asio::buffer(at, n),
            [self = shared_from_this(), then](asio::error_code error, std::size_t got) {
                self->bytesIn_ += got;
                if (error)
                    return self->Finish(self->timedOut_ ? "timed out" : "closed by the client");
                then(self);
            });
    }

    // Every step gets the idle timeout, never beyond the connection's deadline.
    void ArmTimer() {
        timer_.expires_at(std::min(Clock::now() + server_.options.idleTimeout, deadline_));
    }

    // One wait runs for the session's whole life; it re-waits while the expiry lies ahead
    // (ArmTimer moved it) and closes the socket once it has passed.
    void WatchDeadline() {
        timer_.async_wait([self = shared_from_this()](asio::error_code error) {
            if (self->finished_)
                return;
            if (!error && self->timer_.expiry() <= Clock::now()) {
                self->timedOut_ = true;
                asio::error_code ignored;
                self->socket_.close(ignored);
                return;
            }
            self->WatchDeadline();
        });
    }

    void Finish(std::string problem) {
        if (finished_)
            return;
        finished_ = true;
        timer_.cancel();
        asio::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        if (!problem.empty() && handled_.detail.empty())
            handled_.detail = std::move(problem);
        const bool answered = handled_.kind != 0 || bytesOut_ > 0;
        if (answered)
            ++server_.served;
        if (server_.options.logRequests)
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
    tcp::socket socket_;
    asio::steady_timer timer_;
    Clock::time_point started_;
    Clock::time_point deadline_;
    Clock::time_point drainUntil_;
    std::string peer_;
    std::array<std::byte, 8> head_{};
    std::vector<std::byte> addressText_;
    int32_t seed_ = 0;
    std::size_t bodyLength_ = 0;
    std::optional<Keystream> keystream_;
    std::vector<std::byte> body_;
    std::vector<std::byte> drainBuffer_;
    std::size_t drained_ = 0;
    RequestContext context_;
    HandledRequest handled_{};
    std::array<std::byte, 8> status_{};
    std::size_t bytesIn_ = 0;
    std::size_t bytesOut_ = 0;
    bool timedOut_ = false;
    bool finished_ = false;
};

} // namespace

void Server::Impl::StartSession(tcp::socket socket) {
    // The session starts on its own strand, where all of its handlers run.
    auto session = std::make_shared<Session>(*this, std::move(socket));
    asio::post(session->executor(), [session] { session->Start(); });
}

void Server::Impl::Accept() {
    acceptPending = true;
    acceptor->async_accept(
        asio::make_strand(*io),
        asio::bind_executor(*acceptStrand, [this](asio::error_code error, tcp::socket socket) {
            acceptPending = false;
            if (!error)
                StartSession(std::move(socket)); // even when Stop closed the acceptor meanwhile
            if (!acceptor->is_open()) {
                if (acceptorClosed)
                    acceptorClosed->set_value();
                return;
            }
            if (error) {
                // Out of descriptors or similar: try again shortly instead of spinning.
                if (options.logRequests)
                    RequestLog()->warn("accept failed: {}", error.message());
                acceptRetry->expires_after(std::chrono::milliseconds(100));
                acceptRetry->async_wait(
                    asio::bind_executor(*acceptStrand, [this](asio::error_code e) {
                        if (!e && acceptor->is_open())
                            Accept();
                    }));
                return;
            }
            Accept();
        }));
}

// Connections the kernel has already completed are clients that were in time: they are served.
// `done` is set once no accept is left to deliver a connection: at once, or when the pending
// accept's handler has run.
void Server::Impl::CloseAcceptor(std::promise<void>& done) {
    asio::error_code error;
    acceptor->non_blocking(true, error);
    while (!error) {
        tcp::socket socket(asio::make_strand(*io));
        acceptor->accept(socket, error);
        if (!error)
            StartSession(std::move(socket));
    }
    acceptor->close(error);
    acceptRetry->cancel();
    if (acceptPending)
        acceptorClosed = &done;
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
    s.io = std::make_unique<asio::io_context>(std::max(1, s.options.threads));
    s.acceptStrand =
        std::make_unique<asio::strand<asio::io_context::executor_type>>(asio::make_strand(*s.io));
    s.acceptor = std::make_unique<tcp::acceptor>(*s.acceptStrand);
    s.acceptRetry = std::make_unique<asio::steady_timer>(*s.acceptStrand);
    const tcp::endpoint endpoint(address, s.options.port);
    s.acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        s.acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        s.acceptor->bind(endpoint, ec);
    if (!ec)
        s.acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + s.options.address + ":" + std::to_string(s.options.port) +
                ": " + ec.message();
        s.acceptor.reset();
        s.acceptRetry.reset();
        s.acceptStrand.reset();
        s.io.reset();
        return false;
    }
    s.boundPort = s.acceptor->local_endpoint().port();
    s.options.port = s.boundPort; // a restart binds the same port again
    s.Accept();
    for (int i = 0; i < std::max(1, s.options.threads); ++i)
        s.threads.emplace_back([&s] { s.io->run(); });
    s.running = true;
    return true;
}

void Server::Stop() {
    auto& s = *impl_;
    if (!s.running)
        return;
    // The acceptor is closed on its strand; the wait for the sessions starts only after that,
    // so that the connections taken from the backlog are counted.
    std::promise<void> closed;
    asio::post(*s.acceptStrand, [&s, &closed] { s.CloseAcceptor(closed); });
    closed.get_future().wait();
    s.acceptorClosed = nullptr;
    {
        std::unique_lock lock(s.mutex);
        s.idle.wait_for(lock, s.options.stopGrace, [&s] { return s.active == 0; });
    }
    s.io->stop();
    for (auto& thread : s.threads)
        thread.join();
    s.threads.clear();
    s.acceptor.reset();
    s.acceptRetry.reset();
    s.acceptStrand.reset();
    s.io.reset(); // destroys the sessions still waiting (closing their sockets)
    s.running = false;
}

uint16_t Server::port() const {
    return impl_->boundPort;
}

int64_t Server::requestsServed() const {
    return impl_->served.load();
}

} // namespace tallyport::server
