// Welding benchmark on tiles cut from a real photograph. For levels 3, 4 and 5 and both formats: the
// time of loading and pasting the tiles, of saving (crop included) and in all, the peak resident
// memory and the file size of the welding as built, against the baseline (the same welding saved by
// FreeImage's own PNG or JPEG writer, as before the PNG writer of grab/png_file) and against
// `vips arrayjoin` (plus `vips crop`) on the same tiles. Then a run of level-5 JPEG panoramas on one
// canvas reused from panorama to panorama, against a new canvas for each. Prints the goals and whether
// each is met.
//   weld_bench [work folder] [photo]
// The work folder (default: weld_bench_data beside this program) keeps the tiles between runs; the
// photo defaults to photo.jpg in it, which `bench/photo.sh [work folder]` fetches. The welded files
// are written there and removed.
#include "weld_image.h"

#include <FreeImage.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <numeric>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using vantaro::kTileSize;

// About what tile servers use for photographs.
constexpr int kTileQuality = 88;
constexpr int kRunPanoramas = 4;

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

// Lets VmHWM measure the next step alone. The heap first gives back what earlier steps freed: once
// an image of a few MB has been freed, glibc keeps up to twice that much freed heap resident, which
// would count in every later peak.
void ResetPeakMemory() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakMiB() {
    return StatusField("VmHWM") / 1024.0;
}

std::uintmax_t FileBytes(const std::string& path) {
    std::error_code error;
    const std::uintmax_t bytes = std::filesystem::file_size(path, error);
    return error ? 0 : bytes;
}

// The panorama of a level: 2:1, 13312 x 6656 at level 5, halved at each level below.
vantaro::ImageSize PanoramaSize(int level) {
    return { 13312 >> (5 - level), 6656 >> (5 - level) };
}

std::string TilePath(const std::string& folder, int x, int y) {
    return folder + "tile_" + std::to_string(x) + "_" + std::to_string(y) + ".jpg";
}

// What the tiles of a folder were cut from; they are cut again when it changes.
std::string TileSource(const std::string& photo, int level) {
    return photo + " " + std::to_string(FileBytes(photo)) + " bytes, level " + std::to_string(level) + ", quality "
        + std::to_string(kTileQuality) + "\n";
}

