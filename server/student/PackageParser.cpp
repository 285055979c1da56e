#include "student/PackageParser.h"

#include <charconv>

namespace tallyport::server {
namespace {

constexpr std::string_view kCountPrefix = "Number of Files: ";
constexpr std::size_t kSeparatorDashes = 80;
constexpr std::string_view kEndLine = "EOF\r\n";
// The smallest file record: separator, "File #1: a,A,0,0", no content, "EOF".
constexpr std::size_t kSmallestRecord = kSeparatorDashes + 2 + 18 + kEndLine.size();

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::size_t position() const { return position_; }
    std::size_t remaining() const { return bytes_.size() - position_; }

    // The next line without its CR LF; none if no CR LF follows.
    std::optional<std::string_view> Line() {
        const std::size_t end = bytes_.find("\r\n", position_);
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = bytes_.substr(position_, end - position_);
        position_ = end + 2;
        return line;
    }

    bool Skip(std::size_t count) {
        if (count > remaining())
            return false;
        position_ += count;
        return true;
    }

    bool Expect(std::string_view text) {
        if (bytes_.substr(position_, text.size()) != text)
            return false;
        position_ += text.size();
        return true;
    }

private:
    std::string_view bytes_;
    std::size_t position_ = 0;
};

// A decimal number exactly as "%d" writes it: optional '-', digits, no leading zeros.
template <typename T> std::optional<T> ParseDecimal(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    const std::string_view digits = text.front() == '-' ? text.substr(1) : text;
    if (digits.empty() || (digits.size() > 1 && digits.front() == '0'))
        return std::nullopt;
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool IsPrintableName(std::string_view name) {
    if (name.empty())
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ',')
            return false;
    return true;
}

} // namespace

std::optional<ParsedPackage> ParsePackage(std::string_view bytes, std::string* why) {
    auto fail = [&](std::string reason) -> std::optional<ParsedPackage> {
        if (why)
            *why = std::move(reason);
        return std::nullopt;
    };
    Reader in(bytes);
    const auto countLine = in.Line();
    if (!countLine || !countLine->starts_with(kCountPrefix))
        return fail("no count line");
    const auto count = ParseDecimal<int32_t>(countLine->substr(kCountPrefix.size()));
    if (!count || *count < 0)
        return fail("bad file count");
    if (std::size_t(*count) > in.remaining() / kSmallestRecord)
        return fail("file count larger than the package can hold");

    ParsedPackage package;
    package.files.reserve(std::size_t(*count));
    for (int32_t i = 1; i <= *count; ++i) {
        const std::string at = "file " + std::to_string(i) + ": ";
        const auto separator = in.Line();
        if (!separator || *separator != std::string(kSeparatorDashes, '-'))
            return fail(at + "no separator line");
        const auto head = in.Line();
        const std::string prefix = "File #" + std::to_string(i) + ": ";
        if (!head || !head->starts_with(prefix))
            return fail(at + "no file header line");
        std::string_view fields = head->substr(prefix.size());
        // name,K,tab,length: the name has no comma, so the last three commas end it.
        const auto third = fields.rfind(',');
        const auto second = third == 0 || third == std::string_view::npos
                                ? std::string_view::npos
                                : fields.rfind(',', third - 1);
        const auto first = second == 0 || second == std::string_view::npos
                               ? std::string_view::npos
                               : fields.rfind(',', second - 1);
        if (first == std::string_view::npos)
            return fail(at + "header line without four fields");
        StoredFile file;
        file.name = std::string(fields.substr(0, first));
        const std::string_view kind = fields.substr(first + 1, second - first - 1);
        const auto tab = ParseDecimal<int32_t>(fields.substr(second + 1, third - second - 1));
        const auto length = ParseDecimal<int64_t>(fields.substr(third + 1));
        if (!IsPrintableName(file.name))
            return fail(at + "bad file name");
        if (kind.size() != 1 || (kind[0] != 'A' && kind[0] != 'B' && kind[0] != 'F'))
            return fail(at + "bad content kind");
        if (!tab)
            return fail(at + "bad tab width");
        if (!length || *length < 0)
            return fail(at + "bad length");
        file.kind = kind[0];
        file.tabWidth = *tab;
        file.offset = int64_t(in.position());
        file.length = *length;
        if (!in.Skip(std::size_t(*length)))
            return fail(at + "content shorter than its length");
        if (!in.Expect(kEndLine))
            return fail(at + "no EOF line after the content");
        package.files.push_back(std::move(file));
    }
    if (in.remaining() != 0)
        return fail("bytes after the last file");
    return package;
}

} // namespace tallyport::server
