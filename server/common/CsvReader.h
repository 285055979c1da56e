// Comma-separated values as spreadsheets export them: UTF-8 with or without a byte order mark,
// records ending in CR LF or LF, fields in double quotes holding commas, line breaks and
// doubled quotes. Empty lines are skipped; the last record needs no line end.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server {

struct CsvRecord {
    std::size_t line = 0; // where the record starts, counting from 1
    std::vector<std::string> fields;
};

struct CsvError {
    std::size_t line = 0;
    std::string message;
};

// Every record of `text`, or none with the first fault and its line in `error`.
std::optional<std::vector<CsvRecord>> ReadCsv(std::string_view text, CsvError& error);

} // namespace tallyport::server
