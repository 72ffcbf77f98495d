#pragma once
// New files are written under a temporary name and renamed over their target only when complete,
// so a failed download or save never touches an existing file.

#include <cstddef>
#include <string>

namespace vantaro {

// Creates a new, empty file beside target (so the final rename stays within one file system) and
// returns its descriptor, or -1; temporaryPath receives its name.
int CreateTemporaryBeside(const std::string& target, std::string& temporaryPath);
// Writes all the bytes, going on after short writes and interruptions; false when a write fails.
bool WriteAll(int fd, const void* data, std::size_t size);

} // namespace vantaro
