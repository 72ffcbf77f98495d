#include "tile_service.h"

#include "authority.h"
#include "mirror_listeners.h"
#include "scene.h"
#include "tiles.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <list>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vantaro::sample {

namespace {
using Clock = std::chrono::steady_clock;

constexpr auto kIdleLimit = std::chrono::seconds(30);
constexpr auto kStallLimit = std::chrono::seconds(60);
constexpr std::size_t kMaxRequestHead = 64 * 1024;

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

std::mutex stateMutex; // guards the answer and the count
TileAnswer currentAnswer;
int acceptedCount = 0;

std::atomic<bool> stopping { false };
std::thread acceptThread;
std::list<Worker> workers; // only the accept thread and StopTileService touch it
int listeners[3] = { -1, -1, -1 };
int serverPort = 0;
SSL_CTX* tlsContext = nullptr;
std::string authorityFile;
bool stopsByItself = false;
Clock::time_point serverDeadline;

void SetTimeout(int fd, int option, std::chrono::milliseconds limit) {
    timeval value {};
    value.tv_sec = limit.count() / 1000;
    value.tv_usec = (limit.count() % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, option, &value, sizeof value);
}

TileRequest ParseTarget(const std::string& target, int mirror) {
    TileRequest request;
    request.target = target;
    request.mirror = mirror;
    const std::size_t query = target.find('?');
    if (query == std::string::npos)
        return request;
    std::size_t at = query + 1;
    while (at <= target.size()) {
        std::size_t end = target.find('&', at);
        if (end == std::string::npos)
            end = target.size();
        const std::string pair = target.substr(at, end - at);
        const std::size_t equals = pair.find('=');
        const std::string key = pair.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : pair.substr(equals + 1);
        if (key == "panoid")
            request.panoramaId = value;
        else if (key == "x" || key == "y" || key == "zoom") {
            const int number = value.empty() ? -1 : std::atoi(value.c_str());
            (key == "x" ? request.x : key == "y" ? request.y : request.zoom) = number;
        }
        at = end + 1;
    }
    return request;
}

bool Send(SSL* ssl, std::string_view data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const int written = SSL_write(ssl, data.data() + sent, int(data.size() - sent));
        if (written <= 0)
            return false;
        sent += std::size_t(written);
    }
    return true;
}

// Waits for more of the request; false when the peer left, the server stops or it idled too long.
bool ReadMore(SSL* ssl, int fd, std::string& buffer) {
    const Clock::time_point idleUntil = Clock::now() + kIdleLimit;
    while (!stopping) {
        if (SSL_pending(ssl) == 0) {
            pollfd wait { fd, POLLIN, 0 };
            const int ready = ::poll(&wait, 1, 50);
            if (ready == 0 && Clock::now() > idleUntil)
                return false;
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
            if (ready < 0)
                return false;
        }
        char chunk[16384];
        const int got = SSL_read(ssl, chunk, sizeof chunk);
        if (got > 0) {
            buffer.append(chunk, std::size_t(got));
            return buffer.size() <= kMaxRequestHead;
        }
        const int error = SSL_get_error(ssl, got);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            return false;
    }
    return false;
}

