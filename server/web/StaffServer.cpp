#include "web/StaffServer.h"

#include "admission/ListenAddress.h"
#include "web/CrossSiteCheck.h"
#include "web/StaffListener.h"
#include "web/StaffRoutes.h"
#include "web/StaticFiles.h"

#include <algorithm>
#include <charconv>
#include <iostream>

namespace tallyport::server::staff {

struct StaffServer::Impl {
    Impl(Store& store, const StaffOptions& options)
        : context{
              store,
              SessionTable(options.sessionIdle, options.sessionCapacity, options.sessionsPerMarker),
              LoginThrottle(), KnownDevices(), !options.tlsCert.empty()} {}

    StaffContext context;
    StaffHttp http;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> tls{nullptr, SSL_CTX_free};
    std::unique_ptr<StaffListener> listener;
};

namespace {

// The server's side of TLS from PEM files: TLS 1.2 or later, no compression.
SSL_CTX* LoadTls(const std::string& cert, const std::string& key) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    if (SSL_CTX_use_certificate_chain_file(context, cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

} // namespace

std::string DefaultWebFolder() {
    return TALLYPORT_STAFF_WEB_DIR;
}

std::string CheckStaffOptions(const StaffOptions& options) {
    if (options.tlsCert.empty() != options.tlsKey.empty())
        return "--tls-cert and --tls-key go together";
    if (options.tlsCert.empty() && !options.insecure && !IsLoopback(options.address))
        return "the staff listener on " + options.address +
               " would be reachable beyond this machine without TLS: give --tls-cert and "
               "--tls-key, or --staff-insecure to serve plain HTTP anyway";
    return {};
}

StaffServer::StaffServer(Store& store, StaffOptions options)
    : store_(store), options_(std::move(options)) {}

StaffServer::~StaffServer() {
    Stop();
}

std::string StaffServer::url() const {
    const bool v6 = options_.address.find(':') != std::string::npos;
    return std::string(tls() ? "https://" : "http://") + (v6 ? "[" : "") + options_.address +
           (v6 ? "]" : "") + ":" + std::to_string(port_);
}

bool StaffServer::Start(std::string& error) {
    error = CheckStaffOptions(options_);
    if (!error.empty())
        return false;
    auto impl = std::make_unique<Impl>(store_, options_);
    if (tls()) {
        impl->tls.reset(LoadTls(options_.tlsCert, options_.tlsKey));
        if (!impl->tls) {
            error = "cannot use the TLS certificate " + options_.tlsCert + " with the key " +
                    options_.tlsKey;
            return false;
        }
    }
    StaffHttp& http = impl->http;
    http.set_read_timeout(options_.readTimeout);
    http.set_write_timeout(options_.readTimeout);
    // An idle kept-alive connection holds a thread as long as a slow one does.
    http.set_keep_alive_timeout(std::min<time_t>(5, options_.readTimeout.count()));
    http.set_keep_alive_max_count(100);
    // Replies go out as a header write and a body write; without this the body can wait for the
    // client's delayed acknowledgement of the header.
    http.set_tcp_nodelay(true);
    // SO_REUSEADDR, as the student listener has it: a restarted server listens again at once
    // while its old connections wait out TIME-WAIT. Not SO_REUSEPORT, the library's default,
    // which would let another process of the same user bind the port beside ours and take
    // connections meant for it.
    http.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_payload_max_length(std::size_t(options_.bodyCap));
    // A body announced larger than the cap is refused before any of it is read.
    const auto cap = uint64_t(options_.bodyCap);
    const bool tls = this->tls();
    http.set_pre_routing_handler(
        [cap, tls](const httplib::Request& request, httplib::Response& response) {
            const std::string length = request.get_header_value("Content-Length");
            uint64_t announced = 0;
            const auto [end, problem] =
                std::from_chars(length.data(), length.data() + length.size(), announced);
            if (!length.empty() && (problem != std::errc() || announced > cap)) {
                response.set_header("Connection", "close");
                SendError(response, 413,
                          "the request body is larger than " + std::to_string(cap) + " bytes");
                return httplib::Server::HandlerResponse::Handled;
            }
            const std::string host = request.get_header_value("Host"),
                              origin = request.get_header_value("Origin"),
                              site = request.get_header_value("Sec-Fetch-Site"),
                              type = request.get_header_value("Content-Type");
            const Refusal refusal =
                CheckCrossSite({request.method, host, origin, site, type,
                                announced > 0 || request.has_header("Transfer-Encoding")},
                               tls);
            if (refusal.status != 0) {
                SendError(response, refusal.status, refusal.why);
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
    // Whatever the library answers by itself (no route, a body over the cap, a bad request)
    // gets a JSON body too.
    http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty())
            return;
        const int status = response.status;
        SendError(response, status,
                  status == 404 ? "no such API path"
                  : status == 413
                      ? "the request body is too large"
                      : "the request could not be handled (HTTP " + std::to_string(status) + ")");
    });
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            SendError(response, 500, "the request failed inside the server");
        });
    http.set_default_headers(SecurityHeaders());
    InstallSessionRoutes(http, impl->context);
    InstallMarkingRoutes(http, impl->context);
    InstallStaticFiles(http, options_.webFolder);

    if (options_.port == 0) {
        const int port = http.bind_to_any_port(options_.address);
        port_ = port > 0 ? uint16_t(port) : 0;
    } else if (http.bind_to_port(options_.address, options_.port)) {
        port_ = options_.port;
    }
    if (port_ == 0) {
        error =
            "cannot listen for staff on " + options_.address + ":" + std::to_string(options_.port);
        return false;
    }
    auto admission = options_.admission;
    if (!admission)
        admission = std::make_shared<PeerAdmission>(PeerAdmission::Limits{}, [](const auto& line) {
            std::cerr << "tallyport-server: staff: " << line << std::endl;
        });
    impl->listener = std::make_unique<StaffListener>(
        http, http.TakeListeningSocket(),
        StaffListener::Settings{options_.threads, options_.firstBytesTimeout, impl->tls.get()},
        std::move(admission));
    impl_ = std::move(impl);
    return true;
}

void StaffServer::Stop() {
    if (!impl_)
        return;
    impl_->listener->Stop();
    impl_.reset();
}

} // namespace tallyport::server::staff
