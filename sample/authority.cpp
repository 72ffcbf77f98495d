#include "authority.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantaro::sample {

namespace {
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kValidSeconds = 10L * 365 * 24 * 3600;
constexpr long kRenewSeconds = 24L * 3600;
const char* const kMirrorAddresses = "IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3";

bool AddExtension(X509* issuer, X509* subject, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, subject, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(subject, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for key named commonName; self-signed when issuer is null.
Certificate Issue(EVP_PKEY* key, const char* commonName, long serial, X509* issuer, EVP_PKEY* issuerKey) {
    Certificate certificate(X509_new(), X509_free);
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), kValidSeconds);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(
        name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Vantaro sample tiles"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    bool ok = AddExtension(signer, cert, NID_subject_key_identifier, "hash");
    if (issuer) {
        ok = ok && AddExtension(signer, cert, NID_authority_key_identifier, "keyid")
            && AddExtension(signer, cert, NID_basic_constraints, "critical,CA:FALSE")
            && AddExtension(signer, cert, NID_key_usage, "critical,digitalSignature")
            && AddExtension(signer, cert, NID_ext_key_usage, "serverAuth")
            && AddExtension(signer, cert, NID_subject_alt_name, kMirrorAddresses);
    } else {
        // The authority vouches for loopback addresses only, so trusting it cannot open any real host.
        ok = ok && AddExtension(signer, cert, NID_basic_constraints, "critical,CA:TRUE,pathlen:0")
            && AddExtension(signer, cert, NID_key_usage, "critical,keyCertSign,cRLSign")
            && AddExtension(signer, cert, NID_name_constraints,
                "critical,permitted;IP:127.0.0.0/255.0.0.0,permitted;DNS:sample.invalid");
    }
    if (!ok || X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        certificate.reset();
    return certificate;
}

// Writes through a temporary file, so a reader never sees half a file.
bool WritePem(const std::string& path, X509* certificate, EVP_PKEY* key) {
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, key ? 0600 : 0644);
    FILE* file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!file) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const bool written = certificate ? PEM_write_X509(file, certificate) == 1
                                     : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    const bool closed = std::fclose(file) == 0;
    if (written && closed && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

Certificate ReadCertificate(const std::string& path) {
    Certificate certificate(nullptr, X509_free);
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        certificate.reset(PEM_read_X509(file, nullptr, nullptr, nullptr));
        std::fclose(file);
    }
    return certificate;
}

bool ValidForADay(X509* certificate) {
    std::time_t tomorrow = std::time(nullptr) + kRenewSeconds;
    return certificate && X509_cmp_time(X509_get0_notAfter(certificate), &tomorrow) > 0;
}

// The files from an earlier start: the certificate signed by the authority, matching the key, and
// not about to expire.
bool Usable(const ServiceCertificates& files) {
    Certificate authority = ReadCertificate(files.authorityFile);
    Certificate certificate = ReadCertificate(files.certificateFile);
    if (!ValidForADay(authority.get()) || !ValidForADay(certificate.get()))
        return false;
    Key key(nullptr, EVP_PKEY_free);
    if (FILE* file = std::fopen(files.keyFile.c_str(), "r")) {
        key.reset(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
        std::fclose(file);
    }
    EVP_PKEY* authorityKey = X509_get0_pubkey(authority.get());
    return key && X509_check_private_key(certificate.get(), key.get()) == 1 && authorityKey
        && X509_verify(certificate.get(), authorityKey) == 1;
}
} // namespace

ServiceCertificates EnsureServiceCertificates(const std::string& folder) {
    const ServiceCertificates files { folder + "/authority.pem", folder + "/service_cert.pem",
        folder + "/service_key.pem" };
    if (Usable(files))
        return files;

    // The authority's key signs once and is never stored: nothing else can ever be issued under it.
    Key authorityKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Key serviceKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!authorityKey || !serviceKey)
        return {};
    Certificate authority = Issue(authorityKey.get(), "Vantaro sample tile authority", 1, nullptr, nullptr);
    if (!authority)
        return {};
    Certificate service
        = Issue(serviceKey.get(), "Vantaro sample tile service", 2, authority.get(), authorityKey.get());
    if (!service)
        return {};
    if (!WritePem(files.keyFile, nullptr, serviceKey.get()) || !WritePem(files.certificateFile, service.get(), nullptr)
        || !WritePem(files.authorityFile, authority.get(), nullptr))
        return {};
    return files;
}

} // namespace vantaro::sample
