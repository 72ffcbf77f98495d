#include "weld.h"

#include "main_window.h"
#include "platform.h"

namespace vantaro {

FIBITMAP* BeginWeld(const TileGrid& grid, FIBITMAP* runCanvas) {
    if (!IsChecked(Ui().WeldTilesCheck)) {
        EndWeld(runCanvas);
        return nullptr;
    }
    return BlackCanvas(runCanvas, grid);
}

bool WeldTile(FIBITMAP* canvas, const std::string& tileFile, int x, int y) {
    const PasteResult result = PasteTileFile(canvas, tileFile, x, y);
    // Weld Tiles is read after the paste: switching it off mid-panorama keeps the later tile files.
    if (result != PasteResult::NotLoaded && IsChecked(Ui().WeldTilesCheck))
        DeleteFile(tileFile);
    return result == PasteResult::Pasted;
}

WeldResult FinishWeld(FIBITMAP* canvas, const std::string& outputFolder, const std::string& panoramaId, int zoomLevel) {
    FinishChoices choices;
    choices.weldTiles = IsChecked(Ui().WeldTilesCheck);
    choices.crop = IsChecked(Ui().CropPanoramaCheck);
    choices.png = IsSelected(Ui().OutputPngOption);
    return FinishCanvas(canvas, choices, outputFolder, panoramaId, zoomLevel);
}

void EndWeld(FIBITMAP* runCanvas) {
    if (runCanvas)
        FreeImage_Unload(runCanvas);
}

} // namespace vantaro
