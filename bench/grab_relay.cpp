#include "grab_relay.h"

#include "mirror_listeners.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <deque>
#include <list>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vantaro::bench {

namespace {
using Clock = std::chrono::steady_clock;

constexpr auto kLifetime = std::chrono::minutes(10);

struct Pending {
    Clock::time_point due;
    std::string bytes;
};

// One direction of a relayed connection.
struct Direction {
    int from = -1;
    int to = -1;
    bool ended = false; // the sender closed its side
    std::deque<Pending> queue;
};

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

std::atomic<bool> stopping { false };
std::thread acceptThread;
std::list<Worker> workers;
int listeners[3] = { -1, -1, -1 };
int relayPort = 0;
int targetPort = 0;
Clock::duration delay {};

sockaddr_in Address(int mirror, int port) {
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = htons(std::uint16_t(port));
    where.sin_addr.s_addr = htonl(0x7F000000u | unsigned(mirror));
    return where;
}

void NoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Sends what is due; false when the receiving side is gone.
bool Deliver(Direction& direction, Clock::time_point now) {
    while (!direction.queue.empty() && direction.queue.front().due <= now) {
        const std::string& bytes = direction.queue.front().bytes;
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(direction.to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += std::size_t(n);
        }
        direction.queue.pop_front();
    }
    if (direction.ended && direction.queue.empty())
        ::shutdown(direction.to, SHUT_WR);
    return true;
}

void Relay(int client, int mirror) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in where = Address(mirror, targetPort);
    if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        ::close(client);
        if (server >= 0)
            ::close(server);
        return;
    }
    NoDelay(client);
    NoDelay(server);
    // The kernel completed the client's handshake with the relay at once; on a real link its first
    // bytes could leave only after the SYN-ACK came back, one round trip after connecting.
    const Clock::time_point handshakeDone = Clock::now() + 2 * delay;
    Direction directions[2] = { { client, server, false, {} }, { server, client, false, {} } };
    bool broken = false;
    while (!stopping && !broken) {
        const Clock::time_point now = Clock::now();
        pollfd wait[2];
        int count = 0;
        int timeoutMs = 50;
        for (Direction& d : directions) {
            if (!d.ended)
                wait[count++] = { d.from, POLLIN, 0 };
            if (!d.queue.empty()) {
                const auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(d.queue.front().due - now);
                timeoutMs = std::min(timeoutMs, int(std::max<long>(0, untilDue.count())));
            }
        }
        if (count == 0 && directions[0].queue.empty() && directions[1].queue.empty())
            break;
        ::poll(wait, nfds_t(count), timeoutMs);
        const Clock::time_point arrived = Clock::now();
        for (int i = 0; i < count; ++i) {
            if (!(wait[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Direction& d = wait[i].fd == client ? directions[0] : directions[1];
            char chunk[65536];
            const ssize_t n = ::recv(d.from, chunk, sizeof chunk, 0);
            const Clock::time_point sent = &d == &directions[0] ? std::max(arrived, handshakeDone) : arrived;
            if (n > 0)
                d.queue.push_back({ sent + delay, std::string(chunk, std::size_t(n)) });
            else
                d.ended = true;
        }
        for (Direction& d : directions)
            broken = broken || !Deliver(d, Clock::now());
    }
    ::close(client);
    ::close(server);
}

void AcceptLoop() {
    const Clock::time_point deadline = Clock::now() + kLifetime;
    while (!stopping && Clock::now() < deadline) {
        pollfd wait[3];
        for (int i = 0; i < 3; ++i)
            wait[i] = { listeners[i], POLLIN, 0 };
        if (::poll(wait, 3, 50) > 0) {
            for (int i = 0; i < 3; ++i) {
                const int fd
                    = (wait[i].revents & POLLIN) ? ::accept4(listeners[i], nullptr, nullptr, SOCK_CLOEXEC) : -1;
                if (fd < 0)
                    continue;
                auto done = std::make_shared<std::atomic<bool>>(false);
                workers.push_back({ std::thread([fd, i, done] {
                                       Relay(fd, i + 1);
                                       *done = true;
                                   }),
                    done });
            }
        }
        for (auto it = workers.begin(); it != workers.end();) {
            if (*it->done) {
                it->thread.join();
                it = workers.erase(it);
            } else {
                ++it;
            }
        }
    }
}
} // namespace

int StartDelayRelay(int port, int delayMs) {
    StopDelayRelay();
    targetPort = port;
    delay = std::chrono::milliseconds(delayMs);
    relayPort = sample::OpenMirrorListeners(0, listeners);
    if (relayPort == 0)
        return 0;
    stopping = false;
    acceptThread = std::thread(AcceptLoop);
    return relayPort;
}

void StopDelayRelay() {
    stopping = true;
    if (acceptThread.joinable())
        acceptThread.join();
    for (Worker& worker : workers)
        worker.thread.join();
    workers.clear();
    sample::CloseMirrorListeners(listeners);
}

} // namespace vantaro::bench
