#include "protocol/WireReader.h"

#include <cstring>

namespace tallyport {

int32_t WireReader::ReadInt() {
    if (remaining() < 4) {
        RanOut();
        return 0;
    }
    const std::byte* at = bytes_.data() + cursor_;
    cursor_ += 4;
    return int32_t((uint32_t(at[0]) << 24) | (uint32_t(at[1]) << 16) | (uint32_t(at[2]) << 8) |
                   uint32_t(at[3]));
}

std::string_view WireReader::ReadString() {
    const char* start = reinterpret_cast<const char*>(bytes_.data()) + cursor_;
    const void* zero = remaining() > 0 ? std::memchr(start, 0, remaining()) : nullptr;
    if (zero == nullptr) { // no terminator before the end: the string is not complete
        RanOut();
        return {};
    }
    const auto size = std::size_t(static_cast<const char*>(zero) - start);
    cursor_ += size + 1;
    return {start, size};
}

std::span<const std::byte> WireReader::ReadBytes(int32_t count) {
    if (count < 0 || std::size_t(count) > remaining()) {
        RanOut();
        return {};
    }
    const auto view = bytes_.subspan(cursor_, std::size_t(count));
    cursor_ += std::size_t(count);
    return view;
}

} // namespace tallyport
