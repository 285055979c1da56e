// Comment and detail texts travel through the staff API as Unicode (UTF-8 in JSON) but are kept
// and sent to students as Windows-1252 bytes, the character set the student's client draws.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallyport::server::staff {

// The Windows-1252 bytes of a UTF-8 text. None when the text is not valid UTF-8 or holds a
// character Windows-1252 cannot hold; `why` then names it (for example "U+2192 (→)").
std::optional<std::string> Utf8ToWindows1252(std::string_view utf8, std::string* why = nullptr);

// The UTF-8 text of Windows-1252 bytes. The five byte values Windows-1252 leaves unassigned
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same number (and those
// characters become the bytes again), so every byte survives a round trip.
std::string Windows1252ToUtf8(std::string_view bytes);

} // namespace tallyport::server::staff
