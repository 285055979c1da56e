#include "protocol/Wire.h"

#include "protocol/Keystream.h"

#include <limits>
#include <new>

namespace tallyport::wire {
namespace {

void PutInt(std::vector<std::byte>& out, int32_t value) {
    const auto bytes = EncodeInt(value);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

int32_t CheckedLength(std::size_t size) {
    if (size > std::size_t(std::numeric_limits<int32_t>::max()))
        throw std::bad_alloc(); // more than the 32-bit length field can announce
    return int32_t(size);
}

} // namespace

std::array<std::byte, kIntSize> EncodeInt(int32_t value) {
    const auto v = uint32_t(value);
    return {std::byte(v >> 24), std::byte(v >> 16), std::byte(v >> 8), std::byte(v)};
}

int32_t DecodeInt(std::span<const std::byte, kIntSize> b) {
    return int32_t((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) |
                   uint32_t(b[3]));
}

std::vector<std::byte> EncodeRequestHeader(std::string_view address, int32_t seed,
                                           int32_t bodyLength) {
    std::vector<std::byte> out;
    out.reserve(4 * kIntSize + address.size());
    PutInt(out, kProtocolMagic);
    PutInt(out, CheckedLength(address.size()));
    for (char c : address)
        out.push_back(std::byte(c));
    PutInt(out, seed);
    PutInt(out, bodyLength);
    return out;
}

std::vector<std::byte> EncodeRequest(std::string_view address, int32_t seed,
                                     std::span<const std::byte> body) {
    std::vector<std::byte> out = EncodeRequestHeader(address, seed, CheckedLength(body.size()));
    const std::size_t bodyAt = out.size();
    out.insert(out.end(), body.begin(), body.end());
    ScrambleBytes(std::span(out).subspan(bodyAt), seed);
    return out;
}

std::vector<std::byte> EncodeReply(StatusCode status, std::span<const std::byte> body,
                                   int32_t seed) {
    std::vector<std::byte> out;
    PutInt(out, status);
    if (status != status::kSuccess)
        return out;
    PutInt(out, CheckedLength(body.size()));
    const std::size_t bodyAt = out.size();
    out.insert(out.end(), body.begin(), body.end());
    ScrambleBytes(std::span(out).subspan(bodyAt), seed);
    return out;
}

} // namespace tallyport::wire
