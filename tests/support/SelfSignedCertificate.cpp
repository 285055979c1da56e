#include "support/SelfSignedCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tallyport::test {
namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("cannot make a test certificate: ") + what);
}

} // namespace

CertificateFiles WriteSelfSignedCertificate(const std::filesystem::path& folder,
                                            const std::string& host) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Check(key != nullptr, "key");
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    Check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(host.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    Check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signature");

    CertificateFiles files{folder / "cert.pem", folder / "key.pem"};
    std::unique_ptr<FILE, FileCloser> certFile(std::fopen(files.certificate.c_str(), "w"));
    std::unique_ptr<FILE, FileCloser> keyFile(std::fopen(files.key.c_str(), "w"));
    Check(certFile && keyFile, "files");
    Check(PEM_write_X509(certFile.get(), cert.get()) == 1, "writing the certificate");
    Check(PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ==
              1,
          "writing the key");
    return files;
}

} // namespace tallyport::test
