// The framing both ends of a connection share. All integers on the connection are 4 bytes,
// big-endian, two's complement.
//
//   client to server: magic 69 44 6D 03, address length, address text (no terminator), seed,
//                     body length L, L body bytes scrambled with a keystream from the seed
//   server to client: status; for status 0 only: reply length R, R reply bytes scrambled with a
//                     fresh keystream from the same seed
//
// The client streams the body in chunks (Transaction.cpp) and uses only EncodeInt, DecodeInt and
// EncodeRequestHeader from here. A server reads the same fields in the same order: DecodeInt for
// each integer, checking the magic with IsProtocolMagic and the address length against
// kMaxAddressLength before reading the text, and answers with EncodeReply.
#pragma once

#include "protocol/StatusCode.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tallyport::wire {

inline constexpr std::size_t kIntSize = 4;
inline constexpr int32_t kProtocolMagic = 0x69446D03;
// Dotted-decimal IPv4 text is at most 15 bytes; a peer announcing more than this is not a client.
inline constexpr int32_t kMaxAddressLength = 64;

std::array<std::byte, kIntSize> EncodeInt(int32_t value);
int32_t DecodeInt(std::span<const std::byte, kIntSize> bytes);

inline bool IsProtocolMagic(int32_t value) {
    return value == kProtocolMagic;
}
inline bool IsValidAddressLength(int32_t length) {
    return length >= 0 && length <= kMaxAddressLength;
}

// Everything the client sends ahead of the scrambled body: magic, address length, address text,
// seed, body length.
std::vector<std::byte> EncodeRequestHeader(std::string_view address, int32_t seed,
                                           int32_t bodyLength);

// The whole client-to-server stream of one request (header and scrambled body), for servers'
// tests and load drivers. The body is copied, so this is for small requests.
std::vector<std::byte> EncodeRequest(std::string_view address, int32_t seed,
                                     std::span<const std::byte> body);

// The whole server-to-client stream: the status and, for status 0, the reply length and the reply
// scrambled with a fresh keystream from `seed`. For any other status the body is not sent.
std::vector<std::byte> EncodeReply(StatusCode status, std::span<const std::byte> body,
                                   int32_t seed);

} // namespace tallyport::wire
