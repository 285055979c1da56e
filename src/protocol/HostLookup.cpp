#include "protocol/HostLookup.h"

#include <condition_variable>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <system_error>
#include <thread>

namespace tallyport {

struct HostLookup::State {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::vector<asio::ip::tcp::endpoint> endpoints;
};

namespace {

std::vector<asio::ip::tcp::endpoint> Resolve(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET; // the connection reports its local address as dotted IPv4
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::vector<asio::ip::tcp::endpoint> endpoints;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0)
        return endpoints;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in))
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        endpoints.emplace_back(asio::ip::address_v4(ntohl(in->sin_addr.s_addr)), port);
    }
    ::freeaddrinfo(list);
    return endpoints;
}

} // namespace

HostLookup::HostLookup(const std::string& host, uint16_t port) : state_(std::make_shared<State>()) {
    try {
        std::thread([state = state_, host, port] {
            auto endpoints = Resolve(host, port);
            std::lock_guard lock(state->mutex);
            state->endpoints = std::move(endpoints);
            state->done = true;
            state->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) { // no thread to be had: the lookup fails
        state_->done = true;
    }
}

std::optional<std::vector<asio::ip::tcp::endpoint>>
HostLookup::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    if (!state_->finished.wait_for(lock, timeout, [&] { return state_->done; }))
        return std::nullopt;
    return state_->endpoints;
}

} // namespace tallyport
