// Replies to the marked-submission and marker-name requests: a length the reply cannot hold is
// refused, every read stays inside the reply, and the package inside is read like any other.
#include "marking/MarkedPackageReader.h"
#include "marking/MarkedRequests.h"

#include <cstdlib>
#include <span>

using namespace tallyport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto bytes = std::span(reinterpret_cast<const std::byte*>(data), size);
    NetMessage marked = NetMessage::fromReply(bytes);
    if (const auto reply = ReadMarkedReply(marked)) {
        const std::byte* begin = marked.bytes().data();
        const std::byte* end = begin + marked.bytes().size();
        if (!reply->package.empty() &&
            (reply->package.data() < begin || reply->package.data() + reply->package.size() > end))
            std::abort();
        PackageInput input = PackageInput::FromMemory(std::string_view(
            reinterpret_cast<const char*>(reply->package.data()), reply->package.size()));
        MarkedSubmission submission;
        ReadMarkedPackage(input, submission);
    }
    NetMessage marker = NetMessage::fromReply(bytes);
    if (const auto name = ReadMarkerNameReply(marker))
        if (name->name.size() + name->about.size() + 2 > size)
            std::abort();
    return 0;
}
