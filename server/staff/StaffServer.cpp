#include "staff/StaffServer.h"

#include "ListenAddress.h"
#include "staff/StaffRoutes.h"
#include "staff/StaticFiles.h"

#include <algorithm>
#include <charconv>
#include <thread>

namespace tallyport::server::staff {

struct StaffServer::Impl {
    Impl(Store& store, const StaffOptions& options)
        : context{store, SessionTable(options.sessionIdle, options.sessionCapacity),
                  LoginThrottle(), !options.tlsCert.empty()} {}

    StaffContext context;
    std::unique_ptr<httplib::Server> http;
    std::thread thread;
};

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
        impl->http =
            std::make_unique<httplib::SSLServer>(options_.tlsCert.c_str(), options_.tlsKey.c_str());
        if (!impl->http->is_valid()) {
            error = "cannot use the TLS certificate " + options_.tlsCert + " with the key " +
                    options_.tlsKey;
            return false;
        }
    } else {
        impl->http = std::make_unique<httplib::Server>();
    }
    httplib::Server& http = *impl->http;
    const int threads = options_.threads;
    http.new_task_queue = [threads] { return new httplib::ThreadPool(std::size_t(threads)); };
    http.set_read_timeout(options_.readTimeout);
    http.set_write_timeout(options_.readTimeout);
    // An idle kept-alive connection holds a thread as long as a slow one does.
    http.set_keep_alive_timeout(std::min<time_t>(5, options_.readTimeout.count()));
    http.set_keep_alive_max_count(100);
    // Replies go out as a header write and a body write; without this the body can wait for the
    // client's delayed acknowledgement of the header.
    http.set_tcp_nodelay(true);
    http.set_payload_max_length(std::size_t(options_.bodyCap));
    // A body announced larger than the cap is refused before any of it is read.
    const auto cap = uint64_t(options_.bodyCap);
    http.set_pre_routing_handler(
        [cap](const httplib::Request& request, httplib::Response& response) {
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
    impl->thread = std::thread([&http] { http.listen_after_bind(); });
    // Stop() can only end a listener that has begun to run.
    while (!http.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    impl_ = std::move(impl);
    return true;
}

void StaffServer::Stop() {
    if (!impl_)
        return;
    impl_->http->stop();
    if (impl_->thread.joinable())
        impl_->thread.join();
    impl_.reset();
}

} // namespace tallyport::server::staff
