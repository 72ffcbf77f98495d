#include "grab_run.h"

#include "download.h"
#include "main_window.h"
#include "platform.h"
#include "tiles.h"
#include "weld.h"

#include <random>

namespace vantaro {

namespace {
int DrawMirror() {
    static std::mt19937 generator { std::random_device {}() };
    return std::uniform_int_distribution<int>(1, 3)(generator);
}

std::string WithoutTrailingSeparator(std::string folder) {
    if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
    return folder;
}
} // namespace

void RunGrab() {
    if (ListItemCount() == 0 || OutputFolderText().empty()) {
        ShowMessage("Error", "At least one panorama and an output path must be specified.");
        return;
    }
    // Every tile would fail into a folder that is not there, and the run would blame the downloads.
    const std::string outputFolder = WithoutTrailingSeparator(OutputFolderText());
    CreateFolderWithParents(outputFolder);
    if (!FolderWritable(outputFolder)) {
        ShowMessage("Error", "The output folder could not be created or written:\r\n\r\n" + OutputFolderText());
        return;
    }

    // Read once: a level changed mid-run would put tiles of another grid into this grid's cells.
    const int zoomLevel = SliderPosition();
    const TileGrid grid = TileGridForLevel(zoomLevel);
    const std::string hostPattern = TileHostPattern();
    SetProgressMaximum(grid.expectedTiles * ListItemCount());
    SetProgressPosition(0);
    SelectOnlyItem(-1);

    GrabTally tally;
    // One canvas serves the whole run, cleared for each panorama: a new one costs a page fault for
    // every 4 kB of it.
    FIBITMAP* canvas = nullptr;
    for (int i = 0; i <= ListItemCount() - 1; ++i) {
        const std::string panoramaId = ListItemText(i);
        canvas = BeginWeld(grid, canvas);
        int tileNumber = 0;
        int arrived = 0;
        for (int y = 0; y < grid.rows; ++y) {
            for (int x = 0; x < grid.columns; ++x) {
                ++tileNumber;
                const std::string tileFile = TileFileName(OutputFolderText(), panoramaId, tileNumber);
                const std::string url
                    = TileRequestUrl(MirrorHost(hostPattern, DrawMirror()), panoramaId, x, y, zoomLevel);
                ++tally.requestedTiles;
                if (DownloadToFile(url, tileFile) != 0) {
                    if (canvas) {
                        ++tally.weldedArrivals;
                        if (!WeldTile(canvas, tileFile, x, y))
                            ++tally.unweldedTiles;
                    }
                    ++arrived;
                } else {
                    ++tally.failedTiles;
                }
                SetProgressPosition(ProgressPosition() + 1);
                // Lets the window repaint; a button press or close request taken here is dropped.
                PollEvent();
            }
        }
        if (arrived == grid.expectedTiles)
            SetItemSelected(i, 1);
        const WeldResult weld = FinishWeld(canvas, OutputFolderText(), panoramaId, zoomLevel);
        if (weld != WeldResult::NotSaved)
            ++tally.savedPanoramas;
        if (weld == WeldResult::SaveFailed)
            ++tally.failedSaves;
    }
    EndWeld(canvas);
    SelectOnlyItem(ListItemCount() - 1);
    ShowMessage("Done", DoneText(tally));
}

} // namespace vantaro
