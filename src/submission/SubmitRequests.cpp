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

NetMessage UploadRequestHead(int32_t courseNumber, const RequiredFileSet& set,
                             const SubmissionEntries& entries) {
    NetMessage head(NetMessage::kRequestCapacity);
    AppendCommonFields(head, courseNumber, "S", set.studentNumber, set.password, set.entryIndex);
    head.AppendInt(int32_t(PackageSize(entries)));
    return head;
}

StreamedRequest StreamUploadRequest(const NetMessage& head, const SubmissionEntries& entries) {
    StreamedRequest request;
    request.length = int32_t(int64_t(head.length()) + PackageSize(entries));
    request.write = [&head, &entries](const StreamedRequest::Sink& sink) {
        sink(head.bytes());
        WritePackage(entries, [&](std::string_view piece) {
            sink({reinterpret_cast<const std::byte*>(piece.data()), piece.size()});
        });
    };
    return request;
}

NetMessage BuildUploadRequest(int32_t courseNumber, const RequiredFileSet& set,
                              const SubmissionEntries& entries) {
    const NetMessage head = UploadRequestHead(courseNumber, set, entries);
    const int64_t size = PackageSize(entries);
    // The whole is a multiple of 1024 bytes, allocated once.
    const int64_t capacity = (head.length() + size + NetMessage::kGrowthGranule - 1) /
                             NetMessage::kGrowthGranule * NetMessage::kGrowthGranule;
    NetMessage request{int32_t(capacity)};
    request.AppendBytes(head.bytes());
    WritePackage(entries,
                 [&](std::string_view piece) { request.AppendBytes(piece.data(), piece.size()); });
    return request;
}

} // namespace tallyport
