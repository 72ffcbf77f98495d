// Viewer benchmark: opening a level-5 panorama made from a photograph, as PNG and as JPEG, through the
// engine against the loading the engine had before (kept here as the baseline); texture load time and
// resident memory for welded images of levels 2 to 5; frames per second at 1920 x 1080 through the
// engine against a bare clear-and-flip loop.
//   xvfb-run -a -s "-screen 0 1920x1080x24" ./viewer_bench [work folder] [photograph]
// The work folder (default: viewer_bench_data in the current folder) receives the generated images and
// viewer_bench_frame.png, one rendered frame. The photograph, any large JPEG or PNG, is scaled once to
// 13312 x 6656 and saved in the work folder as the welder saves; without an argument the bench takes
// kPhotoName from the work folder or from /usr/share/backgrounds. It comes with Debian's
// lomiri-wallpapers-16.04 package:
//   apt-get download lomiri-wallpapers-16.04 && dpkg-deb -x lomiri-wallpapers-16.04_*.deb wallpapers
//   cp wallpapers/usr/share/backgrounds/picosdeeuropa_by_Aitzol_Berasategi.jpg viewer_bench_data/
#include "engine_api.h"
#include "texture_file.h"

#include <FreeImage.h>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Level {
    int level;
    int width;
    int height;
};

// The crop sizes of the welded images.
const Level kLevels[] = { { 2, 1664, 832 }, { 3, 3328, 1536 }, { 4, 6656, 3328 }, { 5, 13312, 6656 } };

constexpr Level kPhotoLevel = { 5, 13312, 6656 };
constexpr const char* kPhotoName = "picosdeeuropa_by_Aitzol_Berasategi.jpg";
constexpr const char* kPhotoFolder = "/usr/share/backgrounds";
// Loads of each file by each path; the figures shown are medians, the peak the largest.
constexpr int kOpenRuns = 5;
// The goals: opening at most this share of the baseline's time, with at most this much extra memory.
constexpr double kGoalRatio = 0.5;
constexpr double kGoalPeakMb = 500;

