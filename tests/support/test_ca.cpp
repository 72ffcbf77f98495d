#include "test_ca.h"

#include <cstdio>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace vantaro::test {

namespace {
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

bool AddExtension(X509* issuer, X509* subject, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, subject, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension)
        return false;
    const bool added = X509_add_ext(subject, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for key named commonName; self-signed when issuer is null.
Certificate Issue(EVP_PKEY* key, const std::string& commonName, long serial, X509* issuer, EVP_PKEY* issuerKey,
    const std::string& subjectAltName) {
    Certificate certificate(X509_new(), X509_free);
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7 * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(
        name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Vantaro tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509* signer = issuer ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    bool ok = AddExtension(signer, cert, NID_subject_key_identifier, "hash");
    if (issuer) {
        ok = ok && AddExtension(signer, cert, NID_authority_key_identifier, "keyid")
            && AddExtension(signer, cert, NID_basic_constraints, "critical,CA:FALSE")
            && AddExtension(signer, cert, NID_key_usage, "critical,digitalSignature")
            && AddExtension(signer, cert, NID_ext_key_usage, "serverAuth")
            && AddExtension(signer, cert, NID_subject_alt_name, subjectAltName);
    } else {
        ok = ok && AddExtension(signer, cert, NID_basic_constraints, "critical,CA:TRUE")
            && AddExtension(signer, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    if (!ok || X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        certificate.reset();
    return certificate;
}

bool WritePem(const std::string& path, X509* certificate, EVP_PKEY* key) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    const bool ok = certificate ? PEM_write_X509(file, certificate) == 1
                                : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return std::fclose(file) == 0 && ok;
}
} // namespace

TestCertificateFiles MakeTestCertificates(
    const std::string& folder, const std::string& name, const std::vector<std::string>& ipAddresses) {
    // P-256 keys take a millisecond to make, so every server start gets its own authority.
    Key caKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Key serverKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!caKey || !serverKey)
        return {};
    std::string subjectAltName;
    for (const std::string& ip : ipAddresses)
        subjectAltName += (subjectAltName.empty() ? "IP:" : ",IP:") + ip;
    Certificate ca = Issue(caKey.get(), name + " test CA", 1, nullptr, nullptr, {});
    if (!ca)
        return {};
    Certificate server = Issue(serverKey.get(), "tile server", 2, ca.get(), caKey.get(), subjectAltName);
    if (!server)
        return {};

    TestCertificateFiles files { folder + "/" + name + "_ca.pem", folder + "/" + name + "_cert.pem",
        folder + "/" + name + "_key.pem" };
    if (!WritePem(files.caFile, ca.get(), nullptr) || !WritePem(files.certificateFile, server.get(), nullptr)
        || !WritePem(files.keyFile, nullptr, serverKey.get()))
        return {};
    return files;
}

} // namespace vantaro::test
