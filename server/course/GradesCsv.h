// Grades out of the server: one CSV row per student (the class list, and whoever registered),
// per entry the latest submission's mark, whether it is released, and how late it came, then
// the total. RFC 4180 (CR LF, quoted where needed), UTF-8 with a byte-order mark so that a
// spreadsheet opens names such as "Zoë O’Brien" intact.
#pragma once

#include "store/Store.h"

#include <optional>
#include <string>

namespace tallyport::server {

// The course's grades; with `entry` (a key), that entry's columns only. None when there is no
// such course or entry.
std::optional<std::string> GradesCsv(const Store& store, int32_t course,
                                     const std::optional<std::string>& entry = std::nullopt);

// One field as RFC 4180 writes it. A text a spreadsheet would run as a formula (starting with
// '=', '+', '-', '@', tab or CR) is written with a leading apostrophe: names come from students.
std::string CsvField(std::string_view text, bool isText = true);

} // namespace tallyport::server
