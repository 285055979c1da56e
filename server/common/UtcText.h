// Times as the server writes them in packages and listings.
#pragma once

#include <cstdint>
#include <string>

namespace tallyport::server {

// A Unix time as "2001-02-03T04:05:06Z"; "-" when the time cannot be shown.
std::string UtcText(int64_t time);

} // namespace tallyport::server
