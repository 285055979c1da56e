#include "marking/MarkedRequests.h"

#include "protocol/PasswordHash.h"

namespace tallyport {

NetMessage BuildMarkedAssignmentRequest(int32_t courseNumber, int32_t studentNumber,
                                        std::string_view password, int32_t entryIndex) {
    NetMessage request(NetMessage::kRequestCapacity);
    request.AppendInt(kMarkedAssignmentRequest);
    request.AppendInt(courseNumber);
    request.AppendInt(studentNumber);
    request.AppendString(HashPassword(password));
    request.AppendInt(entryIndex);
    return request;
}

std::optional<MarkedReply> ReadMarkedReply(NetMessage& reply) {
    MarkedReply result;
    result.maxMark = reply.ReadInt();
    const int32_t length = reply.ReadInt();
    if (reply.malformed() || length < 0 || length > reply.remaining())
        return std::nullopt;
    result.package = reply.ReadBytes(length);
    return result;
}

NetMessage BuildMarkerNameRequest(int32_t courseNumber, std::string_view markerId) {
    NetMessage request(NetMessage::kRequestCapacity);
    request.AppendInt(kMarkerNameRequest);
    request.AppendInt(courseNumber);
    request.AppendString(markerId);
    return request;
}

std::optional<MarkerName> ReadMarkerNameReply(NetMessage& reply) {
    MarkerName result;
    result.name = reply.ReadString();
    result.about = reply.ReadString();
    if (reply.malformed())
        return std::nullopt;
    return result;
}

} // namespace tallyport
