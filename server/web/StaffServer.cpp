#include "web/StaffServer.h"

#include "admission/ListenAddress.h"
#include "web/StaffListener.h"
#include "web/StaffRoutes.h"
#include "web/StaticFiles.h"
#include "web/StudentContext.h"

#include <boost/asio/ip/address.hpp>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

namespace tallyport::server::staff {

struct StaffServer::Impl {
    Impl(Store& store, const StaffOptions& options)
        : context{store,
                  SessionTable(options.sessionIdle, options.sessionCapacity,
                               options.sessionsPerMarker),
                  LoginThrottle(), KnownDevices(), !options.tlsCert.empty()},
          student{
              store,
              SessionTable(options.sessionIdle, options.sessionCapacity, options.sessionsPerMarker),
              LoginThrottle(), !options.tlsCert.empty(),
              std::size_t(std::max<int64_t>(options.uploadCap, 0))} {}

    StaffContext context;
    StudentContext student; // its own sessions and throttle: the two sides never share one
    Router router;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> tls{nullptr, SSL_CTX_free};
    std::unique_ptr<StaffListener> listener;
};

namespace {

// On TLS 1.2, only suites with forward secrecy and an AEAD cipher; TLS 1.3 has no others.
constexpr const char* kTls12Suites = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                     "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                     "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// The server's side of TLS from PEM files: TLS 1.2 or later, no compression.
SSL_CTX* LoadTls(const std::string& cert, const std::string& key) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                     SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_set_cipher_list(context, kTls12Suites) != 1 ||
        SSL_CTX_use_certificate_chain_file(context, cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

// A listening socket on address:port (0: any free port), with SO_REUSEADDR so that a restart
// right after serving need not wait out the old connections; -1 when it cannot be made.
int Listen(const std::string& address, uint16_t port) {
    boost::system::error_code ec;
    const auto ip =
        boost::asio::ip::make_address(address == "localhost" ? "127.0.0.1" : address, ec);
    if (ec)
        return -1;
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ip.is_v4()) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        const auto bytes = ip.to_v4().to_bytes();
        std::memcpy(&v4.sin_addr, bytes.data(), bytes.size());
        length = sizeof v4;
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const auto bytes = ip.to_v6().to_bytes();
        std::memcpy(&v6.sin6_addr, bytes.data(), bytes.size());
        length = sizeof v6;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    return ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(storage).sin6_port
                                               : reinterpret_cast<sockaddr_in&>(storage).sin_port);
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
    InstallSessionRoutes(impl->router, impl->context);
    InstallMarkingRoutes(impl->router, impl->context);
    InstallStudentRoutes(impl->router, impl->context);
    InstallTermRoutes(impl->router, impl->context);
    InstallAdminRoutes(impl->router, impl->context);
    InstallAuditRoutes(impl->router, impl->context);
    InstallStudentSessionRoutes(impl->router, impl->student);
    InstallStudentWorkRoutes(impl->router, impl->student);
    // The only uploads are students' packages.
    impl->router.CheckUploadHeads(
        [&student = impl->student](const HttpRequest& request, HttpResponse& response) {
            return UploadHeadAdmitted(student, request, response);
        });
    InstallStaticFiles(impl->router, options_.webFolder);

    const int listenFd = Listen(options_.address, options_.port);
    port_ = listenFd < 0 ? 0 : BoundPort(listenFd);
    if (port_ == 0) {
        if (listenFd >= 0)
            ::close(listenFd);
        error =
            "cannot listen for staff on " + options_.address + ":" + std::to_string(options_.port);
        return false;
    }
    auto admission = options_.admission;
    if (!admission)
        admission = std::make_shared<PeerAdmission>(PeerAdmission::Limits{}, [](const auto& line) {
            std::cerr << "tallyport-server: staff: " << line << std::endl;
        });
    StaffListener::Settings settings;
    settings.threads = options_.threads;
    settings.firstBytesTimeout = options_.firstBytesTimeout;
    settings.headTimeout = settings.bodyTimeout = settings.writeTimeout = options_.readTimeout;
    // A kept-alive connection costs a socket, not a thread, but is not kept for long either.
    settings.keepAliveTimeout =
        std::min<std::chrono::milliseconds>(std::chrono::seconds(5), options_.readTimeout);
    settings.bodyCap = std::size_t(std::max<int64_t>(options_.bodyCap, 0));
    settings.tls = impl->tls.get();
    settings.defaultHeaders = SecurityHeaders();
    impl->listener = std::make_unique<StaffListener>(impl->router, listenFd, std::move(settings),
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
