// The staff listener: HTTP/1.1 with JSON on its own address and port, with TLS when a
// certificate and key are given, serving the marking API (server/README.md) on a small pool of
// threads of its own, apart from the student protocol's listener; and the student pages' API
// (StudentContext.h) beside it. Which connections it takes on is decided as for the student
// listener (StaffListener, PeerAdmission).
#pragma once

#include "admission/PeerAdmission.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tallyport::server {

class Store;

namespace staff {

struct StaffOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 8047; // 0 = an ephemeral port (see StaffServer::port())
    std::string tlsCert;  // PEM files; both or neither
    std::string tlsKey;
    bool insecure = false; // allow plain HTTP beyond loopback
    int threads = 16;      // workers running routes; a connection on the network holds none
    int64_t bodyCap = int64_t(4) << 20;   // larger request bodies are refused unread
    // The student pages' upload of a package: the student protocol's body cap (ServerOptions).
    int64_t uploadCap = int64_t(64) << 20;
    std::chrono::seconds readTimeout{10}; // a client silent this long is dropped
    // The TLS handshake and the request head must have arrived this long after the connection
    // opened.
    std::chrono::milliseconds firstBytesTimeout{5'000};
    // The student listener's (Server::admission), so that both share one budget of files and
    // one count per address; none: one of its own with the default cap per address.
    std::shared_ptr<PeerAdmission> admission;
    std::chrono::seconds sessionIdle{30 * 60}; // a session unused this long ends
    std::size_t sessionCapacity = 10000;       // beyond it a login is refused (503), nobody dropped
    std::size_t sessionsPerMarker = 20; // a marker's further login ends their own oldest session
    std::string webFolder;              // the marking page's files; empty = the API only
};

// Where the server package installs the marking page's files.
std::string DefaultWebFolder();

// The reason the options cannot be served as given (plain HTTP beyond loopback without
// `insecure`, half a TLS pair), or empty.
std::string CheckStaffOptions(const StaffOptions& options);

class StaffServer {
public:
    StaffServer(Store& store, StaffOptions options);
    ~StaffServer(); // Stop()
    StaffServer(const StaffServer&) = delete;
    StaffServer& operator=(const StaffServer&) = delete;

    // Checks the options, loads the certificate, binds and starts serving. False with the reason
    // in `error`.
    bool Start(std::string& error);
    void Stop();
    uint16_t port() const { return port_; }
    bool tls() const { return !options_.tlsCert.empty(); }
    std::string url() const; // "https://127.0.0.1:8047"

    struct Impl;

private:
    Store& store_;
    StaffOptions options_;
    uint16_t port_ = 0;
    std::unique_ptr<Impl> impl_;
};

} // namespace staff
} // namespace tallyport::server
