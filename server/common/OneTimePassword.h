// Passwords the server makes up for a student who has lost theirs: read out or written down
// once, typed into the client, then changed with Update Info.
#pragma once

#include "store/Store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::server {

// Lower-case letters and digits that cannot be taken for one another (no i, l, o, 0 or 1), so
// that the client's password rules pass and a handwritten copy reads back.
inline constexpr std::string_view kOneTimeAlphabet = "abcdefghjkmnpqrstuvwxyz23456789";

// The password hash keeps only the first eight characters, so eight is as strong as it gets.
inline constexpr std::size_t kOneTimeLength = 8;

// kOneTimeLength characters of kOneTimeAlphabet from the system's secure random source; empty
// when that fails.
std::string NewOneTimePassword();

// Gives a registered student a new one-time password: stores its hash as the client would send
// it (HashPassword) and returns it, audited when there is an actor. None when the student is not
// registered or it failed.
std::optional<std::string> ResetStudentPassword(Store& store, int32_t course, int32_t student,
                                                Actor actor = std::nullopt);

} // namespace tallyport::server
