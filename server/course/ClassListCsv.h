// A course's class list read from a CSV file: a header row, then one student a row with the
// columns number, name and e-mail.
#pragma once

#include "store/Store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server {

// The students of `text` with their numbers normalised (NormaliseStudentNumber), names and
// e-mail addresses trimmed and with every run of white space or control characters made one
// blank. None when any row is bad (not a number, a number twice, not three columns), with
// "line N: why" in `error`: a file is taken whole or not at all.
std::optional<std::vector<ClassListEntry>> ParseClassList(std::string_view text,
                                                          std::string& error);

} // namespace tallyport::server
