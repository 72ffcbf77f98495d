#pragma once
// The panorama preview: the start-up check of its facilities and the preview command.

namespace vantaro {

enum class PreviewTrigger { ListDoubleClick, ListOther, Button };

// True once InitPreview has succeeded at start-up; never set back.
extern bool PreviewAvailable;

// Starts the engine, render surface, mouse and keyboard in turn; true when all four started.
bool InitPreview();
void PreviewSelectedPanorama(PreviewTrigger trigger);
// Shutdown, in two steps around the windows: the surface, keyboard and mouse first ...
void ShutDownPreviewSurface();
// ... and the engine's library last.
void UnloadPreviewEngine();

} // namespace vantaro
