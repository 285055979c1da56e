// JSON written straight into a string, byte for byte as nlohmann::json's compact dump writes the
// same values (keys are the caller's to order): for replies built at a rate where a value tree
// per item costs more than the work it describes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tallyport::server::staff {

// `utf8` (valid UTF-8) as a quoted JSON string: '"' and '\\' escaped, the control characters
// below U+0020 as \b \f \n \r \t or \u00xx, everything else as it is.
void AppendJsonString(std::string& out, std::string_view utf8);

void AppendJsonInteger(std::string& out, int64_t value);

} // namespace tallyport::server::staff
