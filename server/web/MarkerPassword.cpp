#include "web/MarkerPassword.h"

#include "web/SameBytes.h"

#include <crypt.h>

#include <cstring>
#include <memory>

namespace tallyport::server::staff {
namespace {

constexpr std::string_view kYescryptPrefix = "$y$";

// A setting made once, for SpendOneCheck.
const std::string& DummyHash() {
    static const std::string hash = HashMarkerPassword("no marker has this password").value_or("");
    return hash;
}

std::optional<std::string> Crypt(std::string_view password, const char* setting) {
    // crypt_r needs a NUL-terminated password; one with a NUL inside would be cut short.
    if (password.find('\0') != std::string_view::npos)
        return std::nullopt;
    auto data = std::make_unique<crypt_data>();
    const std::string text(password);
    const char* result = crypt_r(text.c_str(), setting, data.get());
    // libxcrypt marks a failure with a string starting with '*'.
    if (result == nullptr || result[0] == '*')
        return std::nullopt;
    return std::string(result);
}

} // namespace

std::optional<std::string> HashMarkerPassword(std::string_view password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // Cost 0 is libxcrypt's default for yescrypt; the salt comes from the system's random source.
    if (crypt_gensalt_rn(kYescryptPrefix.data(), 0, nullptr, 0, setting, sizeof setting) == nullptr)
        return std::nullopt;
    return Crypt(password, setting);
}

std::string MarkerPasswordProblem(std::string_view password) {
    std::size_t characters = 0;
    for (const char c : password)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80; // not a continuation byte
    if (characters < kMinimumMarkerPasswordLength)
        return "a marker's password needs at least " +
               std::to_string(kMinimumMarkerPasswordLength) + " characters, this one has " +
               std::to_string(characters);
    return {};
}

bool MarkerPasswordMatches(std::string_view password, const std::string& hash) {
    if (!hash.starts_with(kYescryptPrefix))
        return false;
    const auto computed = Crypt(password, hash.c_str());
    return computed && SameBytes(*computed, hash);
}

void SpendOneCheck(std::string_view password) {
    (void)MarkerPasswordMatches(password, DummyHash());
}

} // namespace tallyport::server::staff
