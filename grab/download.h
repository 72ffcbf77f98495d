#pragma once
// One blocking HTTPS GET of a URL into a file.

#include <cstdint>
#include <string>

namespace vantaro {

// Fetches url into the file at path; the number of bytes stored, 0 on failure, in which case no
// file is made and an existing one is left as it was.
std::int64_t DownloadToFile(const std::string& url, const std::string& path);
// Releases the connection kept between downloads.
void CloseDownloads();

} // namespace vantaro
