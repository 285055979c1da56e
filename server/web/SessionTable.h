// The staff listener's sessions, kept in memory: a random 256-bit id (the cookie) and a random
// CSRF token per session, forgotten after an idle time or at logout. A restart logs everyone out.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tallyport::server::staff {

struct Session {
    std::string id;   // 64 hex digits; the cookie's value
    std::string csrf; // 64 hex digits; sent back in the X-CSRF-Token header
    std::string marker;
};

// 32 bytes from the system's random source as 64 lower-case hex digits.
std::string RandomToken();

class SessionTable {
public:
    using Clock = std::chrono::steady_clock;

    SessionTable(std::chrono::seconds idleExpiry, std::size_t capacity, std::size_t perMarker)
        : idleExpiry_(idleExpiry), capacity_(capacity), perMarker_(perMarker) {}

    // A new session for `marker`. A marker who already holds `perMarker` sessions loses their own
    // session idle longest; another marker's session is never dropped for it, so when the whole
    // table is full there is none.
    std::optional<Session> Open(std::string_view marker);
    // The session with this id, its idle time restarted; none when unknown or expired.
    std::optional<Session> Touch(std::string_view id);
    void Close(std::string_view id);

private:
    struct Entry {
        Session session;
        Clock::time_point lastUse;
    };
    void DropExpired(Clock::time_point now);

    std::chrono::seconds idleExpiry_;
    std::size_t capacity_;
    std::size_t perMarker_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> sessions_;
};

} // namespace tallyport::server::staff
