// A fresh self-signed certificate and its key as PEM files, for serving TLS in a test.
#pragma once

#include <filesystem>
#include <string>

namespace tallyport::test {

struct CertificateFiles {
    std::filesystem::path certificate;
    std::filesystem::path key;
};

// Writes cert.pem and key.pem (an EC P-256 key, valid for a day, with `host` as its common
// name) into `folder`. Throws std::runtime_error if OpenSSL cannot make them.
CertificateFiles WriteSelfSignedCertificate(const std::filesystem::path& folder,
                                            const std::string& host);

} // namespace tallyport::test
