#pragma once
// Welding the tiles of one panorama into a canvas, then cropping and saving it, steered by the
// window's Weld Tiles, Crop Panorama and output controls.

#include "tiles.h"
#include "weld_image.h"

#include <FreeImage.h>
#include <string>

namespace vantaro {

// A black canvas for the grid while Weld Tiles is on, the run's canvas from the panorama before
// cleared where it fits; null otherwise (the run's canvas released) or when it cannot be made.
FIBITMAP* BeginWeld(const TileGrid& grid, FIBITMAP* runCanvas);
// Pastes the tile file into its cell (x, y) of the canvas; the file is deleted once loaded while
// Weld Tiles is on. True when the tile is on the canvas.
bool WeldTile(FIBITMAP* canvas, const std::string& tileFile, int x, int y);
// Saves the canvas (cropped for the run's level when asked); the run keeps it for its next panorama.
// NotSaved when no save was reached (no canvas, or Weld Tiles off).
WeldResult FinishWeld(FIBITMAP* canvas, const std::string& outputFolder, const std::string& panoramaId, int zoomLevel);
// Releases the run's canvas at the run's end.
void EndWeld(FIBITMAP* runCanvas);

} // namespace vantaro