constexpr int kFrameWidth = 1920;
constexpr int kFrameHeight = 1080;
constexpr double kSecondsPerLoop = 4.0;
constexpr int kMaxFrames = 2000;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// kB of one field of /proc/self/status.
long StatusField(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Lets VmHWM measure the next step alone.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A recognisable synthetic panorama: sky over ground, a coloured post every 45 degrees of longitude and
// a thin grid line every 10 degrees.
bool WritePanorama(const Level& level, const std::string& path) {
    FIBITMAP* image = FreeImage_Allocate(level.width, level.height, 24);
    if (image == nullptr)
        return false;
    const unsigned char posts[8][3] = { { 255, 0, 255 }, { 128, 128, 128 }, { 0, 255, 255 }, { 0, 0, 255 },
        { 255, 0, 0 }, { 0, 255, 0 }, { 255, 255, 0 }, { 255, 255, 255 } };
    for (int row = 0; row < level.height; ++row) {
        // FreeImage's first scanline is the bottom of the picture.
        const double v = 1.0 - (row + 0.5) / level.height;
        BYTE* bits = FreeImage_GetScanLine(image, row);
        for (int x = 0; x < level.width; ++x) {
            const double u = (x + 0.5) / level.width;
            const double degrees = u * 360.0;
            int r, g, b;
            if (v < 0.5) {
                r = int(90 + 100 * v);
                g = int(140 + 160 * v);
                b = 230;
            } else {
                r = int(120 - 60 * (v - 0.5));
                g = int(100 - 40 * (v - 0.5));
                b = 60;
            }
            const double fromPost = std::remainder(degrees, 45.0);
            if (std::abs(fromPost) < 2.0 && v > 0.3 && v < 0.7) {
                const unsigned char* post = posts[int(std::lround(degrees / 45.0)) % 8];
                r = post[0];
                g = post[1];
                b = post[2];
            } else if (std::abs(std::remainder(degrees, 10.0)) < 0.08 || std::abs(v - 0.5) < 0.0015) {
                r = g = b = 20;
            }
            bits[x * 3 + FI_RGBA_RED] = BYTE(r);
            bits[x * 3 + FI_RGBA_GREEN] = BYTE(g);
            bits[x * 3 + FI_RGBA_BLUE] = BYTE(b);
        }
    }
    const bool saved = FreeImage_Save(FIF_PNG, image, path.c_str(), PNG_Z_BEST_SPEED);
    FreeImage_Unload(image);
    return saved;
}

void BuildScene(const VantaroEngine* engine) {
    engine->CreateMaterial(0, engine->TextureHandle(0));
    engine->DisableMaterialLighting(0, 1);
    engine->SetMaterialDepthWrite(0, 0);
    engine->SetMaterialFiltering(0, 3, 8);
    engine->SetMaterialShading(0, 36);
    engine->CreateEntity(0, engine->MeshHandle(0), engine->MaterialHandle(0), 0, 0, 0);
    engine->CreateCamera(0, 0, 0, 100, 100);
    engine->SetCameraFov(0, 95.0f);
    engine->SwitchCamera(0, 0);
    engine->CreateNode(0, 0, 0, 0);
    engine->AttachObjectToNode(0, engine->CameraHandle(0));
}

// Frames per second of one loop body followed by a buffer flip, over a few seconds.
template <typename Frame> double MeasureFps(QOpenGLContext& context, QWindow& window, Frame frame) {
    for (int i = 0; i < 5; ++i) {
        frame();
        context.swapBuffers(&window);
    }
    context.functions()->glFinish();
    const Clock::time_point start = Clock::now();
    int frames = 0;
    while (frames < kMaxFrames && Seconds(Clock::now() - start) < kSecondsPerLoop) {
        frame();
        context.swapBuffers(&window);
        ++frames;
    }
    context.functions()->glFinish();
    return frames / Seconds(Clock::now() - start);
}

bool SaveFrame(QOpenGLFunctions* gl, const std::string& path) {
    FIBITMAP* image = FreeImage_Allocate(kFrameWidth, kFrameHeight, 32);
    if (image == nullptr)
        return false;
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    // GL's rows also run from the bottom up, as FreeImage's do.
    gl->glReadPixels(0, 0, kFrameWidth, kFrameHeight, GL_BGRA, GL_UNSIGNED_BYTE, FreeImage_GetBits(image));
    FIBITMAP* opaque = FreeImage_ConvertTo24Bits(image);
    FreeImage_Unload(image);
    const bool saved = opaque != nullptr && FreeImage_Save(FIF_PNG, opaque, path.c_str(), 0);
    FreeImage_Unload(opaque);
    return saved;
}

// --- opening a photograph's panorama

struct StageTimes {
    double decode = 0;
    double storage = -1; // below 0 when the driver's storage is counted in upload and mipmaps
    double upload = 0;
    double mipmaps = 0;
    double total = 0;
};

struct OpenFigures {
    std::vector<StageTimes> runs;
    double peakMb = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The quickest load: on a machine shared with other work, the one least slowed by it.
double BestTotal(const OpenFigures& figures) {
    double best = 1e30;
    for (const StageTimes& run : figures.runs)
        best = std::min(best, run.total);
    return best;
}

double MedianOf(const OpenFigures& figures, double StageTimes::*stage) {
    std::vector<double> values;
    for (const StageTimes& run : figures.runs)
        values.push_back(run.*stage);
    return Median(values);
}

// Resident memory before a measured step, after the step's peak is reset.
long StartMemoryMeasure() {
    malloc_trim(0);
    const long before = StatusField("VmRSS");
    ResetPeakMemory();
    return before;
}

double PeakExtraMb(long before) {
    return (StatusField("VmHWM") - before) / 1024.0;
}

// The baseline: the engine's DecodeForUpload before its texture loading went to GL in bands.
FIBITMAP* BaselineDecode(const std::string& path, int maxSize) {
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(path.c_str());
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format))
        return nullptr;
    FIBITMAP* image = FreeImage_Load(format, path.c_str(), 0);
    if (image == nullptr)
        return nullptr;
    if (FreeImage_GetImageType(image) != FIT_BITMAP || FreeImage_GetBPP(image) != 32) {
        FIBITMAP* converted = FreeImage_ConvertTo24Bits(image);
        FreeImage_Unload(image);
        image = converted;
        if (image == nullptr)
            return nullptr;
    }
    const int width = int(FreeImage_GetWidth(image));
    const int height = int(FreeImage_GetHeight(image));
    if (width <= 0 || height <= 0) {
        FreeImage_Unload(image);
        return nullptr;
    }
    if (width > maxSize || height > maxSize) {
        const double scale = std::min(double(maxSize) / width, double(maxSize) / height);
        const int newWidth = std::clamp(int(std::lround(width * scale)), 1, maxSize);
        const int newHeight = std::clamp(int(std::lround(height * scale)), 1, maxSize);
        FIBITMAP* scaled = FreeImage_Rescale(image, newWidth, newHeight, FILTER_BOX);
        FreeImage_Unload(image);
        image = scaled;
    }
    return image;
}

