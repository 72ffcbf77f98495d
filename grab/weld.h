#pragma once
// Welding the tiles of one panorama into a canvas, then cropping and saving it.

#include <FreeImage.h>
#include <string>

#include "tiles.h"

namespace vantaro {

enum class WeldResult { NotSaved, Saved, SaveFailed };

// A black canvas for the grid while Weld Tiles is on; null otherwise or when it cannot be made.
FIBITMAP* BeginWeld(const TileGrid& grid);
// Pastes the tile file into its cell (x, y) of the canvas.
void WeldTile(FIBITMAP* canvas, const std::string& tileFile, int x, int y);
// Saves the canvas (cropped for the run's level when asked) and always releases it.
// NotSaved when no save was reached (no canvas, or Weld Tiles off).
WeldResult FinishWeld(FIBITMAP* canvas, const std::string& outputFolder, const std::string& panoramaId, int zoomLevel);

} // namespace vantaro
