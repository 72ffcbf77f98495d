#include "temporary_file.h"

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

} // namespace vantaro
