#include "student/MarkedPackage.h"

#include "common/UtcText.h"

#include <charconv>
#include <ctime>

namespace tallyport::server {
namespace {

// Exactly n decimal integers separated by commas, as "%d" writes them.
bool IsIntegerList(std::string_view text, int n) {
    for (int i = 0; i < n; ++i) {
        const auto comma = i + 1 < n ? text.find(',') : text.size();
        if (comma == std::string_view::npos)
            return false;
        const std::string_view number = text.substr(0, comma);
        int64_t value = 0;
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
            value < INT32_MIN || value > INT32_MAX)
            return false;
        text.remove_prefix(comma == text.size() ? comma : comma + 1);
    }
    return text.empty();
}

// A comment text with every line break as CR BEL; none if it holds bytes a line cannot carry.
std::optional<std::string> CommentText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0' || c == '\n')
            return std::nullopt;
        if (c == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\a')
                return std::nullopt;
            out += "\r\a";
            ++i;
        } else if (c == '\a') {
            out += "\r\a";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string RecordField(std::string_view text) {
    std::string field;
    for (const char c : text) {
        if (c == ',')
            field += ';';
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            field += ' ';
        else
            field += c;
    }
    return field.empty() ? "-" : field;
}

std::string BuildMarkedPackage(const LatestSubmission& submission, std::string_view studentName) {
    const auto& info = submission.info;
    std::string out;
    std::size_t size = 256 + submission.package.size();
    for (const auto& markup : submission.markup)
        size += markup.size();
    out.reserve(size);

    out += "Submission: " + std::to_string(info.serial) + ',' + std::to_string(info.student) + ',' +
           std::to_string(info.entry) + ',' + UtcText(info.time) + ',' + RecordField(studentName) +
           "\r\n";
    if (submission.mark)
        out += "Marking: " + std::to_string(submission.mark->mark) + ',' +
               RecordField(submission.mark->markerId) + ',' + RecordField(submission.mark->detail) +
               "\r\n";
    else
        out += "Marking: " + std::to_string(kNotMarked) + ",-,-\r\n";

    out += "Number of Files: " + std::to_string(submission.files.size()) + "\r\n";
    const std::string_view package = submission.package;
    for (std::size_t i = 0; i < submission.files.size(); ++i) {
        const auto& file = submission.files[i];
        out.append(80, '-');
        out += "\r\nFile #" + std::to_string(i + 1) + ": " + file.name + ',' + file.kind + ',' +
               std::to_string(file.tabWidth) + ',' + std::to_string(file.length) + "\r\n";
        // Offsets come from parsing this very package; clamp anyway so that a damaged row can
        // never read outside it.
        const std::size_t offset = std::min<std::size_t>(std::size_t(file.offset), package.size());
        out += package.substr(offset, std::size_t(file.length));
        if (submission.mark && i < submission.markup.size())
            out += submission.markup[i];
        out += "EOF\r\n";
    }
    return out;
}

std::optional<std::string> NormaliseMarkup(std::string_view text, std::string* why) {
    std::string out;
    bool inStroke = false;
    int lineNumber = 0;
    auto fail = [&](std::string_view reason) -> std::optional<std::string> {
        if (why)
            *why = "line " + std::to_string(lineNumber) + ": " + std::string(reason);
        return std::nullopt;
    };
    while (!text.empty()) {
        ++lineNumber;
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (inStroke) {
            if (line == "EOL") {
                out += "EOL\r\n";
                inStroke = false;
            } else if (line.starts_with("P,") && IsIntegerList(line.substr(2), 2)) {
                out += std::string(line) + "\r\n";
            } else {
                return fail("a stroke holds only P,dx,dy lines and ends with EOL");
            }
        } else if (line.starts_with("L,")) {
            if (!IsIntegerList(line.substr(2), 4))
                return fail("a stroke head is L,x,y,width,height");
            out += std::string(line) + "\r\n";
            inStroke = true;
        } else if (line.starts_with("C,")) {
            // Four integers, then the text after the fifth comma (it may hold commas itself).
            std::string_view rest = line.substr(2);
            std::size_t cut = 0;
            for (int i = 0; i < 4 && cut != std::string_view::npos; ++i)
                cut = rest.find(',', i == 0 ? 0 : cut + 1);
            if (cut == std::string_view::npos || !IsIntegerList(rest.substr(0, cut), 4))
                return fail("a comment is C,x,y,width,height,text");
            const auto comment = CommentText(rest.substr(cut + 1));
            if (!comment)
                return fail("a comment's line breaks must be CR BEL");
            out += "C," + std::string(rest.substr(0, cut + 1)) + *comment + "\r\n";
        } else {
            return fail("not a comment (C,...) or a stroke (L,...)");
        }
    }
    if (inStroke)
        return fail("the last stroke has no EOL line");
    return out;
}

} // namespace tallyport::server
