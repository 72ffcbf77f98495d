#pragma once
// The image work of welding on plain values: canvas, tile paste, crop sizes and the welded file.

#include "tiles.h"

#include <FreeImage.h>
#include <string>
#include <string_view>

namespace vantaro {

inline constexpr int kTileSize = 512;
// A real tile is 512 x 512; a header beyond this is refused before any pixel is decoded.
inline constexpr unsigned kMaxTileSide = 4096;

enum class WeldResult { NotSaved, Saved, SaveFailed };

struct ImageSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const ImageSize&, const ImageSize&) = default;
};

// The canvas of a grid: columns x 512 by rows x 512.
ImageSize CanvasSize(const TileGrid& grid);
// The top-left rectangle kept when cropping at a zoom level 0..5; at 5 the whole canvas.
ImageSize CropSize(int zoomLevel);

// The welded file: folder text + id + "_welded.png" or "_welded.jpg", joined as they stand.
std::string WeldedFileName(std::string_view outputFolder, std::string_view panoramaId, bool png);

// A black 24-bit canvas for the grid; null when it cannot be made.
FIBITMAP* AllocateCanvas(const TileGrid& grid);
// A black canvas for the grid: `reusable` cleared when it has the grid's size (its pages are
// already the process's, so this is far cheaper than a new canvas), otherwise a new one, with
// `reusable` released. Null when none can be made.
FIBITMAP* BlackCanvas(FIBITMAP* reusable, const TileGrid& grid);

// The tile file loaded as a 24-bit JPEG, scaled to 512 x 512 when smaller in either direction;
// null when it cannot be loaded or its header declares more than kMaxTileSide in either direction.
FIBITMAP* LoadTile(const std::string& tileFile);

enum class PasteResult {
    NotLoaded, // unreadable, not a JPEG, or declaring more than kMaxTileSide
    NotPasted, // loaded, but too large for what is left of the canvas from its cell
    Pasted,
};

// Loads the tile file as JPEG and pastes it into cell (x, y), a tile smaller than the cell scaled
// to fill it. Unless Pasted, the cell is left as it was.
PasteResult PasteTileFile(FIBITMAP* canvas, const std::string& tileFile, int x, int y);

// Writes the image as PNG or JPEG to a temporary file beside path and renames it over path; false on
// any failure, which leaves path as it was and no temporary file behind. A 24-bit PNG goes through
// WritePng, anything else through FreeImage with default flags.
bool SaveImageReplacing(FIBITMAP* image, FREE_IMAGE_FORMAT format, const std::string& path);

// What the end of a panorama reads from the window.
struct FinishChoices {
    bool weldTiles = true;
    bool crop = true;
    bool png = true;
};

// Saves the canvas (cropped for the zoom level when asked) under its welded file name unless
// weldTiles is off; the canvas stays the caller's. NotSaved when no save was reached.
WeldResult FinishCanvas(FIBITMAP* canvas, const FinishChoices& choices, const std::string& outputFolder,
    const std::string& panoramaId, int zoomLevel);

} // namespace vantaro
