// Reads an uploaded submission package (count line; per file a separator line of 80 dashes, a
// "File #i: name,K,tab,length" line, exactly length content bytes and "EOF") to know its files.
// Strict and bounded: anything that is not exactly such a package is refused, and nothing is
// allocated from a count or length before the bytes behind it are known to be there.
#pragma once

#include "store/Store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server {

struct ParsedPackage {
    std::vector<StoredFile> files;
};

// None when the bytes are not a well-formed package; `why` (if given) then names the fault.
std::optional<ParsedPackage> ParsePackage(std::string_view bytes, std::string* why = nullptr);

} // namespace tallyport::server
