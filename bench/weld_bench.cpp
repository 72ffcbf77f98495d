// Welding benchmark: for levels 3, 4 and 5 and both output formats, the time of loading, pasting and
// saving (crop included) and the peak resident memory of the welding as built, against the same work
// done with an unconditional crop copy, and against `vips arrayjoin` (plus `vips crop`) on the same tiles.
//   ./weld_bench [work folder]
// The work folder (default: weld_bench_data in the current folder) keeps the generated tiles between
// runs; the welded files are written there and removed.
#include "weld_image.h"

#include <FreeImage.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using vantaro::kTileSize;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// kB of one field of /proc/self/status.
long StatusField(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Lets VmHWM measure the next step alone.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::uint32_t Hash(std::uint32_t a, std::uint32_t b) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0xC2B2AE3Du;
    return h ^ (h >> 13);
}

// Smoothly interpolated lattice noise in 0..1, continuous across tile edges.
double ValueNoise(double u, double v, std::uint32_t seed) {
    const int iu = int(std::floor(u));
    const int iv = int(std::floor(v));
    const double fu = u - iu;
    const double fv = v - iv;
    const auto corner = [&](int du, int dv) {
        return double(Hash(std::uint32_t(iu + du) ^ seed, std::uint32_t(iv + dv)) & 0xFFFF) / 65535.0;
    };
    const double su = fu * fu * (3 - 2 * fu);
    const double sv = fv * fv * (3 - 2 * fv);
    const double top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * su;
    const double bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * su;
    return top + (bottom - top) * sv;
}

// A photograph-like tile: sky over ground, structures at several scales and sensor grain, so that
// it compresses like a real one (tens of kB as JPEG), not like a flat colour.
bool WriteTile(const std::string& path, int x, int y) {
    FIBITMAP* tile = FreeImage_Allocate(kTileSize, kTileSize, 24);
    if (!tile)
        return false;
    const double panoramaHeight = 13.0 * kTileSize;
    for (int row = 0; row < kTileSize; ++row) {
        BYTE* line = FreeImage_GetScanLine(tile, kTileSize - 1 - row);
        const double gy = y * kTileSize + row;
        for (int column = 0; column < kTileSize; ++column) {
            const double gx = x * kTileSize + column;
            const double detail = 0.5 * ValueNoise(gx / 180, gy / 180, 1) + 0.3 * ValueNoise(gx / 40, gy / 40, 2)
                + 0.2 * ValueNoise(gx / 7, gy / 7, 3);
            const double sky = gy < panoramaHeight * 0.45 ? 1.0 : 0.0;
            const double grain = double(Hash(std::uint32_t(gx), std::uint32_t(gy)) % 13) - 6;
            const double red = sky * (110 + 60 * gy / panoramaHeight) + (1 - sky) * (70 + 120 * detail) + grain;
            const double green = sky * (150 + 40 * detail) + (1 - sky) * (80 + 100 * detail) + grain;
            const double blue = sky * (220 - 30 * detail) + (1 - sky) * (50 + 70 * detail) + grain;
            BYTE* pixel = line + column * 3;
            pixel[FI_RGBA_RED] = BYTE(std::clamp(red, 0.0, 255.0));
            pixel[FI_RGBA_GREEN] = BYTE(std::clamp(green, 0.0, 255.0));
            pixel[FI_RGBA_BLUE] = BYTE(std::clamp(blue, 0.0, 255.0));
        }
    }
    const bool saved = FreeImage_Save(FIF_JPEG, tile, path.c_str(), 90);
    FreeImage_Unload(tile);
    return saved;
}

std::string TilePath(const std::string& folder, int x, int y) {
    return folder + "tile_" + std::to_string(x) + "_" + std::to_string(y) + ".jpg";
}

struct Figures {
    double allocate = 0;
    double load = 0;
    double paste = 0;
    double save = 0;
    double peakMiB = 0;
    bool saved = false;
    double Total() const { return allocate + load + paste + save; }
};

// Welds every tile of the level; the crop step is the module's own, or an unconditional copy
// followed by a plain save, the way it was done before the copy was skipped.
Figures Weld(const std::string& tiles, const std::string& output, int level, bool png, bool alwaysCopy) {
    const vantaro::TileGrid grid = vantaro::TileGridForLevel(level);
    Figures figures;
    ResetPeakMemory();
    auto start = Clock::now();
    FIBITMAP* canvas = vantaro::AllocateCanvas(grid);
    figures.allocate = Seconds(Clock::now() - start);
    if (!canvas)
        return figures;
    for (int y = 0; y < grid.rows; ++y) {
        for (int x = 0; x < grid.columns; ++x) {
            start = Clock::now();
            FIBITMAP* tile = vantaro::LoadTile(TilePath(tiles, x, y));
            const auto loaded = Clock::now();
            FreeImage_Paste(canvas, tile, x * kTileSize, y * kTileSize, 256);
            FreeImage_Unload(tile);
            figures.load += Seconds(loaded - start);
            figures.paste += Seconds(Clock::now() - loaded);
        }
    }
    start = Clock::now();
    if (alwaysCopy) {
        const vantaro::ImageSize crop = vantaro::CropSize(level);
        FIBITMAP* copy = FreeImage_Copy(canvas, 0, 0, crop.width, crop.height);
        const std::string name = vantaro::WeldedFileName(output, "baseline", png);
        figures.saved = copy && FreeImage_Save(png ? FIF_PNG : FIF_JPEG, copy, name.c_str(), 0);
        FreeImage_Unload(copy);
        FreeImage_Unload(canvas);
    } else {
        figures.saved = vantaro::FinishCanvas(canvas, { true, true, png }, output, "vantaro", level)
            == vantaro::WeldResult::Saved;
    }
    figures.save = Seconds(Clock::now() - start);
    figures.peakMiB = StatusField("VmHWM") / 1024.0;
    return figures;
}

