// The "Exam Question" request and its reply: a selector, a count, then each file as its name,
// its length and its bytes.
#pragma once

#include "protocol/NetMessage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tallyport {

inline constexpr int32_t kExamRequest = 15;

// The password is the plain text; it leaves as HashPassword of it. No step string here.
NetMessage BuildExamRequest(int32_t course, int32_t student, std::string_view password,
                            int32_t entry);

struct ExamReplyFile {
    std::string_view name;            // as the server sent it: untrusted
    std::span<const std::byte> bytes; // a view into the reply
};

struct ExamReply {
    int32_t selector = 0; // 0: no exam for this student
    std::vector<ExamReplyFile> files;
};

// Walks the whole reply in order. None when it does not hold what it announces: a negative
// count or length, or more files or bytes than are left (checked before anything is reserved).
// The result views the reply's bytes, so the reply must outlive it.
std::optional<ExamReply> ReadExamReply(NetMessage& reply);

} // namespace tallyport
