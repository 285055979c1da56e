#include "web/Base64.h"

#include <openssl/evp.h>

namespace tallyport::server::staff {

std::string EncodeBase64(std::string_view bytes) {
    std::string text;
    // EVP_EncodeBlock takes an int length: encode in pieces of a multiple of 3 bytes.
    constexpr std::size_t kPiece = 3 * (1 << 20);
    text.reserve((bytes.size() + 2) / 3 * 4 + 1);
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), kPiece);
        const std::size_t at = text.size();
        text.resize(at + (take + 2) / 3 * 4 + 1);
        const int written =
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data() + at),
                            reinterpret_cast<const unsigned char*>(bytes.data()), int(take));
        text.resize(at + std::size_t(written));
        bytes.remove_prefix(take);
    }
    return text;
}

} // namespace tallyport::server::staff
