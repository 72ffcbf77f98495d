#pragma once
// A throw-away certificate authority and a server certificate it signs, made at test time.

#include <string>
#include <vector>

namespace vantaro::test {

// The PEM files of one test authority; all empty when they could not be made.
struct TestCertificateFiles {
    std::string caFile; // the authority's certificate, to be trusted by the client
    std::string certificateFile; // the server's certificate
    std::string keyFile; // the server's private key
};

// Makes a fresh authority and a server certificate for these IP addresses, written into folder
// as <name>_ca.pem, <name>_cert.pem and <name>_key.pem.
TestCertificateFiles MakeTestCertificates(
    const std::string& folder, const std::string& name, const std::vector<std::string>& ipAddresses);

} // namespace vantaro::test
