// Which connections a listener takes on, shared by every listener of one server process.
//
// - A cap per peer address: a connection from an address that already holds the cap is closed
//   unread by the listener.
// - A budget of connections the process's open files allow: before a listener accepts beyond it,
//   the connection that has waited longest without sending its request, from the address holding
//   the most connections, is asked to close, and the listener accepts again as soon as a
//   connection is released. The listener never runs out of files on its own connections, so it
//   keeps accepting and the backlog never holds clients in silence.
// - Refusals and sheds are logged once per burst (when it starts, and when it ends with its
//   count), never once per connection: a flood cannot flood the log.
//
// A listener calls RoomOrShed before each accept, AddressKey and Admit for each accepted
// connection, keeps the Ticket while the connection lives and calls Ticket::RequestArrived once
// the request is in (from then on it is never shed). It also gives each connection a first-bytes
// deadline of its own for what identifies the request (the protocol's preamble and length; for
// HTTPS, the handshake and the request head), apart from the idle timeout of what follows.
// Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tallyport::server {

class PeerAdmission {
public:
    using Clock = std::chrono::steady_clock;
    using LogLine = std::function<void(const std::string&)>;

    struct Limits {
        int maxPerAddress = 128;        // connections one address may hold; 0: no cap
        std::size_t maxConnections = 0; // connections in all (what the files allow); 0: no budget
        // A burst of refusals or sheds ends after this long without one.
        std::chrono::milliseconds burstQuiet{10'000};
    };

    class Ticket;

    PeerAdmission(Limits limits, LogLine log);
    PeerAdmission(const PeerAdmission&) = delete;
    PeerAdmission& operator=(const PeerAdmission&) = delete;

    // What connections are counted under: an IPv4 address (also IPv4-mapped IPv6) as it is; an
    // IPv6 address by its /64, which is what one host usually holds.
    static std::string AddressKey(std::string_view addressText);

    // A held connection from `key`; none when the address already holds the cap (the refusal is
    // counted for the log). `shed` is called, outside any lock, when this connection is picked to
    // make room; it must close the connection soon and may be called on any thread.
    std::optional<Ticket> Admit(const std::string& key, std::function<void()> shed,
                                Clock::time_point now = Clock::now());

    // Before an accept: true when the budget has room. Otherwise sheds one waiting connection (if
    // there is one not already shedding), keeps `resume` under `listener` and returns false;
    // `resume` then runs once, on the releasing thread, as soon as a held connection is released.
    bool RoomOrShed(const void* listener, std::function<void()> resume,
                    Clock::time_point now = Clock::now());
    // Whether the budget has room now, for a listener deciding whether to ask; nothing is shed.
    bool HasRoom() const;
    // The listener ran out of files although the budget had room (other files, or the system's
    // table): sheds one waiting connection and keeps `resume` as above. False when nothing is held
    // whose release could free a file; the listener then retries on a timer of its own.
    bool ShedForFiles(const void* listener, std::function<void()> resume,
                      Clock::time_point now = Clock::now());
    // Drops what `listener` asked to be resumed with (when it stops).
    void Forget(const void* listener);

    // Logs the end of every burst that has been quiet for `burstQuiet` by `now`, with its count.
    // While bursts remain open, the time to call this again.
    std::optional<Clock::time_point> EndQuietBursts(Clock::time_point now = Clock::now()) {
        return EndBursts(now, false);
    }
    // Logs the end of every open burst (when a listener stops).
    void EndAllBursts() { EndBursts(Clock::now(), true); }

    std::size_t held() const;
    const Limits& limits() const { return limits_; }

private:
    struct Waiting {
        Clock::time_point admitted;
        std::function<void()> shed;
        bool shedding = false;
    };
    struct Peer {
        std::string key;
        int held = 0;
        std::list<Waiting> waiting; // connections without their request, oldest first
    };
    struct Burst {
        Clock::time_point first, last;
        std::size_t count = 0;
    };

    void Release(Peer* peer, std::optional<std::list<Waiting>::iterator> waiting);
    void RequestArrived(Peer* peer, std::list<Waiting>::iterator waiting);
    // Under the lock: picks and marks the victim and counts the shed (adding the burst's log
    // lines to `lines`); the victim's shed callback, to be called after unlocking.
    std::function<void()> PickVictim(Clock::time_point now, std::vector<std::string>& lines);
    void KeepResume(const void* listener, std::function<void()> resume);
    std::optional<Clock::time_point> EndBursts(Clock::time_point now, bool all);
    // Counts one refusal or shed in `burst`; true when it starts a burst.
    static bool Count(std::optional<Burst>& burst, Clock::time_point now);

    const Limits limits_;
    const LogLine log_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Peer> peers_;
    // Changed under mutex_; HasRoom reads it without, as a hint.
    std::atomic<std::size_t> held_ = 0;
    std::vector<std::pair<const void*, std::function<void()>>> resume_;
    std::unordered_map<std::string, std::optional<Burst>> capBursts_;
    std::optional<Burst> shedBurst_;
};

// One admitted connection; released when destroyed (or by Release).
class PeerAdmission::Ticket {
public:
    Ticket(Ticket&& other) noexcept;
    Ticket& operator=(Ticket&& other) noexcept;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    ~Ticket() { Release(); }

    // The request has arrived: the connection is no longer one that may be shed.
    void RequestArrived();
    void Release();

private:
    friend class PeerAdmission;
    Ticket(PeerAdmission* owner, Peer* peer, std::list<Waiting>::iterator waiting)
        : owner_(owner), peer_(peer), waiting_(waiting) {}

    PeerAdmission* owner_ = nullptr;
    Peer* peer_ = nullptr;
    std::optional<std::list<Waiting>::iterator> waiting_;
};

} // namespace tallyport::server
