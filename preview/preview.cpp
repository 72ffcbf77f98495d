#include "preview.h"

namespace vantaro {

bool PreviewAvailable = false;

bool InitPreview() { return true; }

void PreviewSelectedPanorama(PreviewTrigger) { }

void ShutDownPreviewSurface() { }

void UnloadPreviewEngine() { }

} // namespace vantaro
