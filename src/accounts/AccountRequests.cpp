#include "accounts/AccountRequests.h"

#include "protocol/PasswordHash.h"

namespace tallyport {
namespace {

NetMessage Begin(int32_t kind, int32_t course, std::string_view step, int32_t student) {
    NetMessage request(NetMessage::kRequestCapacity);
    request.AppendInt(kind);
    request.AppendInt(course);
    request.AppendString(step);
    request.AppendInt(student);
    return request;
}

} // namespace

NetMessage BuildVerificationRequest(int32_t course, int32_t student) {
    return Begin(kRegisterRequest, course, "V", student);
}

NetMessage BuildRegistrationRequest(int32_t course, int32_t student, std::string_view password,
                                    std::string_view name, std::string_view email,
                                    std::string_view questionnaire) {
    NetMessage request = Begin(kRegisterRequest, course, "R", student);
    request.AppendString(HashPassword(password));
    request.AppendString(name);
    request.AppendString(email);
    request.AppendString(questionnaire);
    return request;
}

NetMessage BuildStudentVerificationRequest(int32_t course, int32_t student,
                                           std::string_view currentPassword) {
    NetMessage request = Begin(kUpdateRequest, course, "V", student);
    request.AppendString(HashPassword(currentPassword));
    return request;
}

NetMessage BuildUpdateRequest(int32_t course, int32_t student, std::string_view currentPassword,
                              std::string_view newPassword, std::string_view name,
                              std::string_view email) {
    NetMessage request = Begin(kUpdateRequest, course, "U", student);
    request.AppendString(HashPassword(currentPassword));
    request.AppendString(HashPassword(newPassword));
    request.AppendString(name);
    request.AppendString(email);
    return request;
}

bool IsIgnoredTransportFailure(StatusCode status) {
    return status == status::kNoConnection || status == status::kTransmissionError ||
           status == status::kServerError;
}

std::optional<AccountRecord> ReadAccountRecord(NetMessage& reply) {
    AccountRecord record;
    record.name = reply.ReadString();
    record.email = reply.ReadString();
    if (reply.malformed())
        return std::nullopt;
    return record;
}

} // namespace tallyport
