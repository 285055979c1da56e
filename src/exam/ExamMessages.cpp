#include "exam/ExamMessages.h"

#include "protocol/PasswordHash.h"

namespace tallyport {
namespace {

constexpr int32_t kSmallestFileRecord = 1 + 4; // an empty name's terminator and the length

} // namespace

NetMessage BuildExamRequest(int32_t course, int32_t student, std::string_view password,
                            int32_t entry) {
    NetMessage request(NetMessage::kRequestCapacity);
    request.AppendInt(kExamRequest);
    request.AppendInt(course);
    request.AppendInt(student);
    request.AppendString(HashPassword(password));
    request.AppendInt(entry);
    return request;
}

std::optional<ExamReply> ReadExamReply(NetMessage& reply) {
    ExamReply result;
    result.selector = reply.ReadInt();
    const int32_t count = reply.ReadInt();
    if (reply.malformed() || count < 0 || count > reply.remaining() / kSmallestFileRecord)
        return std::nullopt;
    result.files.reserve(std::size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        ExamReplyFile file;
        file.name = reply.ReadString();
        const int32_t length = reply.ReadInt();
        file.bytes = reply.ReadBytes(length); // a negative or oversized length marks it malformed
        if (reply.malformed())
            return std::nullopt;
        result.files.push_back(file);
    }
    return result;
}

} // namespace tallyport
