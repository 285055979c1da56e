#include "web/SessionTable.h"

#include <sys/random.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace tallyport::server::staff {

std::string RandomToken() {
    std::array<unsigned char, 32> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0 && errno != EINTR)
            throw std::runtime_error("no random bytes from the system"); // never in practice
        if (got > 0)
            filled += std::size_t(got);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : bytes) {
        token += kHex[byte >> 4];
        token += kHex[byte & 0xF];
    }
    return token;
}

std::optional<Session> SessionTable::Open(std::string_view marker) {
    Session session{RandomToken(), RandomToken(), std::string(marker)};
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    DropExpired(now);
    std::size_t held = 0;
    auto oldestHeld = sessions_.end();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
        if (it->second.session.marker != marker)
            continue;
        ++held;
        if (oldestHeld == sessions_.end() || it->second.lastUse < oldestHeld->second.lastUse)
            oldestHeld = it;
    }
    if (held >= perMarker_ && oldestHeld != sessions_.end())
        sessions_.erase(oldestHeld);
    else if (sessions_.size() >= capacity_)
        return std::nullopt;
    sessions_[session.id] = {session, now};
    return session;
}

std::optional<Session> SessionTable::Touch(std::string_view id) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(std::string(id));
    if (found == sessions_.end())
        return std::nullopt;
    if (now - found->second.lastUse > idleExpiry_) {
        sessions_.erase(found);
        return std::nullopt;
    }
    found->second.lastUse = now;
    return found->second.session;
}

void SessionTable::Close(std::string_view id) {
    std::lock_guard lock(mutex_);
    sessions_.erase(std::string(id));
}

void SessionTable::DropExpired(Clock::time_point now) {
    std::erase_if(sessions_,
                  [&](const auto& item) { return now - item.second.lastUse > idleExpiry_; });
}

} // namespace tallyport::server::staff
