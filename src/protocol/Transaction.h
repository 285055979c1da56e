// One request, one reply over one fresh TCP connection: preamble, scrambled length-prefixed body,
// status, scrambled reply; failures reported through TransactionUi with Abort / Retry / Ignore.
#pragma once

#include "protocol/Configuration.h"
#include "protocol/NetMessage.h"
#include "protocol/StatusCode.h"
#include "protocol/TransactionUi.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tallyport {

inline constexpr uint32_t kProtocolMagic = 0x69446D03;

// Seed of one connection attempt: calendar seconds plus processor clock ticks, 32-bit wrap.
int32_t SessionSeed();

class Transactor {
public:
    Transactor(Endpoint endpoint, TransactionUi& ui);

    // Runs the request; the reply is returned only with final status 0 (and even then may be
    // missing when the body did not arrive in full). The request is only read.
    std::optional<NetMessage> Transact(const NetMessage& request, StatusCode& status,
                                       std::string_view title);

    const Endpoint& endpoint() const { return endpoint_; }

private:
    Endpoint endpoint_;
    TransactionUi& ui_;
};

} // namespace tallyport
