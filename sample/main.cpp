// vantaro-sample-tiles: serves drawn sample panoramas to a sample build of the program until it is
// interrupted.
//   vantaro-sample-tiles [--folder DIR] [--port N]   serve
//   vantaro-sample-tiles --addresses                 print page addresses of the sample panoramas

#include "tile_service.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: vantaro-sample-tiles [--folder DIR] [--port N] | --addresses\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder = VANTARO_SAMPLE_FOLDER;
    int port = VANTARO_SAMPLE_PORT;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--addresses") {
            for (const std::string& address : vantaro::sample::SamplePageAddresses())
                std::printf("%s\n", address.c_str());
            return 0;
        }
        if (i + 1 >= argc)
            return Usage();
        if (option == "--folder")
            folder = argv[++i];
        else if (option == "--port")
            port = std::atoi(argv[++i]);
        else
            return Usage();
    }
    if (port <= 0 || port > 65535)
        return Usage();

    // Blocked before any thread starts, so only the wait below takes them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&endSignals, signal);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    std::error_code error;
    std::filesystem::create_directories(folder, error);
    vantaro::sample::TileServiceOptions options;
    options.certificateFolder = folder;
    options.port = port;
    if (vantaro::sample::StartTileService(options) == 0) {
        std::fprintf(stderr,
            "vantaro-sample-tiles: could not serve on 127.0.0.1-3 port %d with certificates in %s "
            "(port taken, or the folder not writable)\n",
            port, folder.c_str());
        return 1;
    }
    std::printf("Sample tiles on https://127.0.0.{1,2,3}:%d, authority %s\n", port,
        vantaro::sample::ServiceAuthorityFile().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&endSignals, &signal);
    vantaro::sample::StopTileService();
    return 0;
}
