// SHA-256 of a byte run, for the receipts students keep of what they submitted.
#pragma once

#include <string>
#include <string_view>

namespace tallyport::server {

// 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

} // namespace tallyport::server
