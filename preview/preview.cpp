#include "preview.h"

#include "engine_library.h"
#include "main_window.h"
#include "paths.h"
#include "platform.h"
#include "preview_core.h"
#include "preview_input.h"
#include "preview_window.h"

#include <QWindow>

namespace vantaro {

bool PreviewAvailable = false;

namespace {
constexpr int kStartFov = 95;
constexpr float kTurnPerCount = -0.2f;
constexpr int kEscapeScanCode = 1;
constexpr int kPlainFolder = 0;
constexpr int kRelative = 1;
constexpr int kFilteringMode = 3;
constexpr int kFilteringLevel = 8;
constexpr int kShadingCode = 36;
constexpr const char* kMeshFile = "pano.mesh";
// The scene's one object of each kind.
constexpr int kObject = 0;

EngineLibrary engineLibrary;

bool StartEngine() {
    if (!engineLibrary.engine)
        engineLibrary = LoadEngineLibrary(FolderPart(ExecutablePath()) + VANTARO_ENGINE_LIBRARY_NAME);
    return engineLibrary.engine != nullptr;
}

// The program's own folder comes last: an installed pano.mesh lies there, and the program is
// seldom started from it.
void RegisterResourceFolders(const VantaroEngine& engine, const std::string& file) {
    engine.AddResourceFolder("./", kPlainFolder);
    engine.AddResourceFolder(FolderPart(file).c_str(), kPlainFolder);
    engine.AddResourceFolder(FolderPart(ExecutablePath()).c_str(), kPlainFolder);
}

bool LoadMeshAndTexture(const VantaroEngine& engine, const std::string& file) {
    return engine.LoadMesh(kObject, kMeshFile) && engine.LoadTexture(kObject, FilePart(file).c_str());
}

// Returns the field of view the camera starts with.
int BuildScene(const VantaroEngine& engine) {
    engine.CreateMaterial(kObject, engine.TextureHandle(kObject));
    engine.DisableMaterialLighting(kObject, 1);
    engine.SetMaterialDepthWrite(kObject, 0);
    engine.SetMaterialFiltering(kObject, kFilteringMode, kFilteringLevel);
    engine.SetMaterialShading(kObject, kShadingCode);
    const int fov = kStartFov;
    engine.CreateEntity(kObject, engine.MeshHandle(kObject), engine.MaterialHandle(kObject), 0, 0, 0);
    engine.CreateCamera(kObject, 0, 0, 100, 100);
    engine.SetCameraFov(kObject, float(fov));
    engine.SwitchCamera(kObject, 0);
    engine.CreateNode(kObject, 0, 0, 0);
    engine.AttachObjectToNode(kObject, engine.CameraHandle(kObject));
    return fov;
}

void RunFrameLoop(const VantaroEngine& engine, QWindow* window, int fov) {
    for (;;) {
        ExamineMouse(window);
        ExamineKeyboard(window);
        // Turning every frame, by the movement since the last one, keeps the turn rate free of the frame rate.
        const float yaw = float(MouseDeltaX()) * kTurnPerCount;
        engine.RotateNode(kObject, 0.0f, yaw, 0.0f, kRelative);
        const int notches = MouseWheel();
        if (notches != 0) {
            fov = NextFieldOfView(fov, notches);
            engine.SetCameraFov(kObject, float(fov));
        }
        FitViewportToSurface();
        engine.RenderWorld();
        FlipBuffers();
        // A close request from any window, MainWindow's too, ends the viewing and nothing more.
        if (PollEvent().kind == EventKind::CloseRequest)
            return;
        if (KeyPushed(kEscapeScanCode))
            return;
    }
}
} // namespace

bool InitPreview() {
    return StartEngine() && StartRenderSurfaceFacility() && StartMouse() && StartKeyboard();
}

void PreviewSelectedPanorama(PreviewTrigger trigger) {
    const int selected = FirstSelectedItem();
    if (trigger == PreviewTrigger::ListOther)
        return;
    if (selected < 0 || !PreviewAvailable) {
        if (trigger == PreviewTrigger::Button)
            ShowMessage("Error", "Select panorama ID from the list.");
        return;
    }
    const std::string base = OutputFolderText() + ListItemText(selected) + "_welded";
    if (OpenPreview(base, "PNG") || OpenPreview(base, "JPG"))
        return;
    ShowMessage("Error",
        "Could not find panorama file! Please make sure a valid pano is downloaded with the 'Weld Tiles' option "
        "enabled.");
}

int OpenPreview(const std::string& base, const std::string& extension) {
    if (base.empty() || extension.empty() || !engineLibrary.engine)
        return 0;
    // The welded files end in lower case; the extension is matched without regard to it.
    const std::string file = ResolveCandidateFile(base + "." + extension);
    if (FileSize(file) <= 0)
        return 0;

    QWindow* window = OpenPreviewWindow();
    if (!window)
        return 0;
    if (!OpenRenderSurface(window)) {
        ClosePreviewWindow(window);
        return 0;
    }

    const VantaroEngine& engine = *engineLibrary.engine;
    RegisterResourceFolders(engine, file);
    if (LoadMeshAndTexture(engine, file))
        RunFrameLoop(engine, window, BuildScene(engine));

    // The scene's GL objects belong to this surface's context, which must still be current.
    engine.ReleaseScene();
    CloseRenderSurface();
    ClosePreviewWindow(window);
    return 1;
}

void ShutDownPreviewSurface() {
    if (RenderSurfaceOpen() && engineLibrary.engine)
        engineLibrary.engine->ReleaseScene();
    CloseRenderSurface();
    StopKeyboard();
    StopMouse();
}

void UnloadPreviewEngine() {
    UnloadEngineLibrary(engineLibrary);
}

} // namespace vantaro
