// Any bytes as a CSV file: refused with a reason and a line that exists, or records whose lines
// increase and which, written back with every field quoted, read back the same. As a class list,
// taken with distinct positive numbers or refused with a reason.
#include "common/CsvReader.h"
#include "course/ClassListCsv.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

using namespace tallyport::server;

namespace {

std::string Quoted(const std::vector<CsvRecord>& records) {
    std::string text;
    for (const auto& record : records) {
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            text += i ? ",\"" : "\"";
            for (const char c : record.fields[i])
                text += c == '"' ? std::string("\"\"") : std::string(1, c);
            text += '"';
        }
        text += "\r\n";
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t lines = std::size_t(std::count(text.begin(), text.end(), '\n')) + 1;
    CsvError error;
    const auto records = ReadCsv(text, error);
    if (!records) {
        if (error.message.empty() || error.line < 1 || error.line > lines)
            std::abort();
    } else {
        std::size_t last = 0;
        for (const auto& record : *records) {
            if (record.line <= last || record.line > lines || record.fields.empty())
                std::abort();
            last = record.line;
        }
        CsvError again;
        const auto reread = ReadCsv(Quoted(*records), again);
        if (!reread || reread->size() != records->size())
            std::abort();
        for (std::size_t i = 0; i < records->size(); ++i)
            if ((*reread)[i].fields != (*records)[i].fields)
                std::abort();
    }
    std::string why;
    const auto students = ParseClassList(text, why);
    if (!students) {
        if (why.empty())
            std::abort();
        return 0;
    }
    std::set<int32_t> numbers;
    for (const auto& student : *students)
        if (student.number <= 0 || !numbers.insert(student.number).second)
            std::abort();
    return 0;
}
