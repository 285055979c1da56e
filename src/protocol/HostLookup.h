// Looks up the IPv4 addresses of a server host name without blocking the caller, so that the
// transfer box stays responsive and Cancel is seen during a slow lookup. The platform resolver
// runs on a detached thread; a lookup nobody waits for any more finishes on its own and its
// result is dropped.
#pragma once

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallyport {

class HostLookup {
public:
    HostLookup(const std::string& host, uint16_t port);

    // Waits at most `timeout`. Once the lookup has finished: its addresses (none when the name is
    // unknown or the lookup could not run); before that: nothing.
    std::optional<std::vector<asio::ip::tcp::endpoint>> WaitFor(std::chrono::milliseconds timeout);

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace tallyport
