#include "protocol/PasswordHash.h"

#include <crypt.h>

#include <memory>
#include <stdexcept>

namespace tallyport {

std::string HashPassword(std::string_view password) {
    return TraditionalCrypt(password, kPasswordSalt);
}

std::string TraditionalCrypt(std::string_view password, const char (&salt)[3]) {
    const std::string key(password.substr(0, password.find('\0')));
    auto data = std::make_unique<crypt_data>(); // large; kept off the stack
    data->initialized = 0;
    const char* hashed = crypt_r(key.c_str(), salt, data.get());
    // With a valid two-character salt the traditional scheme cannot fail; a library without it
    // would be a broken installation, not a user error.
    if (hashed == nullptr || hashed[0] == '*')
        throw std::runtime_error("crypt(3) does not support the traditional DES scheme");
    return hashed;
}

} // namespace tallyport