// The baseline: the engine's LoadTexture as it was, timed by stage; the texture is deleted after.
bool BaselineLoad(QOpenGLContext& context, const std::string& path, StageTimes& times) {
    QOpenGLFunctions* gl = context.functions();
    const Clock::time_point start = Clock::now();
    GLint maxSize = 0;
    gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    FIBITMAP* image = BaselineDecode(path, std::max(maxSize, 64));
    if (image == nullptr)
        return false;
    times.decode = Seconds(Clock::now() - start);
    const bool alpha = FreeImage_GetBPP(image) == 32;
    GLuint name = 0;
    gl->glGetError();
    gl->glGenTextures(1, &name);
    gl->glBindTexture(GL_TEXTURE_2D, name);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const bool generateLater
        = context.format().majorVersion() >= 3 || context.hasExtension("GL_ARB_framebuffer_object");
    if (!generateLater)
        gl->glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const Clock::time_point uploading = Clock::now();
    gl->glTexImage2D(GL_TEXTURE_2D, 0, alpha ? GL_RGBA8 : GL_RGB8, GLsizei(FreeImage_GetWidth(image)),
        GLsizei(FreeImage_GetHeight(image)), 0, alpha ? GL_BGRA : GL_BGR, GL_UNSIGNED_BYTE, FreeImage_GetBits(image));
    FreeImage_Unload(image);
    gl->glFinish();
    times.upload = Seconds(Clock::now() - uploading);
    const Clock::time_point mipmapping = Clock::now();
    if (generateLater)
        gl->glGenerateMipmap(GL_TEXTURE_2D);
    gl->glFinish();
    times.mipmaps = Seconds(Clock::now() - mipmapping);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    const bool loaded = gl->glGetError() == GL_NO_ERROR;
    times.total = Seconds(Clock::now() - start);
    gl->glDeleteTextures(1, &name);
    return loaded;
}

// The engine's own loading, called directly for its stage times; the texture is deleted after.
bool EngineStages(QOpenGLFunctions* gl, const std::string& path, StageTimes& times) {
    const Clock::time_point start = Clock::now();
    GLuint name = 0;
    gl->glGenTextures(1, &name);
    gl->glBindTexture(GL_TEXTURE_2D, name);
    vantaro::TextureLoadTimes stages;
    const bool loaded = vantaro::FillTextureFromFile(path, &stages);
    gl->glFinish();
    times = { stages.decode, stages.storage, stages.upload, stages.mipmaps, Seconds(Clock::now() - start) };
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    gl->glDeleteTextures(1, &name);
    return loaded;
}

