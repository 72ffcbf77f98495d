#pragma once
// One blocking HTTPS GET of a URL into a file, over a connection kept between calls.

#include <cstdint>
#include <string>

namespace vantaro {

// The largest body accepted; a tile is far smaller, so more means a broken or hostile server.
inline constexpr std::int64_t kMaxDownloadBytes = 32 * 1024 * 1024;

// Fetches url into the file at path; the number of bytes stored, 0 on failure, in which case no
// file is made and an existing one is left as it was.
std::int64_t DownloadToFile(const std::string& url, const std::string& path);
// Releases the connection kept between downloads.
void CloseDownloads();

// Trusts the CA certificates in this PEM file besides the system's instead of the build's extra
// authority (a sample build's), for tests only; "" restores the build's own.
void SetExtraTrustedCaFileForTesting(const std::string& pemFile);

} // namespace vantaro
