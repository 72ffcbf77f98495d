#include "temporary_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vantaro {

namespace {
unsigned temporaryCounter = 0;
} // namespace

int CreateTemporaryBeside(const std::string& target, std::string& temporaryPath) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporaryPath = target + ".part" + std::to_string(::getpid()) + "-" + std::to_string(++temporaryCounter);
        const int fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        // Linux writes at most about 2 GiB at once.
        const ssize_t written = ::write(fd, bytes, std::min<std::size_t>(size, std::size_t(1) << 30));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= std::size_t(written);
    }
    return true;
}

} // namespace vantaro
