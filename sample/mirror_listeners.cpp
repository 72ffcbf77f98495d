#include "mirror_listeners.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantaro::sample {

namespace {
int Listen(int mirror, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = htons(std::uint16_t(port));
    where.sin_addr.s_addr = htonl(0x7F000000u | unsigned(mirror));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int LocalPort(int fd) {
    sockaddr_in where {};
    socklen_t length = sizeof where;
    getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
    return ntohs(where.sin_port);
}
} // namespace

int OpenMirrorListeners(int port, int (&listeners)[3]) {
    // A free port on .1 may be taken on .2 or .3: then another is tried. A given port is taken or failed.
    for (int attempt = 0; attempt < (port ? 1 : 20); ++attempt) {
        listeners[0] = Listen(1, port);
        if (listeners[0] < 0)
            return 0;
        const int shared = LocalPort(listeners[0]);
        listeners[1] = Listen(2, shared);
        listeners[2] = Listen(3, shared);
        if (listeners[1] >= 0 && listeners[2] >= 0)
            return shared;
        CloseMirrorListeners(listeners);
    }
    return 0;
}

void CloseMirrorListeners(int (&listeners)[3]) {
    for (int& fd : listeners) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace vantaro::sample
