// The tile download of one level-5 panorama (338 tiles) from the loopback HTTPS tile server:
// the kept connection against a fresh connection per tile, directly and over a 20 ms round trip.
#include "download.h"
#include "grab_relay.h"
#include "tile_server.h"
#include "tiles.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdlib.h>
#include <string>

namespace {

using namespace vantaro;

constexpr int kLevel = 5;
constexpr double kRoundTripSeconds = 0.020;

struct Figures {
    double seconds = 0;
    int failed = 0;
    double TilesPerSecond() const { return TileGridForLevel(kLevel).expectedTiles / seconds; }
};

// Every tile of the panorama in the grab's order, each from a mirror drawn at random.
Figures DownloadPanorama(const std::string& hostPattern, const std::string& folder, bool freshConnections) {
    static std::mt19937 generator { 7 };
    const TileGrid grid = TileGridForLevel(kLevel);
    Figures figures;
    CloseDownloads();
    const auto start = std::chrono::steady_clock::now();
    int number = 0;
    for (int y = 0; y < grid.rows; ++y) {
        for (int x = 0; x < grid.columns; ++x) {
            const int mirror = std::uniform_int_distribution<int>(1, 3)(generator);
            const std::string url
                = TileRequestUrl(MirrorHost(hostPattern, mirror), "BenchPanorama_Id-012345", x, y, kLevel);
            if (DownloadToFile(url, folder + "/tile" + std::to_string(++number) + ".jpg") == 0)
                ++figures.failed;
            if (freshConnections)
                CloseDownloads();
        }
    }
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    CloseDownloads();
    return figures;
}

void Print(const char* name, const Figures& figures) {
    std::printf(
        "  %-34s %8.1f tiles/s  %7.3f s  %d failed\n", name, figures.TilesPerSecond(), figures.seconds, figures.failed);
}

} // namespace

int main() {
    std::string folder = "/tmp/vantaro_grab_bench_XXXXXX";
    if (!mkdtemp(folder.data()))
        return 1;
    const int serverPort = test::StartTileServer({ folder, false, {} });
    if (serverPort == 0) {
        std::fprintf(stderr, "the tile server did not start\n");
        return 1;
    }
    SetExtraTrustedCaFileForTesting(test::TileServerCaFile());
    const TileGrid grid = TileGridForLevel(kLevel);
    for (int y = 0; y < grid.rows; ++y) {
        for (int x = 0; x < grid.columns; ++x)
            test::TileJpeg(x, y); // made before timing: the server's encoding is not the client's cost
    }
    const std::string direct = test::TileServerHostPattern();
    const int relayPort = bench::StartDelayRelay(serverPort, int(kRoundTripSeconds * 1000 / 2));
    const std::string delayed = "127.0.0.{N}:" + std::to_string(relayPort);

    std::printf("Level-5 panorama, %d tiles of about %zu bytes, one request at a time over HTTPS\n", grid.expectedTiles,
        test::TileJpeg(0, 0).size());
    DownloadPanorama(direct, folder, false); // warm-up
    const Figures directKept = DownloadPanorama(direct, folder, false);
    const Figures directFresh = DownloadPanorama(direct, folder, true);
    const Figures delayedKept = DownloadPanorama(delayed, folder, false);
    const Figures delayedFresh = DownloadPanorama(delayed, folder, true);
    bench::StopDelayRelay();
    test::StopTileServer();
    std::filesystem::remove_all(folder);

    std::printf("Loopback, no added delay:\n");
    Print("kept connection", directKept);
    Print("fresh connection per tile", directFresh);
    std::printf(
        "  ratio kept / fresh                 %8.2fx\n", directKept.TilesPerSecond() / directFresh.TilesPerSecond());
    std::printf("Through the relay, %.0f ms round trip:\n", kRoundTripSeconds * 1000);
    Print("kept connection", delayedKept);
    Print("fresh connection per tile", delayedFresh);
    const double ratio = delayedKept.TilesPerSecond() / delayedFresh.TilesPerSecond();
    // One round trip plus the transfer itself (the loopback time of a kept connection) per tile.
    const double limit = 1.0 / (kRoundTripSeconds + directKept.seconds / grid.expectedTiles);
    const double fromLimit = limit / delayedKept.TilesPerSecond();
    std::printf("  ratio kept / fresh                 %8.2fx  (goal at least 2x)\n", ratio);
    std::printf("  sequential limit                   %8.1f tiles/s\n", limit);
    std::printf("  limit / kept                       %8.2fx  (goal at most 1.3x)\n", fromLimit);
    const bool failures = directKept.failed + directFresh.failed + delayedKept.failed + delayedFresh.failed > 0;
    const bool met = ratio >= 2.0 && fromLimit <= 1.3 && !failures;
    std::printf("%s\n", met ? "Goals met." : "Goals NOT met.");
    return met ? 0 : 1;
}