// Cuts the grid's tiles of the level from the photograph: cropped to 2:1 about its middle, scaled to
// the level's panorama, black where a cell reaches past it, as a tile server serves them.
bool CutTiles(const std::string& photo, const std::string& folder, int level) {
    const std::string stamp = folder + "source.txt";
    std::filesystem::create_directories(folder);
    {
        std::ifstream file(stamp);
        const std::string source((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (source == TileSource(photo, level))
            return true;
    }
    std::fprintf(stderr, "cutting the level-%d tiles from %s\n", level, photo.c_str());
    FIBITMAP* loaded = FreeImage_Load(FreeImage_GetFileType(photo.c_str(), 0), photo.c_str(), 0);
    FIBITMAP* original = loaded ? FreeImage_ConvertTo24Bits(loaded) : nullptr;
    FreeImage_Unload(loaded);
    if (!original)
        return false;
    const int width = int(FreeImage_GetWidth(original));
    const int height = int(FreeImage_GetHeight(original));
    const int cropWidth = std::min(width, height * 2);
    const int cropHeight = cropWidth / 2;
    const int left = (width - cropWidth) / 2;
    const int top = (height - cropHeight) / 2;
    FIBITMAP* cropped = FreeImage_Copy(original, left, top, left + cropWidth, top + cropHeight);
    FreeImage_Unload(original);
    const vantaro::ImageSize panorama = PanoramaSize(level);
    FIBITMAP* scaled
        = cropped ? FreeImage_Rescale(cropped, panorama.width, panorama.height, FILTER_CATMULLROM) : nullptr;
    FreeImage_Unload(cropped);
    if (!scaled)
        return false;
    const vantaro::TileGrid grid = vantaro::TileGridForLevel(level);
    bool written = true;
    for (int y = 0; y < grid.rows && written; ++y) {
        for (int x = 0; x < grid.columns && written; ++x) {
            FIBITMAP* tile = FreeImage_Allocate(kTileSize, kTileSize, 24);
            const int cellLeft = x * kTileSize;
            const int cellTop = y * kTileSize;
            if (tile && cellLeft < panorama.width && cellTop < panorama.height) {
                FIBITMAP* part = FreeImage_Copy(scaled, cellLeft, cellTop,
                    std::min(cellLeft + kTileSize, panorama.width), std::min(cellTop + kTileSize, panorama.height));
                written = part && FreeImage_Paste(tile, part, 0, 0, 256);
                FreeImage_Unload(part);
            }
            written = written && tile && FreeImage_Save(FIF_JPEG, tile, TilePath(folder, x, y).c_str(), kTileQuality);
            FreeImage_Unload(tile);
        }
    }
    FreeImage_Unload(scaled);
    if (written)
        std::ofstream(stamp) << TileSource(photo, level);
    return written;
}

struct Figures {
    double weld = 0; // allocation, loading and pasting
    double save = 0;
    double peakMiB = 0;
    double startMiB = 0; // resident as the step began, part of the peak
    std::uintmax_t bytes = 0;
    bool saved = false;
    double Total() const { return weld + save; }
};

// The faster of two runs' figures, with the higher peak.
Figures Faster(const Figures& best, const Figures& next, int run) {
    if (run == 0)
        return next;
    Figures kept = next.Total() < best.Total() ? next : best;
    kept.peakMiB = std::max(best.peakMiB, next.peakMiB);
    kept.saved = best.saved && next.saved;
    return kept;
}

// Loads and pastes every tile of the grid; false when one is missing.
bool PasteAll(FIBITMAP* canvas, const std::string& tiles, const vantaro::TileGrid& grid) {
    bool all = canvas != nullptr;
    for (int y = 0; y < grid.rows && all; ++y) {
        for (int x = 0; x < grid.columns && all; ++x)
            all = vantaro::PasteTileFile(canvas, TilePath(tiles, x, y), x, y) == vantaro::PasteResult::Pasted;
    }
    return all;
}

// Welds every tile of the level on a new canvas and saves the panorama under the id as built
// (FinishCanvas) or as the baseline: the same crop saved by FreeImage.
Figures Weld(
    const std::string& tiles, const std::string& output, const std::string& id, int level, bool png, bool baseline) {
    const vantaro::TileGrid grid = vantaro::TileGridForLevel(level);
    const std::string file = vantaro::WeldedFileName(output, id, png);
    Figures figures;
    ResetPeakMemory();
    figures.startMiB = StatusField("VmRSS") / 1024.0;
    auto start = Clock::now();
    FIBITMAP* canvas = vantaro::AllocateCanvas(grid);
    const bool pasted = PasteAll(canvas, tiles, grid);
    figures.weld = Seconds(Clock::now() - start);
    start = Clock::now();
    if (!baseline) {
        figures.saved
            = vantaro::FinishCanvas(canvas, { true, true, png }, output, id, level) == vantaro::WeldResult::Saved;
    } else if (canvas) {
        const vantaro::ImageSize crop = vantaro::CropSize(level);
        const vantaro::ImageSize whole = vantaro::CanvasSize(grid);
        FIBITMAP* image = crop == whole ? canvas : FreeImage_Copy(canvas, 0, 0, crop.width, crop.height);
        figures.saved
            = image && FreeImage_Save(png ? FIF_PNG : FIF_JPEG, image, file.c_str(), png ? PNG_DEFAULT : JPEG_DEFAULT);
        if (image != canvas)
            FreeImage_Unload(image);
    }
    figures.save = Seconds(Clock::now() - start);
    FreeImage_Unload(canvas);
    figures.peakMiB = PeakMiB();
    figures.saved = figures.saved && pasted;
    figures.bytes = FileBytes(file);
    return figures;
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

// The same job by vips: join the tiles, then cut the crop rectangle unless it is the whole canvas.
Figures Vips(const std::string& tiles, const std::string& output, int level, bool png) {
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
    Figures figures;
    const auto start = Clock::now();
    double peak = RunCommand({ "vips", "arrayjoin", list, joined, "--across", std::to_string(grid.columns) });
    figures.saved = peak >= 0;
    if (figures.saved && joined != final) {
        const double cropPeak = RunCommand(
            { "vips", "crop", joined, final, "0", "0", std::to_string(crop.width), std::to_string(crop.height) });
        figures.saved = cropPeak >= 0;
        peak = std::max(peak, cropPeak);
        std::filesystem::remove(joined);
    }
    figures.save = Seconds(Clock::now() - start);
    figures.peakMiB = peak;
    figures.bytes = FileBytes(final);
    return figures;
}

// Decodes both files and compares every pixel byte; "" when they are identical.
std::string DecodedDifference(const std::string& a, const std::string& b) {
    FIBITMAP* imageA = FreeImage_Load(FreeImage_GetFileType(a.c_str(), 0), a.c_str(), 0);
    FIBITMAP* imageB = FreeImage_Load(FreeImage_GetFileType(b.c_str(), 0), b.c_str(), 0);
    std::string difference;
    if (!imageA || !imageB) {
        difference = "not decoded";
    } else if (FreeImage_GetWidth(imageA) != FreeImage_GetWidth(imageB)
        || FreeImage_GetHeight(imageA) != FreeImage_GetHeight(imageB)
        || FreeImage_GetBPP(imageA) != FreeImage_GetBPP(imageB)) {
        difference = "sizes or depths differ";
    } else {
        const unsigned lineBytes = FreeImage_GetLine(imageA);
        for (unsigned y = 0; y < FreeImage_GetHeight(imageA) && difference.empty(); ++y) {
            if (!std::equal(FreeImage_GetScanLine(imageA, int(y)), FreeImage_GetScanLine(imageA, int(y)) + lineBytes,
                    FreeImage_GetScanLine(imageB, int(y))))
                difference = "line " + std::to_string(y) + " differs";
        }
    }
    FreeImage_Unload(imageA);
    FreeImage_Unload(imageB);
    return difference;
}

struct Row {
    int level = 0;
    bool png = false;
    Figures built;
    Figures baseline;
    Figures vips;
    std::string pixels; // how the decoded PNGs differ; "" when they do not
};

struct PanoramaRun {
    std::vector<double> seconds;
    double peakMiB = 0;
    bool saved = true;
};

// A run of level-5 JPEG panoramas: on one canvas cleared between them (as built), or on a new canvas
// for each, released after its save (as before).
PanoramaRun RunOfPanoramas(const std::string& tiles, const std::string& output, bool reuse) {
    const vantaro::TileGrid grid = vantaro::TileGridForLevel(5);
    PanoramaRun run;
    ResetPeakMemory();
    FIBITMAP* canvas = nullptr;
    for (int panorama = 0; panorama < kRunPanoramas; ++panorama) {
        const auto start = Clock::now();
        canvas = reuse ? vantaro::BlackCanvas(canvas, grid) : vantaro::AllocateCanvas(grid);
        run.saved = PasteAll(canvas, tiles, grid) && run.saved;
        run.saved = vantaro::FinishCanvas(canvas, { true, true, false }, output, "run", 5) == vantaro::WeldResult::Saved
            && run.saved;
        if (!reuse) {
            FreeImage_Unload(canvas);
            canvas = nullptr;
        }
        run.seconds.push_back(Seconds(Clock::now() - start));
    }
    FreeImage_Unload(canvas);
    run.peakMiB = PeakMiB();
    std::filesystem::remove(output + "run_welded.jpg");
    return run;
}

double Mean(const std::vector<double>& values, std::size_t from = 0) {
    return values.size() > from
        ? std::accumulate(values.begin() + long(from), values.end(), 0.0) / double(values.size() - from)
        : 0;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe").parent_path();
    const std::string work
        = std::filesystem::absolute(argc > 1 ? argv[1] : (self / "weld_bench_data").string()).string() + "/";
    const std::string photo = argc > 2 ? argv[2] : work + "photo.jpg";
    const std::string output = work + "out/";
    if (!std::filesystem::exists(photo)) {
        std::fprintf(stderr,
            "no photograph at %s: run `bench/photo.sh %s` to fetch the one this benchmark uses (a Debian\n"
            "wallpaper package), or give a large real photograph: weld_bench [work folder] [photo]\n",
            photo.c_str(), work.c_str());
        return 2;
    }
    std::filesystem::create_directories(output);
    for (const int level : { 3, 4, 5 }) {
        if (!CutTiles(photo, work + "tiles" + std::to_string(level) + "/", level)) {
            std::fprintf(stderr, "cannot cut the level-%d tiles from %s\n", level, photo.c_str());
            return 1;
        }
    }
    const auto tilesOf = [&](int level) { return work + "tiles" + std::to_string(level) + "/"; };
    std::uintmax_t tileBytes = 0;
    const vantaro::TileGrid largest = vantaro::TileGridForLevel(5);
    for (int y = 0; y < largest.rows; ++y) {
        for (int x = 0; x < largest.columns; ++x)
            tileBytes += FileBytes(TilePath(tilesOf(5), x, y));
    }
    std::printf("photo: %s\ntiles: JPEG quality %d, %.1f kB on average at level 5; resident before welding: %.1f MiB\n",
        photo.c_str(), kTileQuality, double(tileBytes) / largest.expectedTiles / 1024, StatusField("VmRSS") / 1024.0);
    std::printf("times: the best of 3 runs for JPEG, of 2 for PNG; peaks: the highest\n\n");
    std::fflush(stdout);

    std::vector<Row> rows;
    bool allSaved = true;
    for (const int level : { 3, 4, 5 }) {
        for (const bool png : { false, true }) {
            std::fprintf(stderr, "level %d %s\n", level, png ? "PNG" : "JPEG");
            const std::string tiles = tilesOf(level);
            // Timings on a shared machine wander: the fastest of a few runs, fewer where a run is long.
            const int runs = png ? 2 : 3;
            Row row { level, png, {}, {}, {}, "" };
            for (int run = 0; run < runs; ++run) {
                row.built = Faster(row.built, Weld(tiles, output, "built", level, png, false), run);
                row.baseline = Faster(row.baseline, Weld(tiles, output, "baseline", level, png, true), run);
                row.vips = Faster(row.vips, Vips(tiles, output, level, png), run);
            }
            if (png)
                row.pixels = DecodedDifference(
                    vantaro::WeldedFileName(output, "built", png), vantaro::WeldedFileName(output, "baseline", png));
            allSaved = allSaved && row.built.saved && row.baseline.saved && row.vips.saved;
            rows.push_back(row);
            for (const auto& entry : std::filesystem::directory_iterator(output))
                std::filesystem::remove(entry.path());
        }
    }

    std::printf("Times in seconds (weld: allocate, load and paste; save: crop and save)\n");
    std::printf("%-5s %-4s | %7s %7s %7s | %7s %7s %7s | %7s | %11s %8s\n", "level", "fmt", "weld", "save", "total",
        "weld", "save", "total", "total", "built/base", "built/vips");
    std::printf("%-10s | %-23s | %-23s | %-7s |\n", "", "as built", "baseline (FreeImage)", "vips");
    for (const Row& r : rows) {
        std::printf("%-5d %-4s | %7.3f %7.3f %7.3f | %7.3f %7.3f %7.3f | %7.3f | %10.2fx %9.2fx\n", r.level,
            r.png ? "PNG" : "JPEG", r.built.weld, r.built.save, r.built.Total(), r.baseline.weld, r.baseline.save,
            r.baseline.Total(), r.vips.Total(), r.built.Total() / r.baseline.Total(), r.built.Total() / r.vips.Total());
    }
    std::printf("\nPeak resident memory (MiB; start: resident as the welding began) and file size (MB)\n");
    std::printf("%-5s %-4s | %8s %8s %8s %8s | %8s %8s %8s | %10s | %s\n", "level", "fmt", "start", "built", "baseline",
        "vips", "built", "baseline", "vips", "built/base", "pixels built vs baseline");
    for (const Row& r : rows) {
        std::printf("%-5d %-4s | %8.1f %8.1f %8.1f %8.1f | %8.2f %8.2f %8.2f | %9.4fx | %s\n", r.level,
            r.png ? "PNG" : "JPEG", r.built.startMiB, r.built.peakMiB, r.baseline.peakMiB, r.vips.peakMiB,
            r.built.bytes / 1e6, r.baseline.bytes / 1e6, r.vips.bytes / 1e6,
            double(r.built.bytes) / double(r.baseline.bytes),
            r.png ? (r.pixels.empty() ? "identical" : r.pixels.c_str()) : "-");
    }
    std::fflush(stdout);

    std::fprintf(stderr, "runs of level-5 JPEG panoramas\n");
    const PanoramaRun reused = RunOfPanoramas(tilesOf(5), output, true);
    const PanoramaRun fresh = RunOfPanoramas(tilesOf(5), output, false);
    allSaved = allSaved && reused.saved && fresh.saved;
    std::printf("\nA run of %d level-5 JPEG panoramas (seconds each)\n", kRunPanoramas);
    const auto printRun = [](const char* name, const PanoramaRun& run) {
        std::printf("%-34s", name);
        for (const double seconds : run.seconds)
            std::printf(" %7.3f", seconds);
        std::printf("   peak %.1f MiB\n", run.peakMiB);
    };
    printRun("one canvas, cleared (as built)", reused);
    printRun("a new canvas each (before)", fresh);
    const double today = Mean(fresh.seconds);
    const double nextOnes = Mean(reused.seconds, 1);
    std::printf("first panorama / before: %.2fx; next ones / before: %.2fx\n", reused.seconds.front() / today,
        nextOnes / today);

    const Row& png5 = rows.back();
    const Row& jpeg5 = rows[rows.size() - 2];
    const double pngTime = png5.built.Total() / png5.baseline.Total();
    const double pngSize = double(png5.built.bytes) / double(png5.baseline.bytes);
    std::printf("\nGoals\n");
    std::printf("level-5 PNG time <= 0.35x the FreeImage baseline:  %.2fx  %s\n", pngTime, Verdict(pngTime <= 0.35));
    std::printf("level-5 PNG faster than vips arrayjoin:           %.1f s vs %.1f s  %s\n", png5.built.Total(),
        png5.vips.Total(), Verdict(png5.built.Total() < png5.vips.Total()));
    std::printf("level-5 PNG file <= 1.02x the baseline's:          %.4fx  %s\n", pngSize, Verdict(pngSize <= 1.02));
    std::printf("level-5 PNG pixels identical to the baseline's:    %s\n",
        png5.pixels.empty() ? "met" : ("MISSED: " + png5.pixels).c_str());
    std::printf("level-5 JPEG next panoramas <= 0.65x before:       %.2fx  %s\n", nextOnes / today,
        Verdict(nextOnes / today <= 0.65));
    std::printf("level-5 PNG peak <= 600 MiB:                       %.1f MiB  %s\n", png5.built.peakMiB,
        Verdict(png5.built.peakMiB <= 600));
    std::printf("level-5 JPEG peak <= 300 MiB:                      %.1f MiB  %s\n", jpeg5.built.peakMiB,
        Verdict(jpeg5.built.peakMiB <= 300));
    if (!allSaved)
        std::printf("some saves failed: the figures above are not comparable\n");
    return allSaved ? 0 : 1;
}
