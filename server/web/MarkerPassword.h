// Marker passwords: yescrypt hashes through libxcrypt, never the DES hash the student protocol
// has to use.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::server::staff {

// A yescrypt hash of `password` with a fresh random salt; none when libcrypt cannot make one.
std::optional<std::string> HashMarkerPassword(std::string_view password);

// Characters (not bytes: UTF-8 counts each character once) a new marker password needs.
inline constexpr std::size_t kMinimumMarkerPasswordLength = 12;

// Why `password` may not be set as a marker's password; empty when it may. Checked wherever a
// person sets one (`marker passwd`); the hash itself is made for any password.
std::string MarkerPasswordProblem(std::string_view password);

// Whether `password` matches `hash`. An empty hash (no password set) and any hash that is not
// yescrypt match nothing.
bool MarkerPasswordMatches(std::string_view password, const std::string& hash);

// Spends the time of one check, for a login whose id has no usable hash, so that the answer
// takes as long as for a real marker.
void SpendOneCheck(std::string_view password);

} // namespace tallyport::server::staff
