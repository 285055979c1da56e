// The requests of the Register and Update Info commands and the one reply they read. Passwords
// are given as the trimmed plain text and always leave as HashPassword of it.
#pragma once

#include "protocol/NetMessage.h"
#include "protocol/StatusCode.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

inline constexpr int32_t kRegisterRequest = 10;
inline constexpr int32_t kUpdateRequest = 11;

// "Verification": may this student number register?
NetMessage BuildVerificationRequest(int32_t course, int32_t student);

// "Registration Information".
NetMessage BuildRegistrationRequest(int32_t course, int32_t student, std::string_view password,
                                    std::string_view name, std::string_view email,
                                    std::string_view questionnaire);

// "Student Verification": proves the current password and asks for the record.
NetMessage BuildStudentVerificationRequest(int32_t course, int32_t student,
                                           std::string_view currentPassword);

// "Password & E-mail Address".
NetMessage BuildUpdateRequest(int32_t course, int32_t student, std::string_view currentPassword,
                              std::string_view newPassword, std::string_view name,
                              std::string_view email);

// Connection, transmission and server failures after which the user chose Ignore: the account
// dialog is shown again with what was entered.
bool IsIgnoredTransportFailure(StatusCode status);

struct AccountRecord {
    std::string name;
    std::string email;
};

// The Student Verification reply: name, then e-mail. None when the reply does not hold both.
std::optional<AccountRecord> ReadAccountRecord(NetMessage& reply);

} // namespace tallyport