// The faster of two runs' figures, with the higher peak and both saves.
Figures Faster(const Figures& best, Figures next, int run) {
    if (run == 0)
        return next;
    const Figures& faster = next.Total() < best.Total() ? next : best;
    Figures kept = faster;
    kept.peakMiB = std::max(best.peakMiB, next.peakMiB);
    kept.saved = best.saved && next.saved;
    return kept;
}

// Runs a command without a shell; its peak resident MiB, or -1 when it failed.
double RunCommand(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // A child starts with its parent's peak as its own: bring ours down to what is resident now.
    ResetPeakMemory();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss / 1024.0;
}

struct VipsFigures {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

// The same job by vips: join the tiles, then cut the crop rectangle unless it is the whole canvas.
VipsFigures Vips(const std::string& tiles, const std::string& output, int level, bool png) {
    const vantaro::TileGrid grid = vantaro::TileGridForLevel(level);
    const vantaro::ImageSize crop = vantaro::CropSize(level);
    const vantaro::ImageSize canvas = vantaro::CanvasSize(grid);
    std::string list;
    for (int y = 0; y < grid.rows; ++y) {
        for (int x = 0; x < grid.columns; ++x)
            list += (list.empty() ? "" : " ") + TilePath(tiles, x, y);
    }
    const std::string final = output + (png ? "vips.png" : "vips.jpg");
    const std::string joined = crop == canvas ? final : output + "vips_joined.v";
    VipsFigures figures;
    const auto start = Clock::now();
    double peak = RunCommand({ "vips", "arrayjoin", list, joined, "--across", std::to_string(grid.columns) });
    figures.ok = peak >= 0;
    if (figures.ok && joined != final) {
        const double cropPeak = RunCommand(
            { "vips", "crop", joined, final, "0", "0", std::to_string(crop.width), std::to_string(crop.height) });
        figures.ok = cropPeak >= 0;
        peak = std::max(peak, cropPeak);
        std::filesystem::remove(joined);
    }
    figures.seconds = Seconds(Clock::now() - start);
    figures.peakMiB = peak;
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    const std::string work = std::filesystem::absolute(argc > 1 ? argv[1] : "weld_bench_data").string() + "/";
    const std::string tiles = work + "tiles/";
    const std::string output = work + "out/";
    std::filesystem::create_directories(tiles);
    std::filesystem::create_directories(output);

    const vantaro::TileGrid largest = vantaro::TileGridForLevel(5);
    std::uintmax_t tileBytes = 0;
    for (int y = 0; y < largest.rows; ++y) {
        for (int x = 0; x < largest.columns; ++x) {
            const std::string path = TilePath(tiles, x, y);
            if (!std::filesystem::exists(path) && !WriteTile(path, x, y)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
            tileBytes += std::filesystem::file_size(path);
        }
    }
    std::printf("tiles: %d, %.1f kB on average; resident before welding: %.1f MiB\n", largest.expectedTiles,
        double(tileBytes) / largest.expectedTiles / 1024, StatusField("VmRSS") / 1024.0);
    std::printf("times are the best of 3 runs for JPEG, of 1 for PNG; peaks the highest\n\n");
    std::printf("%-5s %-4s | %8s %8s %8s %8s %8s %9s | %8s %9s %6s %6s | %8s %9s %6s\n", "level", "fmt", "alloc s",
        "load s", "paste s", "save s", "total s", "peak MiB", "copy s", "peak MiB", "time", "peak", "vips s",
        "peak MiB", "time");

    bool allSaved = true;
    for (const int level : { 3, 4, 5 }) {
        for (const bool png : { false, true }) {
            // Timings on a shared machine wander: the fastest of a few runs where a run is short.
            const int runs = png ? 1 : 3;
            Figures ours;
            Figures copying;
            VipsFigures vips;
            for (int run = 0; run < runs; ++run) {
                ours = Faster(ours, Weld(tiles, output, level, png, false), run);
                copying = Faster(copying, Weld(tiles, output, level, png, true), run);
                const VipsFigures vipsRun = Vips(tiles, output, level, png);
                vips.ok = (run == 0 || vips.ok) && vipsRun.ok;
                vips.peakMiB = std::max(vips.peakMiB, vipsRun.peakMiB);
                if (run == 0 || vipsRun.seconds < vips.seconds)
                    vips.seconds = vipsRun.seconds;
            }
            allSaved = allSaved && ours.saved && copying.saved && vips.ok;
            std::printf(
                "%-5d %-4s | %8.3f %8.3f %8.3f %8.3f %8.3f %9.1f | %8.3f %9.1f %5.2fx %5.2fx | %8.3f %9.1f %5.2fx\n",
                level, png ? "PNG" : "JPEG", ours.allocate, ours.load, ours.paste, ours.save, ours.Total(),
                ours.peakMiB, copying.Total(), copying.peakMiB, ours.Total() / copying.Total(),
                ours.peakMiB / copying.peakMiB, vips.seconds, vips.peakMiB, ours.Total() / vips.seconds);
            std::fflush(stdout);
            for (const auto& entry : std::filesystem::directory_iterator(output))
                std::filesystem::remove(entry.path());
        }
    }
    std::printf("\ntime and peak ratios: this welding / the one with a crop copy, and / vips (below 1 is better)\n");
    if (!allSaved)
        std::printf("some saves failed: the figures above are not comparable\n");
    return allSaved ? 0 : 1;
}
