#include "common/OneTimePassword.h"

#include "protocol/PasswordHash.h"
#include "store/Store.h"

#include <openssl/rand.h>

#include <array>

namespace tallyport::server {

std::string NewOneTimePassword() {
    // Bytes at or above the largest multiple of the alphabet's size are drawn again, so that
    // every character is equally likely.
    constexpr unsigned kUsable = 256 / kOneTimeAlphabet.size() * kOneTimeAlphabet.size();
    std::string password;
    while (password.size() < kOneTimeLength) {
        std::array<unsigned char, 16> bytes{};
        if (RAND_bytes(bytes.data(), int(bytes.size())) != 1)
            return {};
        for (const unsigned char byte : bytes)
            if (byte < kUsable && password.size() < kOneTimeLength)
                password += kOneTimeAlphabet[byte % kOneTimeAlphabet.size()];
    }
    return password;
}

std::optional<std::string> ResetStudentPassword(Store& store, int32_t course, int32_t student,
                                                Actor actor) {
    std::string password = NewOneTimePassword();
    if (password.empty() ||
        !store.SetStudentPasswordHash(course, student, HashPassword(password), actor))
        return std::nullopt;
    return password;
}

} // namespace tallyport::server
