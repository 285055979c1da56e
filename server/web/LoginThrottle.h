// Slows password guessing at the staff login. Failures are counted per marker id and per client
// address; the first kFreeFailures of either cost nothing, after that every further attempt must
// wait, from the last failure, one second doubled for each failure beyond them (at most
// kLongestWait). An attempt made too early is refused without looking at the password. An
// attempt let through is counted as a failure at once, under the lock, before its password is
// checked: parallel guesses then see each other's count, so no more of them get through in one
// window than one at a time would. A successful login takes its attempt back from the address
// and clears its id's count; counts are forgotten kForgetAfter after their last failure.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tallyport::server::staff {

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFreeFailures = 3;
    static constexpr std::chrono::seconds kLongestWait{60};
    static constexpr std::chrono::minutes kForgetAfter{15};
    static constexpr std::size_t kCapacity = 10000; // per kind; the oldest are dropped beyond it

    // How long the attempt must still wait; zero when it may go ahead, and then the attempt is
    // already counted as failed until Succeeded says otherwise.
    std::chrono::milliseconds Begin(std::string_view id, std::string_view address);
    void Succeeded(std::string_view id, std::string_view address);

private:
    struct Failures {
        int count = 0;
        Clock::time_point last;
    };
    using Table = std::unordered_map<std::string, Failures>;
    static std::chrono::milliseconds Wait(const Table& table, std::string_view key,
                                          Clock::time_point now);
    static void Count(Table& table, std::string_view key, Clock::time_point now);

    std::mutex mutex_;
    Table byId_;
    Table byAddress_;
};

} // namespace tallyport::server::staff
