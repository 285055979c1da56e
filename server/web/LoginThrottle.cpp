#include "web/LoginThrottle.h"

#include <algorithm>

namespace tallyport::server::staff {

std::chrono::milliseconds LoginThrottle::Wait(const Table& table, std::string_view key,
                                              Clock::time_point now) {
    const auto found = table.find(std::string(key));
    if (found == table.end() || found->second.count < kFreeFailures)
        return std::chrono::milliseconds(0);
    const int beyond = std::min(found->second.count - kFreeFailures, 6); // 2^6 s > kLongestWait
    const auto wait =
        std::min<std::chrono::milliseconds>(std::chrono::seconds(1 << beyond), kLongestWait);
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - found->second.last);
    return waited >= wait ? std::chrono::milliseconds(0) : wait - waited;
}

void LoginThrottle::Count(Table& table, std::string_view key, Clock::time_point now) {
    std::erase_if(table, [&](const auto& item) { return now - item.second.last > kForgetAfter; });
    if (table.size() >= kCapacity && !table.contains(std::string(key))) {
        const auto oldest =
            std::min_element(table.begin(), table.end(), [](const auto& a, const auto& b) {
                return a.second.last < b.second.last;
            });
        table.erase(oldest);
    }
    auto& failures = table[std::string(key)];
    ++failures.count;
    failures.last = now;
}

std::chrono::milliseconds LoginThrottle::Begin(std::string_view id, std::string_view address) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    const auto wait = std::max(Wait(byId_, id, now), Wait(byAddress_, address, now));
    if (wait.count() == 0) {
        Count(byId_, id, now);
        Count(byAddress_, address, now);
    }
    return wait;
}

void LoginThrottle::Succeeded(std::string_view id, std::string_view address) {
    std::lock_guard lock(mutex_);
    byId_.erase(std::string(id));
    const auto found = byAddress_.find(std::string(address));
    if (found != byAddress_.end() && --found->second.count <= 0)
        byAddress_.erase(found);
}

} // namespace tallyport::server::staff
