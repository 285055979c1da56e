#include "protocol/NetMessage.h"

#include "protocol/WireReader.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace tallyport {

NetMessage::NetMessage(int32_t capacity)
    : buffer_(std::size_t(capacity > 0 ? capacity : 0)), capacity_(capacity > 0 ? capacity : 0) {}

NetMessage::NetMessage(NetMessage&& other) noexcept
    : buffer_(std::exchange(other.buffer_, {})), length_(std::exchange(other.length_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), cursor_(std::exchange(other.cursor_, 0)),
      malformed_(std::exchange(other.malformed_, false)) {}

NetMessage& NetMessage::operator=(NetMessage&& other) noexcept {
    if (this != &other) {
        buffer_ = std::exchange(other.buffer_, {});
        length_ = std::exchange(other.length_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        cursor_ = std::exchange(other.cursor_, 0);
        malformed_ = std::exchange(other.malformed_, false);
    }
    return *this;
}

NetMessage NetMessage::fromReply(std::vector<std::byte> bytes) {
    if (bytes.size() > std::size_t(std::numeric_limits<int32_t>::max()))
        throw std::bad_alloc(); // a body the 32-bit framing cannot carry never reaches here
    NetMessage message(0);
    message.length_ = message.capacity_ = int32_t(bytes.size());
    message.buffer_ = std::move(bytes);
    return message;
}

NetMessage NetMessage::fromReply(std::span<const std::byte> bytes) {
    return fromReply(std::vector<std::byte>(bytes.begin(), bytes.end()));
}

void NetMessage::Reset() {
    length_ = 0;
    cursor_ = 0;
    malformed_ = false;
}

std::byte* NetMessage::Reserve(std::size_t n) {
    const std::size_t newLength = std::size_t(length_) + n;
    // Rounded up to the granule, the new capacity must still fit the signed 32-bit fields.
    if (newLength > std::size_t(std::numeric_limits<int32_t>::max()) - kGrowthGranule)
        throw std::bad_alloc();
    if (newLength > std::size_t(capacity_)) {
        const std::size_t newCapacity =
            (newLength + kGrowthGranule - 1) / kGrowthGranule * kGrowthGranule;
        std::vector<std::byte> grown(newCapacity); // exactly the new capacity, no slack
        if (length_ > 0)
            std::memcpy(grown.data(), buffer_.data(), std::size_t(length_));
        buffer_ = std::move(grown);
        capacity_ = int32_t(newCapacity);
    }
    std::byte* at = buffer_.data() + length_;
    length_ = int32_t(newLength);
    cursor_ = length_;
    return at;
}

void NetMessage::AppendInt(int32_t value) {
    const auto v = uint32_t(value);
    std::byte* at = Reserve(4);
    at[0] = std::byte(v >> 24);
    at[1] = std::byte(v >> 16);
    at[2] = std::byte(v >> 8);
    at[3] = std::byte(v);
}

void NetMessage::AppendString(std::string_view text) {
    const auto end = text.find('\0');
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    std::byte* at = Reserve(text.size() + 1);
    if (!text.empty())
        std::memcpy(at, text.data(), text.size());
    at[text.size()] = std::byte{0};
}

void NetMessage::AppendBytes(std::span<const std::byte> bytes) {
    AppendBytes(bytes.data(), bytes.size());
}

void NetMessage::AppendBytes(const void* data, std::size_t count) {
    std::byte* at = Reserve(count);
    if (count > 0)
        std::memcpy(at, data, count);
}

// Each read goes through a reader over the bytes not yet read, then moves the cursor as far.
template <typename Read>
auto NetMessage::ReadWith(Read read) {
    WireReader reader(bytes().subspan(std::size_t(cursor_)));
    const auto value = read(reader);
    cursor_ += int32_t(reader.cursor());
    malformed_ = malformed_ || reader.malformed();
    return value;
}

int32_t NetMessage::ReadInt() {
    return ReadWith([](WireReader& reader) { return reader.ReadInt(); });
}

std::string_view NetMessage::ReadString() {
    return ReadWith([](WireReader& reader) { return reader.ReadString(); });
}

std::span<const std::byte> NetMessage::ReadBytes(int32_t count) {
    return ReadWith([count](WireReader& reader) { return reader.ReadBytes(count); });
}

std::vector<std::byte> NetMessage::CopyOut() const {
    return {buffer_.begin(), buffer_.begin() + length_};
}

} // namespace tallyport