std::string FindPhoto(const std::string& folder, int argc, char** argv) {
    if (argc > 2)
        return argv[2];
    for (const std::string& candidate : { folder + "/" + kPhotoName, std::string(kPhotoFolder) + "/" + kPhotoName }) {
        if (std::filesystem::exists(candidate))
            return candidate;
    }
    return "";
}

// The photograph scaled to a level-5 panorama and saved as the welder saves, once per photograph: a
// note beside the files names the photograph they came from.
bool WritePhotoPanoramas(const std::string& photo, const std::string& pngPath, const std::string& jpegPath) {
    const std::string notePath = pngPath + ".source";
    std::string madeFrom;
    std::getline(std::ifstream(notePath), madeFrom);
    if (madeFrom == photo && std::filesystem::exists(pngPath) && std::filesystem::exists(jpegPath))
        return true;
    std::printf("scaling %s to %d x %d (once)\n", photo.c_str(), kPhotoLevel.width, kPhotoLevel.height);
    std::fflush(stdout);
    FIBITMAP* image = FreeImage_Load(FreeImage_GetFileType(photo.c_str(), 0), photo.c_str(), 0);
    if (image == nullptr)
        return false;
    FIBITMAP* opaque = FreeImage_ConvertTo24Bits(image);
    FreeImage_Unload(image);
    FIBITMAP* scaled
        = opaque ? FreeImage_Rescale(opaque, kPhotoLevel.width, kPhotoLevel.height, FILTER_BILINEAR) : nullptr;
    FreeImage_Unload(opaque);
    const bool saved = scaled != nullptr && FreeImage_Save(FIF_PNG, scaled, pngPath.c_str(), PNG_DEFAULT)
        && FreeImage_Save(FIF_JPEG, scaled, jpegPath.c_str(), JPEG_DEFAULT);
    FreeImage_Unload(scaled);
    if (saved)
        std::ofstream(notePath) << photo << "\n";
    return saved;
}

void PrintFigures(const char* format, const char* path, double fileMb, const OpenFigures& figures) {
    const double storage = MedianOf(figures, &StageTimes::storage);
    char storageText[16] = "-";
    if (storage >= 0)
        std::snprintf(storageText, sizeof storageText, "%.2f", storage);
    std::printf("%-6s %-9s %8.1f %9.2f %9s %9.2f %10.2f %8.2f %14.0f\n", format, path, fileMb,
        MedianOf(figures, &StageTimes::decode), storageText, MedianOf(figures, &StageTimes::upload),
        MedianOf(figures, &StageTimes::mipmaps), MedianOf(figures, &StageTimes::total), figures.peakMb);
}

