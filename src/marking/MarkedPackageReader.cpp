#include "marking/MarkedPackageReader.h"

#include "marking/PageScale.h"

#include <algorithm>
#include <string>

namespace tallyport {
namespace {

bool ReadRequiredInt(const RecordFields& fields, std::size_t index, int32_t& value) {
    if (fields[index].empty())
        return false;
    value = ParseRecordInt(fields[index]);
    return true;
}

bool ReadRequiredText(const RecordFields& fields, std::size_t index, std::string& value) {
    if (fields[index].empty())
        return false;
    value = fields[index];
    return true;
}

bool ReadHeader(PackageInput& input, MarkedHeader& header) {
    std::string line;
    if (!input.ReadLine(line))
        return false;
    const auto fields = RecordFields::Of(line, 1);
    if (!fields || !ReadRequiredInt(*fields, 0, header.value1) ||
        !ReadRequiredInt(*fields, 1, header.value2) ||
        !ReadRequiredInt(*fields, 2, header.value3) || !ReadRequiredText(*fields, 3, header.text1))
        return false;
    header.text2 = (*fields)[4];
    return true;
}

bool ReadMarking(PackageInput& input, MarkingRecord& marking) {
    std::string line;
    if (!input.ReadLine(line))
        return false;
    const auto fields = RecordFields::Of(line, 1);
    return fields && ReadRequiredInt(*fields, 0, marking.mark) &&
           ReadRequiredText(*fields, 1, marking.markerId) &&
           ReadRequiredText(*fields, 2, marking.detail);
}

// The count after the ':'; -1 for a missing, empty or label-only line.
int32_t ReadFileCount(PackageInput& input) {
    std::string line;
    if (!input.ReadLine(line) || line.empty())
        return -1;
    const std::size_t colon = line.find(':');
    return colon == std::string::npos ? -1
                                      : ParseRecordInt(std::string_view(line).substr(colon + 1));
}

ContentKind KindOfLetter(char letter) {
    switch (letter) {
    case 'A':
        return ContentKind::Ascii;
    case 'B':
        return ContentKind::NonAscii;
    default:
        return ContentKind::Normalised;
    }
}

// Lines up to and including the first one starting with 'E' (the file's "EOF"); comments and
// strokes among them go to the head of the chain, anything else is passed over.
void ReadAnnotationBlock(PackageInput& input, MarkedFile& file) {
    std::string line;
    while (input.ReadLine(line) && !(!line.empty() && line[0] == 'E')) {
        if (line.empty() || (line[0] != 'C' && line[0] != 'L'))
            continue;
        if (auto annotation = ReadAnnotation(line, input))
            file.PushAnnotation(std::move(annotation));
    }
}

bool ReadFile(PackageInput& input, MarkedFile& file) {
    std::string line;
    if (!input.ReadLine(line) || !input.ReadLine(line)) // the separator, then the head line
        return false;
    const auto fields = RecordFields::Of(line, 2);
    std::string kind;
    if (!fields || !ReadRequiredText(*fields, 0, file.name) || !ReadRequiredText(*fields, 1, kind))
        return false;
    file.kind = KindOfLetter(kind[0]);
    if (!ReadRequiredInt(*fields, 2, file.tabWidth) || !ReadRequiredInt(*fields, 3, file.length))
        return false;
    std::string text;
    if (file.length < 0 || !input.ReadExact(uint64_t(file.length), text))
        return false; // a text that is not there in full is not kept
    file.SetText(std::move(text));
    ReadAnnotationBlock(input, file);
    return true;
}

} // namespace

std::optional<RecordFields> RecordFields::Of(std::string_view line, std::size_t skip) {
    const std::size_t colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos)
        return std::nullopt;
    RecordFields result;
    const std::size_t start = colon + skip;
    if (start >= line.size())
        return result;
    std::string_view rest = line.substr(start);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view field = rest.substr(0, comma);
        if (!field.empty())
            result.fields_.push_back(field);
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    return result;
}

std::string_view RecordFields::operator[](std::size_t index) const {
    return index < fields_.size() ? fields_[index] : std::string_view();
}

int32_t ParseRecordInt(std::string_view field) {
    std::size_t at = 0;
    while (at < field.size() && (field[at] == ' ' || (field[at] >= '\t' && field[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < field.size() && (field[at] == '+' || field[at] == '-'))
        negative = field[at++] == '-';
    int64_t magnitude = 0;
    for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at)
        magnitude = std::min<int64_t>(magnitude * 10 + (field[at] - '0'), int64_t(1) << 32);
    return ClampToInt32(negative ? -magnitude : magnitude);
}

bool ReadMarkedPackage(PackageInput& input, MarkedSubmission& submission) {
    if (!ReadHeader(input, submission.header.emplace()))
        return false;
    if (!ReadMarking(input, submission.marking.emplace()))
        return false;
    submission.fileCount = ReadFileCount(input);
    if (submission.fileCount < 0)
        return false;
    if (submission.fileCount > kMaxMarkedFiles) {
        submission.fileCount = -1;
        return false;
    }
    // Each file is made as its record is read, so the bytes at hand bound what is allocated
    // whatever the count says; the files a short package leaves out show as never arrived.
    for (int32_t i = 0; i < submission.fileCount; ++i)
        if (!ReadFile(input, submission.files.emplace_back()))
            return false;
    return true;
}

} // namespace tallyport
