#include "web/WebConnection.h"

#include "web/CrossSiteCheck.h"
#include "web/StaffRoutes.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace tallyport::server::staff {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using error_code = boost::system::error_code;

// After an answer that ends the connection, what the client still sends is read and dropped for
// this long (or this much), so that closing does not reset the connection before the client has
// read the answer.
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kDrainBytes = 256 << 10;
constexpr std::size_t kLoggedPathChars = 200;
// A file upload on a slow link may take long: it is dropped when no byte has come for the body
// timeout, or this long after its head, as the student protocol's own uploads are.
constexpr auto kUploadDeadline = std::chrono::minutes(10);
// How far ahead of its bytes an upload's body is allocated for one read.
constexpr std::size_t kUploadReadAhead = 256 << 10;

std::shared_ptr<spdlog::logger> WebLog() {
    static auto log = [] {
        auto logger = std::make_shared<spdlog::logger>(
            "web", std::make_shared<spdlog::sinks::stderr_sink_mt>());
        logger->set_pattern("%Y-%m-%dT%H:%M:%S.%e %v");
        return logger;
    }();
    return log;
}

// The parser refused what was sent (not a timeout, nor a connection closed between requests).
bool IsParseError(const error_code& ec) {
    return ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
           ec != http::error::end_of_stream && ec != http::error::partial_message;
}

} // namespace

StaffListener::Connection::~Connection() {
    if (!handedOver)
        ::close(fd);
}

void StaffListener::Connection::Shed() {
    std::lock_guard lock(mutex);
    if (!closed)
        ::shutdown(fd, SHUT_RDWR);
}

void StaffListener::Connection::Closed() {
    std::lock_guard lock(mutex);
    closed = true;
}

StaffListener::Shared::Shared(const Router& router, Settings settings, SSL_CTX* context)
    : router(router), settings(std::move(settings)),
      workers(std::size_t(std::max(1, this->settings.threads))), keepRunning(io.get_executor()) {
    if (context != nullptr) {
        SSL_CTX_up_ref(context); // the asio context frees its reference
        tls.emplace(context);
    }
}

namespace {

template <typename Stream>
class WebSession : public std::enable_shared_from_this<WebSession<Stream>> {
public:
    WebSession(StaffListener::Shared& shared, std::shared_ptr<StaffListener::Connection> connection,
               Stream stream)
        : shared_(shared), connection_(std::move(connection)), stream_(std::move(stream)),
          timer_(stream_.get_executor()) {}

    ~WebSession() {
        connection_->Closed();
        std::lock_guard lock(shared_.mutex);
        shared_.live.erase(this);
        if (shared_.live.empty())
            shared_.allClosed.notify_all();
    }

    auto Executor() { return stream_.get_executor(); }