// Holds the connection without answering until the peer gives up or the server stops.
void Stall(int fd) {
    const Clock::time_point until = Clock::now() + kStallLimit;
    while (!stopping && Clock::now() < until) {
        pollfd wait { fd, POLLIN, 0 };
        if (::poll(&wait, 1, 50) > 0) {
            char byte;
            if (::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0 || (wait.revents & (POLLHUP | POLLERR)))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

// Sends the reply as it says; false when the connection must end after it.
bool Answer(SSL* ssl, int fd, const TileReply& reply) {
    if (reply.stallBeforeAnswer) {
        Stall(fd);
        return false;
    }
    std::string head = "HTTP/1.1 " + reply.status + "\r\n" + reply.headers;
    head += reply.lengthAnnounced ? "Content-Length: " + std::to_string(reply.body.size()) + "\r\n\r\n"
                                  : "Connection: close\r\n\r\n";
    const std::size_t sent = std::min(reply.sentBodyBytes, reply.body.size());
    if (!Send(ssl, head) || !Send(ssl, std::string_view(reply.body).substr(0, sent)))
        return false;
    if (reply.stallAfterAnswer)
        Stall(fd);
    return !reply.stallAfterAnswer && !reply.closeAfterAnswer && reply.lengthAnnounced && sent == reply.body.size();
}

void ServeConnection(int fd, int mirror) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SetTimeout(fd, SO_RCVTIMEO, std::chrono::milliseconds(5000));
    SetTimeout(fd, SO_SNDTIMEO, std::chrono::milliseconds(15000));
    SSL* ssl = SSL_new(tlsContext);
    SSL_set_fd(ssl, fd);
    const bool handshaken = SSL_accept(ssl) == 1;
    bool open = handshaken;
    // Short reads from here on, so the loop sees a stop request soon.
    SetTimeout(fd, SO_RCVTIMEO, std::chrono::milliseconds(1000));
    std::string buffer;
    while (open && !stopping) {
        const std::size_t end = buffer.find("\r\n\r\n");
        if (end == std::string::npos) {
            open = ReadMore(ssl, fd, buffer);
            continue;
        }
        const std::string line = buffer.substr(0, buffer.find("\r\n"));
        buffer.erase(0, end + 4);
        const std::size_t space = line.find(' ');
        const std::string target = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
        const TileRequest request = ParseTarget(target, mirror);
        TileAnswer answer;
        {
            std::lock_guard lock(stateMutex);
            answer = currentAnswer;
        }
        open = Answer(ssl, fd, answer ? answer(request) : SampleTileReply(request));
    }
    if (handshaken)
        SSL_shutdown(ssl);
    SSL_free(ssl);
    ::close(fd);
}

void ReapFinishedWorkers() {
    for (auto it = workers.begin(); it != workers.end();) {
        if (*it->done) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

void AcceptLoop() {
    while (!stopping && !(stopsByItself && Clock::now() > serverDeadline)) {
        pollfd wait[3];
        for (int i = 0; i < 3; ++i)
            wait[i] = { listeners[i], POLLIN, 0 };
        if (::poll(wait, 3, 50) > 0) {
            for (int i = 0; i < 3; ++i) {
                if (!(wait[i].revents & POLLIN))
                    continue;
                const int fd = ::accept4(listeners[i], nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    continue;
                {
                    std::lock_guard lock(stateMutex);
                    ++acceptedCount;
                }
                auto done = std::make_shared<std::atomic<bool>>(false);
                workers.push_back({ std::thread([fd, i, done] {
                                       ServeConnection(fd, i + 1);
                                       *done = true;
                                   }),
                    done });
            }
        }
        ReapFinishedWorkers();
    }
}

} // namespace

int StartTileService(const TileServiceOptions& options) {
    StopTileService();
    // A client that hangs up mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    const ServiceCertificates certificates = EnsureServiceCertificates(options.certificateFolder);
    if (certificates.authorityFile.empty())
        return 0;
    tlsContext = SSL_CTX_new(TLS_server_method());
    const bool certified = tlsContext
        && SSL_CTX_use_certificate_chain_file(tlsContext, certificates.certificateFile.c_str()) == 1
        && SSL_CTX_use_PrivateKey_file(tlsContext, certificates.keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
    serverPort = certified ? OpenMirrorListeners(options.port, listeners) : 0;
    if (serverPort == 0) {
        StopTileService();
        return 0;
    }
    authorityFile = certificates.authorityFile;
    {
        std::lock_guard lock(stateMutex);
        acceptedCount = 0;
        currentAnswer = options.answer;
    }
    stopping = false;
    stopsByItself = options.lifetimeSeconds > 0;
    serverDeadline = Clock::now() + std::chrono::seconds(options.lifetimeSeconds);
    acceptThread = std::thread(AcceptLoop);
    return serverPort;
}

void StopTileService() {
    stopping = true;
    if (acceptThread.joinable())
        acceptThread.join();
    for (Worker& worker : workers)
        worker.thread.join();
    workers.clear();
    CloseMirrorListeners(listeners);
    if (tlsContext)
        SSL_CTX_free(tlsContext);
    tlsContext = nullptr;
}

void SetTileAnswer(TileAnswer answer) {
    std::lock_guard lock(stateMutex);
    currentAnswer = std::move(answer);
}

int AcceptedConnections() {
    std::lock_guard lock(stateMutex);
    return acceptedCount;
}

std::string ServiceAuthorityFile() {
    return authorityFile;
}

TileReply SampleTileReply(const TileRequest& request) {
    const TileGrid grid = TileGridForLevel(request.zoom);
    const bool inGrid = request.x >= 0 && request.x < grid.columns && request.y >= 0 && request.y < grid.rows;
    // The request exactly as the program words it, so a change on either side shows at once.
    const std::string host = "h";
    const std::string expected = inGrid && !request.panoramaId.empty()
        ? TileRequestUrl(host, request.panoramaId, request.x, request.y, request.zoom).substr(8 + host.size())
        : std::string();
    std::vector<unsigned char> tile;
    if (!expected.empty() && request.target == expected)
        tile = DrawTileJpeg(request.panoramaId, request.zoom, request.x, request.y);
    TileReply reply;
    if (tile.empty()) {
        reply.status = "404 Not Found";
        reply.headers = "Content-Type: text/plain\r\n";
        reply.body = "not a tile of a sample panorama\n";
        return reply;
    }
    reply.headers = "Content-Type: image/jpeg\r\n";
    reply.body.assign(tile.begin(), tile.end());
    return reply;
}

std::vector<std::string> SamplePageAddresses() {
    return { "https://pages.sample.invalid/view?panoid=Sample-Harbour-Dawn-01",
        "https://pages.sample.invalid/view?panoid=Sample_Meadow_Noon_002",
        "https://pages.sample.invalid/view?panoid=Sample-Alpine-Dusk-003" };
}

} // namespace vantaro::sample
