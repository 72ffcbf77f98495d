#pragma once
// The panorama preview: the start-up check of its facilities and the preview command.

#include <string>

namespace vantaro {

enum class PreviewTrigger { ListDoubleClick, ListOther, Button };

// True once InitPreview has succeeded at start-up; never set back.
extern bool PreviewAvailable;

// Starts the engine, render surface, mouse and keyboard in turn; true when all four started.
bool InitPreview();
void PreviewSelectedPanorama(PreviewTrigger trigger);
// 1 when the candidate base + "." + extension was found and PreviewWindow with its surface opened
// (whether or not the scene loaded), after the viewing ended; 0 when nothing was shown.
int OpenPreview(const std::string& base, const std::string& extension);
// Shutdown, in two steps around the windows: the surface, keyboard and mouse first ...
void ShutDownPreviewSurface();
// ... and the engine's library last.
void UnloadPreviewEngine();

} // namespace vantaro
