#include "tile_server.h"

#include "authority.h"

#include <FreeImage.h>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantaro::test {

namespace {
constexpr int kTileSize = 512;

std::mutex stateMutex; // guards the log, the rule and the tile cache
std::vector<TileRequest> requestLog;
TileFaultRule faultRule;
std::map<std::pair<int, int>, std::vector<unsigned char>> tileCache;
std::string trustedCaFile;
int serverPort = 0;

sample::TileReply FaultReply(const TileRequest& request, TileFault fault) {
    sample::TileReply reply;
    switch (fault) {
    case TileFault::NotFound:
        return { "404 Not Found", "Content-Type: text/plain\r\n", "not found\n" };
    case TileFault::ServerError:
        return { "500 Internal Server Error", "Content-Type: text/plain\r\n", "error\n" };
    case TileFault::EmptyBody:
        reply.headers = "Content-Type: image/jpeg\r\n";
        return reply;
    case TileFault::Redirect:
        reply.status = "302 Found";
        reply.headers = "Location: https://127.0.0.1:" + std::to_string(serverPort) + request.target + "\r\n";
        return reply;
    case TileFault::Oversized:
        reply.headers = "Content-Type: image/jpeg\r\n";
        reply.body.assign(33u << 20, '\xFF');
        reply.lengthAnnounced = false;
        return reply;
    case TileFault::StallBeforeAnswer:
        reply.stallBeforeAnswer = true;
        return reply;
    case TileFault::NotAJpeg:
        reply.headers = "Content-Type: image/jpeg\r\n";
        reply.body = "<html>Service unavailable</html>";
        return reply;
    default:
        break;
    }
    const std::vector<unsigned char> tile = TileJpeg(request.x, request.y);
    reply.headers = "Content-Type: image/jpeg\r\n";
    reply.body.assign(tile.begin(), tile.end());
    if (fault == TileFault::HugeDeclaredJpeg)
        reply.body = WithDeclaredJpegSize(reply.body, 8000, 8000);
    if (fault == TileFault::Truncated || fault == TileFault::StallInBody) {
        reply.sentBodyBytes = tile.size() / 2;
        reply.closeAfterAnswer = fault == TileFault::Truncated;
        reply.stallAfterAnswer = fault == TileFault::StallInBody;
    }
    return reply;
}

sample::TileReply AnswerAndLog(const TileRequest& request) {
    TileFaultRule rule;
    {
        std::lock_guard lock(stateMutex);
        requestLog.push_back(request);
        rule = faultRule;
    }
    return FaultReply(request, rule ? rule(request) : TileFault::None);
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
    // The client trusts one authority; with unknownCa the service shows another one's certificate.
    const sample::ServiceCertificates trusted = sample::EnsureServiceCertificates(options.folder);
    const std::string servedFolder = options.folder + "/unknown";
    if (trusted.authorityFile.empty()
        || (options.unknownCa && ::mkdir(servedFolder.c_str(), 0700) != 0 && errno != EEXIST))
        return 0;
    {
        std::lock_guard lock(stateMutex);
        requestLog.clear();
        faultRule = options.faultRule;
    }
    serverPort = sample::StartTileService(
        { options.unknownCa ? servedFolder : options.folder, 0, AnswerAndLog, options.lifetimeSeconds });
    trustedCaFile = trusted.authorityFile;
    return serverPort;
}

void StopTileServer() {
    sample::StopTileService();
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
    return sample::AcceptedConnections();
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

std::string WithDeclaredJpegSize(std::string jpeg, unsigned width, unsigned height) {
    const std::size_t frame = jpeg.find("\xFF\xC0");
    if (frame == std::string::npos || frame + 9 > jpeg.size())
        return {};
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xFF);
    return jpeg;
}

int UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where {};
    where.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &where.sin_addr);
    socklen_t length = sizeof where;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0
        && getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) == 0)
        port = ntohs(where.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace vantaro::test
