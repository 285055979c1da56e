#include "admission/PeerAdmission.h"

#include <fmt/format.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace tallyport::server {
namespace {

double Seconds(PeerAdmission::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Log lines and callbacks collected under the lock and run after it is released, so that neither
// a logger nor a listener's callback ever runs with the admission locked.
struct AfterUnlock {
    std::vector<std::string> lines;
    std::vector<std::function<void()>> calls;

    void Run(const PeerAdmission::LogLine& log) {
        if (log)
            for (const auto& line : lines)
                log(line);
        for (const auto& call : calls)
            if (call)
                call();
    }
};

} // namespace

PeerAdmission::PeerAdmission(Limits limits, LogLine log) : limits_(limits), log_(std::move(log)) {}

std::string PeerAdmission::AddressKey(std::string_view addressText) {
    const std::string text(addressText);
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1)
        return text; // IPv4 (or anything else) as it is
    static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    char out[INET6_ADDRSTRLEN] = {};
    if (std::memcmp(v6.s6_addr, kMapped, sizeof kMapped) == 0) {
        in_addr v4{};
        std::memcpy(&v4, v6.s6_addr + 12, 4);
        ::inet_ntop(AF_INET, &v4, out, sizeof out);
        return out;
    }
    std::fill(v6.s6_addr + 8, v6.s6_addr + 16, 0);
    ::inet_ntop(AF_INET6, &v6, out, sizeof out);
    return std::string(out) + "/64";
}

bool PeerAdmission::Count(std::optional<Burst>& burst, Clock::time_point now) {
    if (!burst) {
        burst = Burst{now, now, 1};
        return true;
    }
    burst->last = now;
    ++burst->count;
    return false;
}

namespace {

std::string Connections(std::size_t count) {
    return fmt::format("{} connection{}", count, count == 1 ? "" : "s");
}

std::string CapEndLine(const std::string& key, std::size_t count, double seconds) {
    return fmt::format("peer={} closed {} over the cap per address unread, in {:.1f} s", key,
                       Connections(count), seconds);
}

std::string ShedEndLine(std::size_t count, double seconds) {
    return fmt::format("out of open files: shed {} that had not sent their request, in {:.1f} s",
                       Connections(count), seconds);
}

} // namespace

std::optional<PeerAdmission::Ticket>
PeerAdmission::Admit(const std::string& key, std::function<void()> shed, Clock::time_point now) {
    AfterUnlock after;
    std::unique_lock lock(mutex_);
    auto [at, added] = peers_.try_emplace(key);
    Peer& peer = at->second;
    if (added)
        peer.key = key;
    if (limits_.maxPerAddress > 0 && peer.held >= limits_.maxPerAddress) {
        auto& burst = capBursts_[key];
        if (burst && now - burst->last >= limits_.burstQuiet) {
            after.lines.push_back(
                CapEndLine(key, burst->count, Seconds(burst->last - burst->first)));
            burst.reset();
        }
        if (Count(burst, now))
            after.lines.push_back(
                fmt::format("peer={} holds {} connections, the most one address may: closing its "
                            "new connections unread",
                            key, peer.held));
        lock.unlock();
        after.Run(log_);
        return std::nullopt;
    }
    ++peer.held;
    ++held_;
    peer.waiting.push_back(Waiting{now, std::move(shed)});
    return Ticket(this, &peer, std::prev(peer.waiting.end()));
}

std::function<void()> PeerAdmission::PickVictim(Clock::time_point now,
                                                std::vector<std::string>& lines) {
    Peer* best = nullptr;
    std::list<Waiting>::iterator victim;
    for (auto& [key, peer] : peers_) {
        const auto candidate = std::find_if(peer.waiting.begin(), peer.waiting.end(),
                                            [](const Waiting& w) { return !w.shedding; });
        if (candidate == peer.waiting.end())
            continue;
        if (best == nullptr || peer.held > best->held ||
            (peer.held == best->held && candidate->admitted < victim->admitted)) {
            best = &peer;
            victim = candidate;
        }
    }
    if (best == nullptr)
        return {};
    victim->shedding = true;
    if (shedBurst_ && now - shedBurst_->last >= limits_.burstQuiet) {
        lines.push_back(
            ShedEndLine(shedBurst_->count, Seconds(shedBurst_->last - shedBurst_->first)));
        shedBurst_.reset();
    }
    if (Count(shedBurst_, now))
        lines.push_back(fmt::format(
            "out of open files with {} connections held: shedding the connections that have "
            "waited longest for their request, from the addresses holding the most (first "
            "peer={}, holding {})",
            held_.load(), best->key, best->held));
    return victim->shed;
}

