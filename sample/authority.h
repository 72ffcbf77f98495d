#pragma once
// The sample tile service's own certificate authority and the certificate it signs for the mirrors.

#include <string>

namespace vantaro::sample {

// The PEM files of the service in one folder; all empty when they could not be made.
struct ServiceCertificates {
    std::string authorityFile; // the authority's certificate, which a sample build trusts
    std::string certificateFile; // the service's certificate, for 127.0.0.1, .2 and .3
    std::string keyFile; // the service's private key
};

// The service's certificate files in folder (an existing folder): the ones there when they are
// still usable, otherwise a new authority and certificate written there.
ServiceCertificates EnsureServiceCertificates(const std::string& folder);

} // namespace vantaro::sample
