// Passwords travel only as the traditional DES crypt(3) of the password with a fixed salt.
#pragma once

#include <string>
#include <string_view>

namespace tallyport {

inline constexpr char kPasswordSalt[] = "QZ";

// crypt(password, "QZ"): 13 characters, the salt followed by 11 from [./0-9A-Za-z].
// The password is cut at its first NUL byte, as crypt(3) would.
std::string HashPassword(std::string_view password);

// crypt(3) in its traditional DES form for any two-character salt (HashPassword uses "QZ").
std::string TraditionalCrypt(std::string_view password, const char (&salt)[3]);

} // namespace tallyport
