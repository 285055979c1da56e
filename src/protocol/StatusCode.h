// Status codes of a transaction and the message box each one is reported with.
#pragma once

#include <cstdint>
#include <string_view>

namespace tallyport {

using StatusCode = int32_t;

namespace status {
inline constexpr StatusCode kSuccess = 0;
inline constexpr StatusCode kNoConnection = -1;
inline constexpr StatusCode kTransmissionError = -2;
inline constexpr StatusCode kServerError = -3;
inline constexpr StatusCode kOldVersion = -4;
inline constexpr StatusCode kUnknownCourse = -5;
inline constexpr StatusCode kAccountExists = -6;
inline constexpr StatusCode kUnknownStudent = -7;
inline constexpr StatusCode kWrongPassword = -8;
inline constexpr StatusCode kBadAssignment = -9;
inline constexpr StatusCode kNotYetOpen = -10;
inline constexpr StatusCode kDeadlinePassed = -11;
inline constexpr StatusCode kNothingThere = -12; // silent: the caller reports it
inline constexpr StatusCode kNotAllowedHere = -13;
inline constexpr StatusCode kAborted = -999;
} // namespace status

// How ReportStatus shows a status.
enum class StatusBox {
    None,             // nothing shown (-12)
    Notice,           // OK button, exclamation icon; counts as Ignore
    AbortRetryIgnore, // question icon
};

struct StatusReport {
    std::string_view text;
    StatusBox box;
};

// The message table of the transaction. Positive statuses (never sent by a correct server) are
// reported like an unknown error.
StatusReport DescribeStatus(StatusCode status);

} // namespace tallyport
