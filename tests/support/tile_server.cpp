#include "tile_server.h"

#include "test_ca.h"

#include <FreeImage.h>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vantaro::test {

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kTileSize = 512;
constexpr auto kIdleLimit = std::chrono::seconds(30);
constexpr auto kStallLimit = std::chrono::seconds(60);
constexpr std::size_t kMaxRequestHead = 64 * 1024;

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

std::mutex stateMutex; // guards the log, the rule, the count and the tile cache
std::vector<TileRequest> requestLog;
TileFaultRule faultRule;
int acceptedCount = 0;
std::map<std::pair<int, int>, std::vector<unsigned char>> tileCache;

std::atomic<bool> stopping { false };
std::thread acceptThread;
std::list<Worker> workers; // only the accept thread and StopTileServer touch it
int listeners[3] = { -1, -1, -1 };
int serverPort = 0;
SSL_CTX* tlsContext = nullptr;
std::string trustedCaFile;
Clock::time_point serverDeadline;

void SetTimeout(int fd, int option, std::chrono::milliseconds limit) {
    timeval value {};
    value.tv_sec = limit.count() / 1000;
    value.tv_usec = (limit.count() % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, option, &value, sizeof value);
}

int Listen(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
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

void CloseListeners() {
    for (int& fd : listeners) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

// All three mirrors on one port, so the client's pattern needs only the address to vary.
bool OpenListeners() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        listeners[0] = Listen("127.0.0.1", 0);
        if (listeners[0] < 0)
            return false;
        serverPort = LocalPort(listeners[0]);
        listeners[1] = Listen("127.0.0.2", serverPort);
        listeners[2] = Listen("127.0.0.3", serverPort);
        if (listeners[1] >= 0 && listeners[2] >= 0)
            return true;
        CloseListeners();
    }
    return false;
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

bool Send(SSL* ssl, const std::string& data) {
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

std::string Head(const std::string& statusLine, std::size_t length, const std::string& extra = {}) {
    return "HTTP/1.1 " + statusLine + "\r\n" + extra + "Content-Length: " + std::to_string(length) + "\r\n\r\n";
}

// Answers one request; false when the connection must end after it.
bool Answer(SSL* ssl, int fd, const TileRequest& request, TileFault fault) {
    if (fault == TileFault::StallBeforeAnswer) {
        Stall(fd);
        return false;
    }
    if (fault == TileFault::NotFound)
        return Send(ssl, Head("404 Not Found", 10, "Content-Type: text/plain\r\n") + "not found\n");
    if (fault == TileFault::ServerError)
        return Send(ssl, Head("500 Internal Server Error", 6, "Content-Type: text/plain\r\n") + "error\n");
    if (fault == TileFault::EmptyBody)
        return Send(ssl, Head("200 OK", 0, "Content-Type: image/jpeg\r\n"));
    if (fault == TileFault::Redirect) {
        const std::string location = "https://127.0.0.1:" + std::to_string(serverPort) + request.target;
        return Send(ssl, Head("302 Found", 0, "Location: " + location + "\r\n"));
    }
    if (fault == TileFault::Oversized) {
        if (!Send(ssl, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n"))
            return false;
        const std::string block(64 * 1024, '\xFF');
        for (int i = 0; i < 33 * 16 && Send(ssl, block); ++i) { }
        return false;
    }
    const std::vector<unsigned char> tile = TileJpeg(request.x, request.y);
    const std::string head = Head("200 OK", tile.size(), "Content-Type: image/jpeg\r\n");
    if (fault == TileFault::None)
        return Send(ssl, head + std::string(tile.begin(), tile.end()));
    const std::string half(tile.begin(), tile.begin() + std::ptrdiff_t(tile.size() / 2));
    if (!Send(ssl, head + half))
        return false;
    if (fault == TileFault::StallInBody)
        Stall(fd);
    return false; // Truncated: a clean close after half the announced body
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
        TileFaultRule rule;
        {
            std::lock_guard lock(stateMutex);
            requestLog.push_back(request);
            rule = faultRule;
        }
        open = Answer(ssl, fd, request, rule ? rule(request) : TileFault::None);
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
    while (!stopping && Clock::now() < serverDeadline) {
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

std::vector<unsigned char> EncodeTile(int x, int y) {
    FIBITMAP* bitmap = FreeImage_Allocate(kTileSize, kTileSize, 24, 0, 0, 0);
    if (!bitmap)
        return {};
    const unsigned colour = TileColour(x, y);
    const int base[3] = { int(colour >> 16) & 0xFF, int(colour >> 8) & 0xFF, int(colour) & 0xFF };
    // Some texture, so a tile is as large as a real photo tile and not a few hundred bytes.
    std::uint32_t state = 0x9E3779B9u ^ std::uint32_t(x * 131 + y * 7919);
    for (int row = 0; row < kTileSize; ++row) {
        BYTE* line = FreeImage_GetScanLine(bitmap, row);
        for (int column = 0; column < kTileSize; ++column) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state % 49) - 24;
            BYTE* pixel = line + column * 3;
            pixel[FI_RGBA_RED] = BYTE(std::clamp(base[0] + noise, 0, 255));
            pixel[FI_RGBA_GREEN] = BYTE(std::clamp(base[1] + noise, 0, 255));
            pixel[FI_RGBA_BLUE] = BYTE(std::clamp(base[2] + noise, 0, 255));
        }
    }
    std::vector<unsigned char> bytes;
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (FreeImage_SaveToMemory(FIF_JPEG, bitmap, memory, JPEG_QUALITYNORMAL)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        FreeImage_AcquireMemory(memory, &data, &size);
        bytes.assign(data, data + size);
    }
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
    return bytes;
}
} // namespace

int StartTileServer(const TileServerOptions& options) {
    StopTileServer();
    // A client that hangs up mid-answer must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> mirrors { "127.0.0.1", "127.0.0.2", "127.0.0.3" };
    const TestCertificateFiles trusted = MakeTestCertificates(options.folder, "trusted", mirrors);
    const TestCertificateFiles served
        = options.unknownCa ? MakeTestCertificates(options.folder, "unknown", mirrors) : trusted;
    if (trusted.caFile.empty() || served.caFile.empty())
        return 0;
    tlsContext = SSL_CTX_new(TLS_server_method());
    if (!tlsContext || SSL_CTX_use_certificate_chain_file(tlsContext, served.certificateFile.c_str()) != 1
        || SSL_CTX_use_PrivateKey_file(tlsContext, served.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 || !OpenListeners()) {
        StopTileServer();
        return 0;
    }
    trustedCaFile = trusted.caFile;
    {
        std::lock_guard lock(stateMutex);
        requestLog.clear();
        acceptedCount = 0;
        faultRule = options.faultRule;
    }
    stopping = false;
    serverDeadline = Clock::now() + std::chrono::seconds(options.lifetimeSeconds);
    acceptThread = std::thread(AcceptLoop);
    return serverPort;
}

void StopTileServer() {
    stopping = true;
    if (acceptThread.joinable())
        acceptThread.join();
    for (Worker& worker : workers)
        worker.thread.join();
    workers.clear();
    CloseListeners();
    if (tlsContext)
        SSL_CTX_free(tlsContext);
    tlsContext = nullptr;
}

void SetTileFaultRule(TileFaultRule rule) {
    std::lock_guard lock(stateMutex);
    faultRule = std::move(rule);
}

std::string TileServerHostPattern() {
    return "127.0.0.{N}:" + std::to_string(serverPort);
}

std::string TileServerCaFile() {
    return trustedCaFile;
}

std::vector<TileRequest> ReceivedTileRequests() {
    std::lock_guard lock(stateMutex);
    return requestLog;
}

int AcceptedConnections() {
    std::lock_guard lock(stateMutex);
    return acceptedCount;
}

unsigned TileColour(int x, int y) {
    const unsigned red = 30 + 8 * unsigned(std::clamp(x, 0, 25));
    const unsigned green = 30 + 16 * unsigned(std::clamp(y, 0, 12));
    return red << 16 | green << 8 | 0x80;
}

std::vector<unsigned char> TileJpeg(int x, int y) {
    std::lock_guard lock(stateMutex);
    std::vector<unsigned char>& tile = tileCache[{ x, y }];
    if (tile.empty())
        tile = EncodeTile(x, y);
    return tile;
}

int UnusedLoopbackPort() {
    const int fd = Listen("127.0.0.1", 0);
    if (fd < 0)
        return 0;
    const int port = LocalPort(fd);
    ::close(fd);
    return port;
}

} // namespace vantaro::test
