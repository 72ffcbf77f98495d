// Viewer benchmark: texture load time and resident memory for welded images of levels 2 to 5, and
// frames per second at 1920 x 1080 through the engine against a bare clear-and-flip loop.
//   xvfb-run -a -s "-screen 0 1920x1080x24" ./viewer_bench [work folder]
// The work folder (default: viewer_bench_data in the current folder) receives the generated images and
// viewer_bench_frame.png, one rendered frame.
#include "engine_api.h"

#include <FreeImage.h>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>
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