// Opens the photograph's panorama as PNG and as JPEG by both paths; true when the goals are met.
bool CompareOpening(
    QOpenGLContext& context, const VantaroEngine* engine, const std::string& folder, const std::string& photo) {
    QOpenGLFunctions* gl = context.functions();
    const std::string names[2] = { "level5_photo.png", "level5_photo.jpg" };
    const char* formats[2] = { "PNG", "JPEG" };
    if (!WritePhotoPanoramas(photo, folder + "/" + names[0], folder + "/" + names[1])) {
        std::fprintf(stderr, "cannot make panoramas from %s\n", photo.c_str());
        return false;
    }
    std::printf(
        "\nopening a level-5 panorama (%d x %d) from %s\n", kPhotoLevel.width, kPhotoLevel.height, photo.c_str());
    std::printf("medians of %d loads in seconds; peak extra memory the largest\n", kOpenRuns);
    std::printf("%-6s %-9s %8s %9s %9s %9s %10s %8s %14s\n", "format", "path", "file MB", "decode", "storage", "upload",
        "mipmaps", "total", "peak extra MB");
    bool met = true;
    for (int f = 0; f < 2; ++f) {
        const std::string path = folder + "/" + names[f];
        OpenFigures baseline, engineStages, engineLoads;
        for (int run = 0; run < kOpenRuns; ++run) {
            engine->ReleaseScene();
            StageTimes times;
            long before = StartMemoryMeasure();
            if (!BaselineLoad(context, path, times)) {
                std::fprintf(stderr, "baseline cannot load %s\n", path.c_str());
                return false;
            }
            baseline.runs.push_back(times);
            baseline.peakMb = std::max(baseline.peakMb, PeakExtraMb(before));

            before = StartMemoryMeasure();
            const Clock::time_point start = Clock::now();
            const int loaded = engine->LoadTexture(0, names[f].c_str());
            gl->glFinish();
            times = {};
            times.total = Seconds(Clock::now() - start);
            engineLoads.runs.push_back(times);
            engineLoads.peakMb = std::max(engineLoads.peakMb, PeakExtraMb(before));
            engine->ReleaseScene();
            if (!loaded || !EngineStages(gl, path, times)) {
                std::fprintf(stderr, "the engine cannot load %s\n", path.c_str());
                return false;
            }
            engineStages.runs.push_back(times);
        }
        // The engine's stages come from loads of their own; its total and peak from LoadTexture.
        for (StageTimes& stages : engineStages.runs)
            stages.total = MedianOf(engineLoads, &StageTimes::total);
        engineStages.peakMb = engineLoads.peakMb;
        const double fileMb = double(std::filesystem::file_size(path)) / 1e6;
        PrintFigures(formats[f], "baseline", fileMb, baseline);
        PrintFigures(formats[f], "engine", fileMb, engineStages);
        const double ratio = MedianOf(engineLoads, &StageTimes::total) / MedianOf(baseline, &StageTimes::total);
        const bool fast = ratio <= kGoalRatio;
        const bool small = engineLoads.peakMb <= kGoalPeakMb;
        std::printf("%-6s engine/baseline time %.2f (goal at most %.2f: %s; best loads %.2f s / %.2f s = %.2f), peak "
                    "%.0f MB (goal at most %.0f MB: %s)\n",
            formats[f], ratio, kGoalRatio, fast ? "met" : "NOT met", BestTotal(engineLoads), BestTotal(baseline),
            BestTotal(engineLoads) / BestTotal(baseline), engineLoads.peakMb, kGoalPeakMb, small ? "met" : "NOT met");
        met = met && fast && small;
    }
    std::printf(
        "MB are MiB. The engine's stages overlap: decoding runs on a second thread beside upload and "
        "mipmaps;\nstorage is the driver clearing the texture's memory, which for the baseline is inside upload "
        "and mipmaps.\n");
    std::printf("goals %s\n", met ? "met" : "NOT met");
    return met;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "viewer_bench_data";
    std::filesystem::create_directories(folder);

    void* library = dlopen(ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    const auto entry
        = library ? reinterpret_cast<VantaroEngineEntry>(dlsym(library, VANTARO_ENGINE_ENTRY_POINT)) : nullptr;
    if (entry == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", ENGINE_LIBRARY);
        return 1;
    }
    const VantaroEngine* engine = entry();

    QSurfaceFormat format;
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    // Unthrottled, to measure what the renderer can do; the viewer itself flips with the display.
    format.setSwapInterval(0);
    QWindow window;
    window.setSurfaceType(QSurface::OpenGLSurface);
    window.setFormat(format);
    window.resize(kFrameWidth, kFrameHeight);
    window.show();
    QGuiApplication::processEvents();
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create() || !context.makeCurrent(&window)) {
        std::fprintf(stderr, "no OpenGL context\n");
        return 1;
    }
    QOpenGLFunctions* gl = context.functions();
    GLfloat maxAnisotropy = 1.0f;
    if (context.hasExtension("GL_EXT_texture_filter_anisotropic"))
        gl->glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maxAnisotropy);
    std::printf("renderer: %s, OpenGL %s, max anisotropy %.0f\n",
        reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER)),
        reinterpret_cast<const char*>(gl->glGetString(GL_VERSION)), double(maxAnisotropy));

    engine->Init();
    engine->AddResourceFolder(PANO_MESH_FOLDER, 0);
    engine->AddResourceFolder(folder.c_str(), 0);

    const std::string photo = FindPhoto(folder, argc, argv);
    if (photo.empty())
        std::printf("\nno photograph: put %s in %s (see the top of viewer_bench.cpp) or name one after the work "
                    "folder; opening a photograph's panorama is left out\n",
            kPhotoName, folder.c_str());
    else
        CompareOpening(context, engine, folder, photo);

    std::printf("\ntexture load (decode, upload, mipmaps) and resident memory\n");
    std::printf(
        "%-6s %-12s %10s %10s %14s %14s\n", "level", "size", "file MB", "load s", "RSS after MB", "peak extra MB");
    for (const Level& level : kLevels) {
        const std::string name = "level" + std::to_string(level.level) + "_welded.png";
        const std::string path = folder + "/" + name;
        if (!std::filesystem::exists(path) && !WritePanorama(level, path)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        engine->ReleaseScene();
        malloc_trim(0);
        const long before = StatusField("VmRSS");
        ResetPeakMemory();
        const Clock::time_point start = Clock::now();
        const int loaded = engine->LoadTexture(0, name.c_str());
        gl->glFinish();
        const double seconds = Seconds(Clock::now() - start);
        const long after = StatusField("VmRSS");
        const long peak = StatusField("VmHWM");
        std::printf("%-6d %5dx%-6d %10.1f %10.2f %14.0f %14.0f%s\n", level.level, level.width, level.height,
            double(std::filesystem::file_size(path)) / 1e6, seconds, after / 1024.0, (peak - before) / 1024.0,
            loaded ? "" : "  (not loaded)");
    }

    std::printf("\nframes per second at %d x %d (unthrottled flips)\n", kFrameWidth, kFrameHeight);
    const double bare = MeasureFps(context, window, [&] {
        gl->glViewport(0, 0, kFrameWidth, kFrameHeight);
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    });
    std::printf("%-34s %8.1f fps\n", "bare clear and flip", bare);
    struct Run {
        int level;
        int filterMode;
        const char* label;
    };
    // The viewer's filtering, and for comparison plain trilinear filtering without anisotropy.
    const Run runs[] = { { 2, 3, "engine, level 2, anisotropic 8x" }, { 5, 3, "engine, level 5, anisotropic 8x" },
        { 5, 2, "engine, level 5, trilinear only" } };
    for (const Run& run : runs) {
        engine->ReleaseScene();
        const std::string name = "level" + std::to_string(run.level) + "_welded.png";
        if (!engine->LoadMesh(0, "pano.mesh") || !engine->LoadTexture(0, name.c_str())) {
            std::fprintf(stderr, "cannot load the scene for level %d\n", run.level);
            return 1;
        }
        BuildScene(engine);
        engine->SetMaterialFiltering(0, run.filterMode, 8);
        const double viewer = MeasureFps(context, window, [&] {
            gl->glViewport(0, 0, kFrameWidth, kFrameHeight);
            engine->RotateNode(0, 0.0f, -0.5f, 0.0f, 1);
            engine->RenderWorld();
        });
        std::printf("%-34s %8.1f fps   ratio to bare %.3f\n", run.label, viewer, viewer / bare);
    }

    // One frame to look at: turned 30 degrees to the right of the image's middle.
    BuildScene(engine);
    engine->RotateNode(0, 0.0f, -30.0f, 0.0f, 1);
    gl->glViewport(0, 0, kFrameWidth, kFrameHeight);
    engine->RenderWorld();
    const std::string framePath = folder + "/viewer_bench_frame.png";
    std::printf("\nframe: %s%s\n", framePath.c_str(), SaveFrame(gl, framePath) ? "" : " (not saved)");
    context.swapBuffers(&window);

    engine->ReleaseScene();
    engine->Shutdown();
    context.doneCurrent();
    dlclose(library);
    return 0;
}
