// The one container in which every request is built and every reply is read: 4-byte big-endian
// integers, NUL-terminated strings and raw byte runs, with no tags or counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tallyport {

class NetMessage {
public:
    static constexpr int32_t kRequestCapacity = 1024;
    static constexpr int32_t kGrowthGranule = 1024;

    // For building: allocates `capacity` bytes, length 0.
    explicit NetMessage(int32_t capacity = kRequestCapacity);
    // From a reply: takes the bytes (a vector is adopted without copying); length = capacity =
    // their size, cursor at the start.
    static NetMessage fromReply(std::vector<std::byte> bytes);
    static NetMessage fromReply(std::span<const std::byte> bytes);

    // A moved-from message is empty (length and capacity 0), never a length without bytes.
    NetMessage(NetMessage&& other) noexcept;
    NetMessage& operator=(NetMessage&& other) noexcept;
    NetMessage(const NetMessage&) = delete;
    NetMessage& operator=(const NetMessage&) = delete;

    void Reset();
    void AppendInt(int32_t value);
    void AppendString(std::string_view text); // text is cut at its first NUL, then terminated
    void AppendBytes(std::span<const std::byte> bytes);
    void AppendBytes(const void* data, std::size_t count);

    // Reads never go past `length`: a read that would returns 0 / "" / an empty view, leaves the
    // cursor at the end and marks the message malformed.
    int32_t ReadInt();
    std::string_view ReadString(); // in place; the view excludes the terminating zero byte
    std::span<const std::byte> ReadBytes(int32_t count);

    // Copy of bytes 0 .. length-1.
    std::vector<std::byte> CopyOut() const;

    std::span<const std::byte> bytes() const { return {buffer_.data(), std::size_t(length_)}; }
    int32_t length() const { return length_; }
    int32_t capacity() const { return capacity_; }
    int32_t cursor() const { return cursor_; }
    int32_t remaining() const { return length_ - cursor_; }
    // True once a read ran past the end (the reply did not hold the fields asked for).
    bool malformed() const { return malformed_; }

private:
    std::byte* Reserve(std::size_t n); // grows length by n, returns where the n bytes go
    template <typename Read>
    auto ReadWith(Read read);

    std::vector<std::byte> buffer_; // capacity_ bytes
    int32_t length_ = 0;
    int32_t capacity_ = 0;
    int32_t cursor_ = 0;
    bool malformed_ = false;
};

} // namespace tallyport
