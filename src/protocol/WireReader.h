// Reads the fields of a message in place, front to back: 4-byte big-endian integers,
// NUL-terminated strings and raw byte runs. NetMessage reads its own bytes with it; the server
// reads a request's body with it where it lies, so a 1 MiB upload is not copied to be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tallyport {

class WireReader {
public:
    explicit WireReader(std::span<const std::byte> bytes) : bytes_(bytes) {}

    // Reads never go past the end: a read that would returns 0 / "" / an empty view, leaves the
    // cursor at the end and marks the bytes malformed.
    int32_t ReadInt();
    std::string_view ReadString(); // in place; the view excludes the terminating zero byte
    std::span<const std::byte> ReadBytes(int32_t count);

    std::size_t cursor() const { return cursor_; }
    std::size_t remaining() const { return bytes_.size() - cursor_; }
    // True once a read ran past the end (the bytes did not hold the fields asked for).
    bool malformed() const { return malformed_; }

private:
    void RanOut() {
        malformed_ = true;
        cursor_ = bytes_.size();
    }

    std::span<const std::byte> bytes_;
    std::size_t cursor_ = 0;
    bool malformed_ = false;
};

} // namespace tallyport
