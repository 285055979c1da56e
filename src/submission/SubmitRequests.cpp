#include "submission/SubmitRequests.h"

#include "protocol/PasswordHash.h"
#include "submission/SubmissionPackage.h"

namespace tallyport {
namespace {

void AppendCommonFields(NetMessage& message, int32_t courseNumber, std::string_view letter,
                        int32_t studentNumber, std::string_view password, int32_t entryIndex) {
    message.AppendInt(kSubmitRequestKind);
    message.AppendInt(courseNumber);
    message.AppendString(letter);
    message.AppendInt(studentNumber);
    message.AppendString(HashPassword(password));
    message.AppendInt(entryIndex);
}

} // namespace

NetMessage BuildFileListRequest(int32_t courseNumber, int32_t studentNumber,
                                std::string_view password, int32_t entryIndex) {
    NetMessage request(NetMessage::kRequestCapacity);
    AppendCommonFields(request, courseNumber, "V", studentNumber, password, entryIndex);
    return request;
}

std::optional<FileListReply> ReadFileListReply(NetMessage& reply) {
    FileListReply fields;
    fields.typeTable = std::string(reply.ReadString());
    fields.requirement = std::string(reply.ReadString());
    fields.sizeFlag = reply.ReadInt();
    if (reply.malformed())
        return std::nullopt;
    return fields;
}

NetMessage BuildUploadRequest(int32_t courseNumber, const RequiredFileSet& set,
                              const SubmissionEntries& entries) {
    const int64_t size = PackageSize(entries);
    // The six leading fields fit in the first 1024 bytes; the whole is a multiple of 1024.
    const int64_t capacity =
        (NetMessage::kRequestCapacity + size + NetMessage::kGrowthGranule - 1) /
        NetMessage::kGrowthGranule * NetMessage::kGrowthGranule;
    NetMessage request{int32_t(capacity)};
    AppendCommonFields(request, courseNumber, "S", set.studentNumber, set.password, set.entryIndex);
    request.AppendInt(int32_t(size));
    WritePackage(entries,
                 [&](std::string_view piece) { request.AppendBytes(piece.data(), piece.size()); });
    return request;
}

} // namespace tallyport
