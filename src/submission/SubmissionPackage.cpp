#include "submission/SubmissionPackage.h"

namespace tallyport {
namespace {

constexpr std::string_view kSeparatorLine =
    "--------------------------------------------------------------------------------\r\n";
constexpr std::string_view kEndLine = "EOF\r\n";

int32_t FileCount(const SubmissionEntries& entries) {
    int32_t count = 0;
    for (const auto& entry : entries)
        count += entry.has_value();
    return count;
}

std::string CountLine(int32_t count) {
    return "Number of Files: " + std::to_string(count) + "\r\n";
}

std::string HeaderLine(int32_t number, const SubmissionFile& file) {
    return "File #" + std::to_string(number) + ": " + file.name + "," +
           PackageLetter(file.contentKind) + "," + std::to_string(file.tabWidth) + "," +
           std::to_string(file.length()) + "\r\n";
}

} // namespace

int64_t PackageSize(const SubmissionEntries& entries) {
    int64_t size = int64_t(CountLine(FileCount(entries)).size());
    int32_t number = 0;
    for (const auto& entry : entries) {
        if (entry) {
            size += int64_t(kSeparatorLine.size() + HeaderLine(++number, *entry).size() +
                            entry->content.size() + kEndLine.size());
        }
    }
    return size;
}

void WritePackage(const SubmissionEntries& entries,
                  const std::function<void(std::string_view piece)>& sink) {
    sink(CountLine(FileCount(entries)));
    int32_t number = 0;
    for (const auto& entry : entries) {
        if (!entry)
            continue;
        sink(kSeparatorLine);
        sink(HeaderLine(++number, *entry));
        sink(entry->content);
        sink(kEndLine);
    }
}

std::string PackageBytes(const SubmissionEntries& entries) {
    std::string bytes;
    bytes.reserve(std::size_t(PackageSize(entries)));
    WritePackage(entries, [&](std::string_view piece) { bytes += piece; });
    return bytes;
}

} // namespace tallyport
