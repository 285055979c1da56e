#include "common/CsvReader.h"

#include "protocol/Utf8.h"

namespace tallyport::server {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The length of the line end at `at`: 1 for LF, 2 for CR LF, 0 for anything else.
std::size_t LineEndAt(std::string_view text, std::size_t at) {
    if (at < text.size() && text[at] == '\n')
        return 1;
    if (at + 1 < text.size() && text[at] == '\r' && text[at + 1] == '\n')
        return 2;
    return 0;
}

// The line of the first byte that is not UTF-8; none when all of it is.
std::optional<std::size_t> FirstBadUtf8Line(std::string_view text) {
    std::size_t line = 1;
    for (std::size_t at = 0; at < text.size();) {
        const auto character = DecodeUtf8(text.substr(at));
        if (!character)
            return line;
        line += character->codePoint == '\n';
        at += character->length;
    }
    return std::nullopt;
}

class Reader {
public:
    Reader(std::string_view text, CsvError& error) : text_(text), error_(error) {}

    std::optional<std::vector<CsvRecord>> Records() {
        std::vector<CsvRecord> records;
        while (at_ < text_.size()) {
            if (const std::size_t end = LineEndAt(text_, at_)) { // an empty line
                at_ += end;
                ++line_;
                continue;
            }
            CsvRecord record{line_, {}};
            for (;;) {
                auto field = Field();
                if (!field)
                    return std::nullopt;
                record.fields.push_back(std::move(*field));
                if (at_ >= text_.size() || text_[at_] != ',')
                    break;
                ++at_;
            }
            if (const std::size_t end = LineEndAt(text_, at_)) { // else the text has ended
                at_ += end;
                ++line_;
            }
            records.push_back(std::move(record));
        }
        return records;
    }

private:
    std::optional<std::string> Fail(std::size_t line, std::string message) {
        error_ = {line, std::move(message)};
        return std::nullopt;
    }

    // One field, leaving at_ on the comma or line end after it (or at the end).
    std::optional<std::string> Field() {
        std::string field;
        if (at_ < text_.size() && text_[at_] == '"') {
            const std::size_t opened = line_;
            ++at_;
            for (;;) {
                if (at_ >= text_.size())
                    return Fail(opened, "a quoted field is never closed");
                const char c = text_[at_++];
                if (c == '"') {
                    if (at_ < text_.size() && text_[at_] == '"') {
                        field += '"';
                        ++at_;
                        continue;
                    }
                    break;
                }
                line_ += c == '\n';
                field += c;
            }
            if (at_ < text_.size() && text_[at_] != ',' && !LineEndAt(text_, at_))
                return Fail(line_,
                            "only a comma or the end of the line may follow a closing quote");
            return field;
        }
        while (at_ < text_.size() && text_[at_] != ',' && !LineEndAt(text_, at_)) {
            if (text_[at_] == '"')
                return Fail(line_, "a quote inside a field that does not start with one (put the "
                                   "field in quotes and double the quote)");
            if (text_[at_] == '\r')
                return Fail(line_, "a carriage return that does not end the line");
            field += text_[at_++];
        }
        return field;
    }

    std::string_view text_;
    CsvError& error_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
};

} // namespace

std::optional<std::vector<CsvRecord>> ReadCsv(std::string_view text, CsvError& error) {
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    if (const auto line = FirstBadUtf8Line(text)) {
        error = {*line, "bytes that are not UTF-8 (save the file as UTF-8)"};
        return std::nullopt;
    }
    return Reader(text, error).Records();
}

} // namespace tallyport::server
