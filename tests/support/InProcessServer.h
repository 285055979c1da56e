// A real tallyport-server running inside the test process: a fresh database in a folder of the
// test, served on a 127.0.0.x loopback address and an ephemeral port by its own threads.
#pragma once

#include "store/Store.h"
#include "protocol/Configuration.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tallyport::server {
class Server;
}

namespace tallyport::test {

class InProcessServer {
public:
    // Fresh database in `folder`; serves on `address` (a 127.0.0.x loopback address) on an
    // ephemeral port, on its own thread(s). Throws std::runtime_error if it cannot start.
    explicit InProcessServer(const std::filesystem::path& folder,
                             std::string address = "127.0.0.1");
    ~InProcessServer(); // stops and joins
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;

    tallyport::Endpoint endpoint() const;   // {address, port}
    void LoadDemo();                        // the same data as `tallyport-server demo`
    void LoadCourse(std::string_view toml); // same as `course load`; throws std::runtime_error
                                            // with the loader's message when it is refused
    void Stop();                            // stop serving (finishes requests in flight)
    void Start();                           // serve again on the same port and database
    server::Store& store();                 // direct access for setting up and checking state

    // Requests served so far (each connection that reached a reply or a refusal).
    int64_t requestsServed() const;
    // Serve with this body cap (bytes) and idle timeout from the next Start().
    void SetLimits(int64_t bodyCap, int32_t idleTimeoutMs);

private:
    std::filesystem::path folder_;
    std::string address_;
    uint16_t port_ = 0;
    int64_t bodyCap_;
    int32_t idleTimeoutMs_;
    std::unique_ptr<server::Store> store_;
    std::unique_ptr<server::Server> server_;
    int64_t servedBefore_ = 0;
};

} // namespace tallyport::test
