// The File List reply as the client reads it: the type table and requirement text become a
// RequiredFileSet, whose lookups and file-dialog set-ups must hold for any text; the same bytes
// also go through the line-end rule and the package writer as if they were a file's content.
#include "protocol/NetMessage.h"
#include "submission/ChooseSubmitFile.h"
#include "submission/LoadSubmissionFile.h"
#include "submission/RequiredFileSet.h"
#include "submission/SplitPath.h"
#include "submission/SubmissionPackage.h"
#include "submission/SubmitRequests.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Every CR is followed by LF and every LF preceded by CR; the text ends with CR LF unless empty.
void CheckNormalised(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            Check(i + 1 < text.size() && text[i + 1] == '\n');
        if (text[i] == '\n')
            Check(i > 0 && text[i - 1] == '\r');
        Check(text[i] != '\0');
    }
    Check(text.empty() || text.ends_with("\r\n"));
}

// The line-end rule one byte at a time, as the fast version must behave.
std::string ReferenceLineEnds(std::string_view data) {
    data = data.substr(0, data.find('\0'));
    std::string text;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' || data[i] == '\n') {
            text += "\r\n";
            if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
        } else {
            text += data[i];
        }
    }
    if (!text.empty() && text.back() != '\n')
        text += "\r\n";
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tallyport;
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    NetMessage reply = NetMessage::fromReply(bytes);
    const auto fields = ReadFileListReply(reply);
    if (fields) {
        const RequiredFileSet set = BuildRequiredFileSet(fields->typeTable, fields->requirement,
                                                         fields->sizeFlag, "pw", 100123456, 0);
        Check(set.combinedFilter.ends_with(kAllFilesFilter));
        for (const FileType& type : set.types) {
            Check(!type.extension.empty() && type.extension.find('/') == std::string::npos);
            Check(set.FindFileType(type.extension) != nullptr);
            Check(type.filterFull == type.filterOne + std::string(kAllFilesFilter));
        }
        for (const std::string& extension : set.extensions)
            Check(set.IsExtensionPermitted(extension));
        Check(set.names.size() <= set.extensions.size());
        for (int32_t slot = -1; slot <= set.nameCount(); ++slot) {
            const OpenFileRequest request = SubmitFileRequest(set, slot);
            Check(!request.title.empty() && request.filter.ends_with("||"));
        }
        for (const std::string& name : set.names) {
            const SplitPathResult split = SplitPath(name);
            Check(split.fileName.size() <= name.size());
            const std::string submitted = SubmittedName(name);
            Check(submitted.find(',') == std::string::npos &&
                  submitted.find('\\') == std::string::npos);
        }
    }

    // The same bytes as a file's content, in each kind, through the package.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string normalised = NormaliseLineEnds(text);
    CheckNormalised(normalised);
    Check(normalised == ReferenceLineEnds(text));
    Check(NormaliseLineEnds(normalised) == normalised);
    SubmissionEntries entries;
    entries.push_back(
        SubmissionFile{SubmittedName(text.substr(0, 40)), ContentKind::Normalised, normalised, 4});
    entries.push_back(std::nullopt);
    entries.push_back(SubmissionFile{"raw.bin", ContentKind::NonAscii, std::string(text), 8});
    const std::string package = PackageBytes(entries);
    Check(int64_t(package.size()) == PackageSize(entries));
    Check(package.starts_with("Number of Files: 2\r\n") && package.ends_with("EOF\r\n"));
    return 0;
}