    void Start() {
        {
            std::lock_guard lock(shared_.mutex);
            std::weak_ptr<WebSession> weak = this->shared_from_this();
            auto executor = stream_.get_executor();
            shared_.live[this] = [weak, executor] {
                net::post(executor, [weak] {
                    if (const auto self = weak.lock(); self && !self->busy_)
                        self->Close();
                });
            };
        }
        Lowest().expires_at(connection_->accepted + shared_.settings.firstBytesTimeout);
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
            ReadHead();
        } else {
            stream_.async_handshake(net::ssl::stream_base::server,
                                    [self = this->shared_from_this()](const error_code& ec) {
                                        if (ec)
                                            return self->Close();
                                        self->ReadHead();
                                    });
        }
    }

private:
    beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }

    bool HasPendingBytes() {
        if (buffer_.size() > 0)
            return true;
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>)
            return false;
        else
            return SSL_pending(stream_.native_handle()) > 0;
    }

    // Kept alive: the gap before the next request has a deadline of its own, and the head
    // another from its first byte.
    void WaitForNext() {
        if (shared_.stopping)
            return Close();
        if (HasPendingBytes()) {
            Lowest().expires_after(shared_.settings.headTimeout);
            return ReadHead();
        }
        timer_.expires_after(shared_.settings.keepAliveTimeout);
        timer_.async_wait([self = this->shared_from_this()](const error_code& ec) {
            if (!ec)
                self->Lowest().socket().cancel();
        });
        Lowest().socket().async_wait(
            tcp::socket::wait_read, [self = this->shared_from_this()](const error_code& ec) {
                self->timer_.cancel();
                if (ec)
                    return self->Close();
                self->Lowest().expires_after(self->shared_.settings.headTimeout);
                self->ReadHead();
            });
    }

    void ReadHead() {
        parser_.emplace();
        parser_->header_limit(std::uint32_t(shared_.settings.headerLimit));
        // The route's limit is set once the head is in; a length over it is answered then.
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = this->shared_from_this()](
                                    const error_code& ec, std::size_t) { self->OnHead(ec); });
    }

    void OnHead(const error_code& ec) {
        started_ = Clock::now();
        if (ec) {
            // Silence, a timeout or a closed connection end it without an answer; a head that
            // cannot be read gets one, and nothing after it is read as a request.
            if (IsParseError(ec))
                return Refuse(400, "the request head could not be read");
            return Close();
        }
        connection_->ticket->RequestArrived();
        const auto& head = parser_->get();
        request_ = std::make_unique<HttpRequest>();
        request_->method = std::string(head.method_string());
        const std::string target(head.target());
        request_->path = target.substr(0, target.find('?'));
        for (const auto& field : head)
            request_->headers.emplace(std::string(field.name_string()), std::string(field.value()));
        request_->remote_addr = connection_->peer;
        keepAlive_ = head.keep_alive();

        if (head.version() != 11 && head.version() != 10)
            return Refuse(400, "only HTTP/1.0 and HTTP/1.1 are served");
        const bool chunked = parser_->chunked();
        const auto lengths = head.count(http::field::content_length);
        if (lengths > 1 || (lengths > 0 && head.count(http::field::transfer_encoding) > 0))
            return Refuse(400, "the body's length is given more than one way");
        const bool hasBody = chunked || parser_->content_length().value_or(0) > 0;

        const auto* route =
            shared_.router.Find(request_->method, request_->path, request_->matches);
        if (route == nullptr)
            return RefuseOrKeep(hasBody, 404, "no such API path");
        const Refusal refusal = CheckCrossSite(
            {request_->method, request_->get_header_value("Host"),
             request_->get_header_value("Origin"), request_->get_header_value("Sec-Fetch-Site"),
             request_->get_header_value("Content-Type"), hasBody, route->upload},
            shared_.tls.has_value());
        if (refusal.status == 403)
            return RefuseOrKeep(hasBody, 403, refusal.why);
        const std::size_t limit =
            route->upload ? route->bodyLimit : std::min(route->bodyLimit, shared_.settings.bodyCap);
        if (parser_->content_length().value_or(0) > limit || (chunked && limit == 0))
            return Refuse(413,
                          "the request body is larger than " + std::to_string(limit) + " bytes");
        if (refusal.status != 0)
            return RefuseOrKeep(hasBody, refusal.status, refusal.why);
        if (route->checkHead && !route->checkHead(*request_, response_)) {
            keepAlive_ = false; // its body is left unread
            return Write();
        }
        parser_->body_limit(limit);
        handler_ = &route->handler;
        if (parser_->is_done())
            return OnBody({});
        if (route->upload && !chunked)
            return ReadUploadBody(std::size_t(*parser_->content_length()),
                                  started_ + kUploadDeadline);
        if (route->upload)
            return ReadUpload(started_ + kUploadDeadline);
        Lowest().expires_after(shared_.settings.bodyTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](const error_code& ec, std::size_t) {
                             self->OnBody(ec);
                         });
    }

    void ReadUpload(Clock::time_point deadline) {
        Lowest().expires_at(
            std::min<Clock::time_point>(Clock::now() + shared_.settings.bodyTimeout, deadline));
        http::async_read_some(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this(), deadline](const error_code& ec, std::size_t) {
                if (ec || self->parser_->is_done())
                    return self->OnBody(ec);
                self->ReadUpload(deadline);
            });
    }

    // An upload of a known length is read straight into the request's body in large reads:
    // through the parser it would come a few hundred bytes a read, each copied once more. The
    // body grows only a read ahead of what has come, so a length claimed is not memory taken.
    void ReadUploadBody(std::size_t length, Clock::time_point deadline) {
        std::string& body = request_->body;
        body.reserve(length);
        const std::size_t buffered = std::min(length, buffer_.size());
        body.resize(buffered);
        net::buffer_copy(net::buffer(body.data(), buffered), buffer_.data());
        buffer_.consume(buffered);
        ReadMoreUploadBody(buffered, length, deadline);
    }

    void ReadMoreUploadBody(std::size_t received, std::size_t length,
                            Clock::time_point deadline) {
        std::string& body = request_->body;
        if (received == length)
            return Answer();
        body.resize(std::max(body.size(), std::min(length, received + kUploadReadAhead)));
        Lowest().expires_at(
            std::min<Clock::time_point>(Clock::now() + shared_.settings.bodyTimeout, deadline));
        stream_.async_read_some(net::buffer(body.data() + received, body.size() - received),
                                [self = this->shared_from_this(), received, length,
                                 deadline](const error_code& ec, std::size_t n) {
                                    if (ec)
                                        return self->Close();
                                    self->ReadMoreUploadBody(received + n, length, deadline);
                                });
    }

    void OnBody(const error_code& ec) {
        if (ec == http::error::body_limit)
            return Refuse(413, "the request body is too large");
        if (IsParseError(ec))
            return Refuse(400, "the request body could not be read");
        if (ec)
            return Close();
        request_->body = std::move(parser_->get().body());
        Answer();
    }

    // Runs the route on a worker, then writes its answer.
    void Answer() {
        busy_ = true;
        Lowest().expires_never();
        net::post(shared_.workers, [self = this->shared_from_this()] {
            try {
                (*self->handler_)(*self->request_, self->response_);
            } catch (...) {
                self->response_ = {};
                SendError(self->response_, 500, "the request failed inside the server");
            }
            net::post(self->stream_.get_executor(), [self] { self->Write(); });
        });
    }

    // An answer after which the connection closes, whatever else the client sent.
    void Refuse(int status, std::string_view why) {
        keepAlive_ = false;
        if (!request_) {
            request_ = std::make_unique<HttpRequest>();
            request_->method = "-";
            request_->path = "-";
        }
        SendError(response_, status, why);
        Write();
    }

    // An answer that leaves the connection open unless it has a body we did not read.
    void RefuseOrKeep(bool hasBody, int status, std::string_view why) {
        if (hasBody)
            return Refuse(status, why);
        SendError(response_, status, why);
        Write();
    }

    void Write() {
        busy_ = false;
        keepAlive_ = keepAlive_ && !shared_.stopping;
        answer_ = {};
        answer_.version(11);
        answer_.result(unsigned(response_.status));
        for (const auto& [name, value] : shared_.settings.defaultHeaders)
            if (response_.headers.find(name) == response_.headers.end())
                answer_.insert(name, value);
        for (const auto& [name, value] : response_.headers)
            answer_.insert(name, value);
        if (shared_.tls)
            answer_.set(http::field::strict_transport_security, "max-age=31536000");
        answer_.body() = std::move(response_.body);
        answer_.keep_alive(keepAlive_);
        answer_.prepare_payload();
        Lowest().expires_after(shared_.settings.writeTimeout);
        http::async_write(stream_, answer_,
                          [self = this->shared_from_this()](const error_code& ec, std::size_t) {
                              self->OnWritten(ec);
                          });
    }

    void OnWritten(const error_code& ec) {
        Log();
        response_ = {};
        request_.reset();
        if (ec)
            return Close();
        if (!keepAlive_)
            return Drain();
        WaitForNext();
    }

    void Log() const {
        std::string path = request_->path.substr(0, kLoggedPathChars);
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
        WebLog()->info("web peer={} method={} path={} status={} marker={} ms={:.1f}",
                       connection_->peer, request_->method, path, response_.status,
                       response_.marker.empty() ? "-" : response_.marker, ms);
    }

    // Ends TLS and our side of the connection, then reads and drops what the client still sends
    // for a moment before closing.
    void Drain() {
        if constexpr (!std::is_same_v<Stream, beast::tcp_stream>) {
            ERR_clear_error();
            SSL_shutdown(stream_.native_handle());
        }
        error_code ignored;
        Lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
        drainUntil_ = Clock::now() + kDrainTime;
        DrainSome();
    }

    void DrainSome() {
        Lowest().expires_at(drainUntil_);
        Lowest().async_read_some(net::buffer(drain_), [self = this->shared_from_this()](
                                                          const error_code& ec, std::size_t n) {
            self->drained_ += n;
            if (ec || self->drained_ > kDrainBytes)
                return self->Close();
            self->DrainSome();
        });
    }

    void Close() {
        connection_->Closed();
        error_code ignored;
        timer_.cancel();
        Lowest().socket().close(ignored);
    }

    StaffListener::Shared& shared_;
    std::shared_ptr<StaffListener::Connection> connection_;
    Stream stream_;
    net::steady_timer timer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::unique_ptr<HttpRequest> request_;
    HttpResponse response_;
    http::response<http::string_body> answer_;
    const Router::Handler* handler_ = nullptr;
    Clock::time_point started_ = Clock::now();
    bool keepAlive_ = true;
    bool busy_ = false; // a request is being answered: Stop lets it finish
    Clock::time_point drainUntil_;
    std::size_t drained_ = 0;
    std::array<char, 4096> drain_{};
};

} // namespace

void ServeWebConnection(StaffListener::Shared& shared,
                        std::shared_ptr<StaffListener::Connection> connection) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    ::getsockname(connection->fd, reinterpret_cast<sockaddr*>(&local), &length);
    const auto protocol = local.ss_family == AF_INET6 ? tcp::v6() : tcp::v4();
    error_code ec;
    tcp::socket socket(net::make_strand(shared.io));
    socket.assign(protocol, connection->fd, ec);
    if (ec)
        return;
    connection->handedOver = true;
    // Started on the connection's own strand, like everything that follows.
    const auto start = [](auto session) {
        auto executor = session->Executor();
        net::post(executor, [session] { session->Start(); });
    };
    if (shared.tls) {
        using Tls = beast::ssl_stream<beast::tcp_stream>;
        start(std::make_shared<WebSession<Tls>>(
            shared, connection, Tls(beast::tcp_stream(std::move(socket)), *shared.tls)));
    } else {
        start(std::make_shared<WebSession<beast::tcp_stream>>(
            shared, connection, beast::tcp_stream(std::move(socket))));
    }
}

} // namespace tallyport::server::staff
