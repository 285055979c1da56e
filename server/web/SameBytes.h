// Comparison of secrets (password hashes, tokens) in a time that does not depend on where they
// differ, so a caller cannot learn a secret byte by byte from response times.
#pragma once

#include <cstddef>
#include <string_view>

namespace tallyport::server::staff {

inline bool SameBytes(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace tallyport::server::staff
