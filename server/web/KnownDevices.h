// The browsers markers have logged in from: a random 256-bit token in a long-lived cookie, set at
// a successful login and remembered here (in memory: a restart forgets them, and the next login
// sets a new one). A login from a known browser of its marker is not slowed by failures others
// made on that marker's id, so whoever knows an id cannot keep its owner out.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tallyport::server::staff {

class KnownDevices {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kLifetime{180 * 24}; // the cookie's Max-Age too
    static constexpr std::size_t kPerMarker = 10;            // beyond it the marker's oldest goes
    static constexpr std::size_t kCapacity = 100000;         // beyond it no new one is remembered

    // Whether `token` is a browser `marker` logged in from (and not past its lifetime).
    bool Knows(std::string_view token, std::string_view marker);
    // `token` again when it is already known for `marker`, else a new token remembered for them;
    // empty when the table is full.
    std::string Remember(std::string_view token, std::string_view marker);

private:
    struct Device {
        std::string marker;
        Clock::time_point lastLogin;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Device> devices_;
};

} // namespace tallyport::server::staff
