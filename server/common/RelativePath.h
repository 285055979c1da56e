// Names that server commands turn into files below a folder.
#pragma once

#include <string_view>

namespace tallyport::server {

// True when every "/"-separated segment of `name` is a real name: none empty, "." or "..".
bool HasOnlyPlainSegments(std::string_view name);

} // namespace tallyport::server
