#include "download.h"

namespace vantaro {

std::int64_t DownloadToFile(const std::string&, const std::string&) { return 0; }

void CloseDownloads() { }

} // namespace vantaro
