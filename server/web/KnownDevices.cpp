#include "web/KnownDevices.h"

#include "web/SessionTable.h"

#include <algorithm>

namespace tallyport::server::staff {

bool KnownDevices::Knows(std::string_view token, std::string_view marker) {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(std::string(token));
    return found != devices_.end() && found->second.marker == marker &&
           Clock::now() - found->second.lastLogin < kLifetime;
}

std::string KnownDevices::Remember(std::string_view token, std::string_view marker) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (const auto found = devices_.find(std::string(token));
        found != devices_.end() && found->second.marker == marker) {
        found->second.lastLogin = now;
        return std::string(token);
    }
    std::erase_if(devices_,
                  [&](const auto& item) { return now - item.second.lastLogin >= kLifetime; });
    std::size_t held = 0;
    auto oldest = devices_.end();
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        if (it->second.marker != marker)
            continue;
        ++held;
        if (oldest == devices_.end() || it->second.lastLogin < oldest->second.lastLogin)
            oldest = it;
    }
    if (held >= kPerMarker)
        devices_.erase(oldest);
    else if (devices_.size() >= kCapacity)
        return {};
    std::string fresh = RandomToken();
    devices_[fresh] = {std::string(marker), now};
    return fresh;
}

} // namespace tallyport::server::staff
