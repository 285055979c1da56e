// One request, one reply over one fresh TCP connection: preamble, scrambled length-prefixed body,
// status, scrambled reply; failures reported through TransactionUi with Abort / Retry / Ignore.
// The bytes on the connection are described in protocol/Wire.h.
#pragma once

#include "protocol/Configuration.h"
#include "protocol/NetMessage.h"
#include "protocol/StatusCode.h"
#include "protocol/TransactionUi.h"
#include "protocol/Wire.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace tallyport {

inline constexpr uint32_t kProtocolMagic = uint32_t(wire::kProtocolMagic);

// Seed of one connection attempt: calendar seconds plus processor clock ticks, 32-bit wrap.
int32_t SessionSeed();

// A request whose body is produced piece by piece while it is sent, again for every attempt, so
// that a large body (an upload) is never copied whole: `write` hands exactly `length` bytes to
// its sink, in order. An attempt whose body comes out shorter or longer fails with -2.
struct StreamedRequest {
    using Sink = std::function<void(std::span<const std::byte> piece)>;
    int32_t length = 0;
    std::function<void(const Sink& sink)> write;
};

class Transactor {
public:
    using SeedSource = std::function<int32_t()>;

    // `seedSource` gives each attempt's seed (tests fix it to check the bytes on the wire).
    Transactor(Endpoint endpoint, TransactionUi& ui, SeedSource seedSource = SessionSeed);

    // Runs the request; the reply is returned only with final status 0 (and even then may be
    // missing when the body did not arrive in full). The request is only read.
    //
    // With a non-empty title the UI is opened once before the first attempt and closed after the
    // last. A failing status is reported through ui.ReportStatus, except a silent one (-12),
    // which is not shown; a notice counts as Ignore whatever the UI answers. -4 and Abort end
    // with -999; Retry makes a new attempt (new connection, new seed); Ignore keeps the status.
    // Cancel (ui.Pump() returning true) fails the attempt with -1 while connecting (name lookup
    // included) and -2 afterwards.
    std::optional<NetMessage> Transact(const NetMessage& request, StatusCode& status,
                                       std::string_view title);
    // The same, with the body produced as it is sent; the same bytes go on the wire.
    std::optional<NetMessage> Transact(const StreamedRequest& request, StatusCode& status,
                                       std::string_view title);

    const Endpoint& endpoint() const { return endpoint_; }

private:
    RetryChoice Report(StatusCode status);

    Endpoint endpoint_;
    TransactionUi& ui_;
    SeedSource seedSource_;
};

} // namespace tallyport