void PeerAdmission::KeepResume(const void* listener, std::function<void()> resume) {
    for (auto& [who, what] : resume_)
        if (who == listener) {
            what = std::move(resume);
            return;
        }
    resume_.emplace_back(listener, std::move(resume));
}

bool PeerAdmission::HasRoom() const {
    return limits_.maxConnections == 0 ||
           held_.load(std::memory_order_relaxed) < limits_.maxConnections;
}

bool PeerAdmission::RoomOrShed(const void* listener, std::function<void()> resume,
                               Clock::time_point now) {
    AfterUnlock after;
    std::unique_lock lock(mutex_);
    if (HasRoom()) // exact here: held_ changes only under the lock
        return true;
    after.calls.push_back(PickVictim(now, after.lines));
    KeepResume(listener, std::move(resume));
    lock.unlock();
    after.Run(log_);
    return false;
}

bool PeerAdmission::ShedForFiles(const void* listener, std::function<void()> resume,
                                 Clock::time_point now) {
    AfterUnlock after;
    std::unique_lock lock(mutex_);
    if (held_ == 0)
        return false;
    after.calls.push_back(PickVictim(now, after.lines));
    KeepResume(listener, std::move(resume));
    lock.unlock();
    after.Run(log_);
    return true;
}

void PeerAdmission::Forget(const void* listener) {
    std::lock_guard lock(mutex_);
    std::erase_if(resume_, [listener](const auto& entry) { return entry.first == listener; });
}

void PeerAdmission::Release(Peer* peer, std::optional<std::list<Waiting>::iterator> waiting) {
    AfterUnlock after;
    std::unique_lock lock(mutex_);
    if (waiting)
        peer->waiting.erase(*waiting);
    --held_;
    if (--peer->held == 0)
        peers_.erase(peers_.find(peer->key));
    // Every paused listener looks again: one of them takes the room, the others pause again.
    for (auto& entry : resume_)
        after.calls.push_back(std::move(entry.second));
    resume_.clear();
    lock.unlock();
    after.Run(log_);
}

void PeerAdmission::RequestArrived(Peer* peer, std::list<Waiting>::iterator waiting) {
    std::lock_guard lock(mutex_);
    peer->waiting.erase(waiting);
}

std::optional<PeerAdmission::Clock::time_point> PeerAdmission::EndBursts(Clock::time_point now,
                                                                         bool all) {
    AfterUnlock after;
    std::unique_lock lock(mutex_);
    std::optional<Clock::time_point> next;
    auto keep = [&next, this](const Burst& burst) {
        const auto due = burst.last + limits_.burstQuiet;
        next = next ? std::min(*next, due) : due;
    };
    for (auto at = capBursts_.begin(); at != capBursts_.end();) {
        const auto& burst = at->second;
        if (burst && !all && now - burst->last < limits_.burstQuiet) {
            keep(*burst);
            ++at;
            continue;
        }
        if (burst)
            after.lines.push_back(
                CapEndLine(at->first, burst->count, Seconds(burst->last - burst->first)));
        at = capBursts_.erase(at);
    }
    if (shedBurst_) {
        if (!all && now - shedBurst_->last < limits_.burstQuiet) {
            keep(*shedBurst_);
        } else {
            after.lines.push_back(
                ShedEndLine(shedBurst_->count, Seconds(shedBurst_->last - shedBurst_->first)));
            shedBurst_.reset();
        }
    }
    lock.unlock();
    after.Run(log_);
    return next;
}

std::size_t PeerAdmission::held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

PeerAdmission::Ticket::Ticket(Ticket&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), peer_(other.peer_),
      waiting_(std::exchange(other.waiting_, std::nullopt)) {}

PeerAdmission::Ticket& PeerAdmission::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        Release();
        owner_ = std::exchange(other.owner_, nullptr);
        peer_ = other.peer_;
        waiting_ = std::exchange(other.waiting_, std::nullopt);
    }
    return *this;
}

void PeerAdmission::Ticket::RequestArrived() {
    if (owner_ && waiting_)
        owner_->RequestArrived(peer_, *std::exchange(waiting_, std::nullopt));
}

void PeerAdmission::Ticket::Release() {
    if (owner_)
        std::exchange(owner_, nullptr)->Release(peer_, std::exchange(waiting_, std::nullopt));
}

} // namespace tallyport::server
