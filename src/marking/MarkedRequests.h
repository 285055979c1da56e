// The two requests of marked-work viewing and their replies: the marked submission (13) and
// the marker's name (14).
#pragma once

#include "protocol/NetMessage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallyport {

inline constexpr int32_t kMarkedAssignmentRequest = 13;
inline constexpr int32_t kMarkerNameRequest = 14;
inline constexpr std::string_view kMarkedAssignmentTitle = "Marked Assignment";
inline constexpr std::string_view kMarkerNameTitle = "Marker Name";

// 13, course, student, HashPassword(password), entry index.
NetMessage BuildMarkedAssignmentRequest(int32_t courseNumber, int32_t studentNumber,
                                        std::string_view password, int32_t entryIndex);

struct MarkedReply {
    int32_t maxMark = 0;
    std::span<const std::byte> package; // inside the reply message
};

// The maximum mark, then n and n bytes of package. Nothing when n is negative or the reply does
// not hold n bytes.
std::optional<MarkedReply> ReadMarkedReply(NetMessage& reply);

// 14, course, marker id.
NetMessage BuildMarkerNameRequest(int32_t courseNumber, std::string_view markerId);

struct MarkerName {
    std::string name;
    std::string about; // shown in angle brackets after the name
};

// Two strings; nothing when the reply does not hold both.
std::optional<MarkerName> ReadMarkerNameReply(NetMessage& reply);

} // namespace tallyport
