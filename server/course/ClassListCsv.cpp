#include "course/ClassListCsv.h"

#include "common/CsvReader.h"

#include <charconv>
#include <map>

namespace tallyport::server {
namespace {

constexpr std::size_t kColumns = 3; // number, name, e-mail

bool IsBlankOrControl(char c) {
    return c == ' ' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F;
}

// Trimmed, with every run of blanks, line breaks and control characters made one blank.
std::string Tidy(std::string_view text) {
    std::string tidy;
    bool gap = false;
    for (const char c : text) {
        if (IsBlankOrControl(c)) {
            gap = !tidy.empty();
            continue;
        }
        if (gap)
            tidy += ' ';
        gap = false;
        tidy += c;
    }
    return tidy;
}

// A positive decimal student number with nothing else but blanks around it.
std::optional<int32_t> StudentNumber(std::string_view text) {
    const std::string tidy = Tidy(text);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(tidy.data(), tidy.data() + tidy.size(), value);
    if (tidy.empty() || error != std::errc() || end != tidy.data() + tidy.size() || value <= 0)
        return std::nullopt;
    return value;
}

std::string At(std::size_t line, const std::string& why) {
    return "line " + std::to_string(line) + ": " + why;
}

} // namespace

std::optional<std::vector<ClassListEntry>> ParseClassList(std::string_view text,
                                                          std::string& error) {
    CsvError csvError;
    const auto records = ReadCsv(text, csvError);
    if (!records) {
        error = At(csvError.line, csvError.message);
        return std::nullopt;
    }
    if (records->empty()) {
        error = "the file is empty (it needs a header row, then one student a row)";
        return std::nullopt;
    }
    const CsvRecord& header = records->front();
    if (header.fields.size() != kColumns || StudentNumber(header.fields[0])) {
        error = At(header.line, "the first row must be the header: number, name, e-mail");
        return std::nullopt;
    }
    std::vector<ClassListEntry> students;
    std::map<int32_t, std::size_t> lineOf; // normalised number -> its first line
    for (std::size_t i = 1; i < records->size(); ++i) {
        const CsvRecord& row = (*records)[i];
        if (row.fields.size() != kColumns) {
            error = At(row.line, std::to_string(row.fields.size()) +
                                     " columns where number, name and e-mail were expected");
            return std::nullopt;
        }
        const auto number = StudentNumber(row.fields[0]);
        if (!number) {
            error = At(row.line, "\"" + row.fields[0] + "\" is not a student number");
            return std::nullopt;
        }
        const int32_t normalised = NormaliseStudentNumber(*number);
        if (const auto [earlier, added] = lineOf.emplace(normalised, row.line); !added) {
            error =
                At(row.line, "student " + std::to_string(normalised) +
                                 " is listed already on line " + std::to_string(earlier->second));
            return std::nullopt;
        }
        students.push_back({normalised, Tidy(row.fields[1]), Tidy(row.fields[2])});
    }
    if (students.empty()) {
        error = "the file lists no students";
        return std::nullopt;
    }
    return students;
}

} // namespace tallyport::server
