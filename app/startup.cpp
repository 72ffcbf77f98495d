#include "startup.h"

#include "download.h"
#include "grab_run.h"
#include "list_commands.h"
#include "main_window.h"
#include "paths.h"
#include "platform.h"
#include "preview.h"

#include <QListWidget>
#include <QPushButton>
#include <curl/curl.h>

#ifndef VANTARO_WEB_ADDRESS
#define VANTARO_WEB_ADDRESS "https://vantaro.example.org/"
#endif

namespace vantaro {

namespace {
bool networkStarted = false;

// The first matching row runs its command; events of other controls do nothing.
void DispatchControlEvent(const WindowEvent& event) {
    const MainWindowHandles& ui = Ui();
    if (event.control == ui.AddPanoButton)
        AddPanoramas();
    else if (event.control == ui.DeletePanoButton)
        DeleteSelectedPanoramas();
    else if (event.control == ui.PanoramaList)
        PreviewSelectedPanorama(
            event.type == ControlEventType::DoubleClick ? PreviewTrigger::ListDoubleClick : PreviewTrigger::ListOther);
    else if (event.control == ui.PreviewButton)
        PreviewSelectedPanorama(PreviewTrigger::Button);
    else if (event.control == ui.GrabButton)
        RunGrab();
    else if (event.control == ui.BrowseButton)
        BrowseOutputFolder();
}
} // namespace

bool StartNetwork() {
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

bool StartUp(NetworkStartup startNetwork) {
    networkStarted = startNetwork();
    if (!networkStarted) {
        ShowMessage("Error", "Internet connection could not be established.");
        return false;
    }

    OpenMainWindow(0, 0, 440, 450);
    const MainWindowHandles& ui = Ui();
    SetWindowTitle("Vantaro");
    SetSliderPosition(2);
    SetChecked(ui.WeldTilesCheck, 1);
    SetChecked(ui.CropPanoramaCheck, 1);
    SetSelected(ui.OutputPngOption, 1);
    const std::string program = ExecutablePath();
    SetOutputFolderText(DefaultOutputFolder(program, FolderWritable(FolderPart(program)), PicturesFolder()));
    SetAboutText("Vantaro v1.6 by Harwick :: " VANTARO_WEB_ADDRESS);
    ShowMainWindow();

    // The preview's facilities are checked over the visible window, so its box has an owner.
    if (InitPreview()) {
        PreviewAvailable = true;
    } else {
        DisablePreviewButton();
        ShowMessage("Error", "Could not initialise 3D engine! Preview functionality was disabled.");
    }
    return true;
}

void RunEventLoop() {
    for (;;) {
        const WindowEvent event = WaitForEvent();
        if (event.kind == EventKind::Control)
            DispatchControlEvent(event);
        else if (event.kind == EventKind::CloseRequest)
            return;
    }
}

void ShutDown() {
    CloseDownloads();
    if (networkStarted)
        curl_global_cleanup();
    networkStarted = false;
    ShutDownPreviewSurface();
    CloseMainWindow();
    DiscardWindowEvents();
    UnloadPreviewEngine();
}

int RunProgram(NetworkStartup startNetwork) {
    if (StartUp(startNetwork))
        RunEventLoop();
    ShutDown();
    return 0;
}

} // namespace vantaro
