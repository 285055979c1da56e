// A small HTTP/1.1 client for the tests and benchmarks of the staff listener, on Boost.Beast's
// client side: one kept-alive connection (opened again when the server closed it), plain or TLS
// checked against one CA certificate. Blocking: a server that never answers hangs the caller,
// which the test runner's own timeout ends.
#pragma once

#include "web/HttpMessage.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <openssl/x509v3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tallyport::test {

struct HttpReply {
    int status = 0;
    server::staff::HttpHeaders headers;
    std::string body;

    std::string get_header_value(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

class HttpClient {
public:
    // `caCertificate`: a PEM file; TLS (checked against it) when given, plain HTTP otherwise.
    HttpClient(std::string host, uint16_t port, std::string caCertificate = {})
        : host_(std::move(host)), port_(port) {
        if (!caCertificate.empty()) {
            tls_.emplace(boost::asio::ssl::context::tls_client);
            tls_->load_verify_file(caCertificate);
            tls_->set_verify_mode(boost::asio::ssl::verify_peer);
        }
    }
    HttpClient(HttpClient&&) = default;
    // The streams go before the io_context they run on (member-wise assignment would replace
    // the io_context first).
    HttpClient& operator=(HttpClient&& other) noexcept {
        tlsStream_.reset();
        plain_.reset();
        host_ = std::move(other.host_);
        port_ = other.port_;
        io_ = std::move(other.io_);
        tls_ = std::move(other.tls_);
        plain_ = std::move(other.plain_);
        tlsStream_ = std::move(other.tlsStream_);
        buffer_ = std::move(other.buffer_);
        return *this;
    }

    // None when the exchange failed (no connection, no complete answer in time).
    std::optional<HttpReply> Send(const std::string& method, const std::string& path,
                                  const server::staff::HttpHeaders& headers = {},
                                  const std::string& body = {},
                                  const std::string& contentType = {}) {
        namespace http = boost::beast::http;
        http::request<http::string_body> request;
        request.method_string(method);
        request.target(path);
        request.version(11);
        request.set(http::field::host, host_ + ":" + std::to_string(port_));
        for (const auto& [name, value] : headers)
            request.insert(name, value);
        if (!contentType.empty())
            request.set(http::field::content_type, contentType);
        request.body() = body;
        request.prepare_payload();
        // A kept-alive connection the server has closed meanwhile fails at once: once more on a
        // new one.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool fresh = !open_;
            if (auto reply = Exchange(request))
                return reply;
            Drop();
            if (fresh)
                break;
        }
        return std::nullopt;
    }

    std::optional<HttpReply> Get(const std::string& path,
                                 const server::staff::HttpHeaders& headers = {}) {
        return Send("GET", path, headers);
    }
    std::optional<HttpReply> Post(const std::string& path, const std::string& body,
                                  const std::string& contentType,
                                  const server::staff::HttpHeaders& headers = {}) {
        return Send("POST", path, headers, body, contentType);
    }
    std::optional<HttpReply> Put(const std::string& path, const server::staff::HttpHeaders& headers,
                                 const std::string& body, const std::string& contentType) {
        return Send("PUT", path, headers, body, contentType);
    }

private:
    using Plain = boost::beast::tcp_stream;
    using Tls = boost::beast::ssl_stream<boost::beast::tcp_stream>;

    template <typename Request> std::optional<HttpReply> Exchange(Request& request) {
        namespace http = boost::beast::http;
        boost::beast::error_code ec;
        if (!open_ && !Open())
            return std::nullopt;
        http::response<http::string_body> response;
        http::response_parser<http::string_body> parser;
        parser.body_limit(std::uint64_t(1) << 30);
        auto exchange = [&](auto& stream) {
            http::write(stream, request, ec);
            if (!ec)
                http::read(stream, buffer_, parser, ec);
        };
        if (tls_)
            exchange(*tlsStream_);
        else
            exchange(*plain_);
        if (ec)
            return std::nullopt;
        auto& message = parser.get();
        HttpReply reply;
        reply.status = int(message.result_int());
        for (const auto& field : message)
            reply.headers.emplace(std::string(field.name_string()), std::string(field.value()));
        reply.body = std::move(message.body());
        if (!message.keep_alive())
            Drop();
        return reply;
    }

    bool Open() {
        boost::beast::error_code ec;
        const auto address = boost::asio::ip::make_address(host_, ec);
        if (ec)
            return false;
        const boost::asio::ip::tcp::endpoint endpoint(address, port_);
        buffer_.clear();
        if (tls_) {
            tlsStream_ = std::make_unique<Tls>(*io_, *tls_);
            tlsStream_->set_verify_callback(
                [host = host_](bool preverified, boost::asio::ssl::verify_context& context) {
                    return preverified && NamesHost(context, host);
                });
            boost::beast::get_lowest_layer(*tlsStream_).connect(endpoint, ec);
            if (!ec)
                tlsStream_->handshake(boost::asio::ssl::stream_base::client, ec);
        } else {
            plain_ = std::make_unique<Plain>(*io_);
            plain_->connect(endpoint, ec);
            if (!ec)
                plain_->socket().set_option(boost::asio::ip::tcp::no_delay(true), ec);
        }
        open_ = !ec;
        return open_;
    }

    // The server's certificate names `host`: in its alternative names, or (as the tests'
    // certificates do) as its common name.
    static bool NamesHost(boost::asio::ssl::verify_context& context, const std::string& host) {
        X509_STORE_CTX* store = context.native_handle();
        if (X509_STORE_CTX_get_error_depth(store) > 0)
            return true; // an issuer: the chain was checked
        X509* certificate = X509_STORE_CTX_get_current_cert(store);
        if (X509_check_ip_asc(certificate, host.c_str(), 0) == 1 ||
            X509_check_host(certificate, host.data(), host.size(), 0, nullptr) == 1)
            return true;
        char name[256] = {};
        X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                                  sizeof name);
        return host == name;
    }

    void Drop() {
        open_ = false;
        tlsStream_.reset();
        plain_.reset();
    }

    std::string host_;
    uint16_t port_;
    std::unique_ptr<boost::asio::io_context> io_ = std::make_unique<boost::asio::io_context>();
    std::optional<boost::asio::ssl::context> tls_;
    std::unique_ptr<Plain> plain_;
    std::unique_ptr<Tls> tlsStream_;
    boost::beast::flat_buffer buffer_;
    bool open_ = false;
};

} // namespace tallyport::test
