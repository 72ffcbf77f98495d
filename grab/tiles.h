#pragma once
// Tile grids, tile file names and tile request URLs: plain values only.

#include <string>
#include <string_view>

namespace vantaro {

struct TileGrid {
    int columns = 0;
    int rows = 0;
    int expectedTiles = 0;
};

// The grid of a panorama at a zoom level 0..5.
TileGrid TileGridForLevel(int zoomLevel);

// The tile file: folder text + id + "_tile" + number + ".jpg", joined as they stand.
std::string TileFileName(std::string_view outputFolder, std::string_view panoramaId, int tileNumber);

// The text with every byte outside the RFC 3986 unreserved set written as %XX.
std::string PercentEncode(std::string_view text);

// The mirror host pattern of this build (or the one a test set); "{N}" marks the mirror number.
std::string TileHostPattern();
// Replaces the build's pattern, for tests only; "" restores the build's own.
void SetTileHostPatternForTesting(const std::string& pattern);
// The pattern with every "{N}" replaced by the mirror number.
std::string MirrorHost(std::string_view pattern, int mirror);

// The full https request URL of tile (x, y) of a panorama at a zoom level from a mirror host.
std::string TileRequestUrl(std::string_view host, std::string_view panoramaId, int x, int y, int zoomLevel);

// The tallies a finished run reports.
struct GrabTally {
    int requestedTiles = 0;
    int failedTiles = 0;
    int savedPanoramas = 0; // welds that reached a save, whether it worked or not
    int failedSaves = 0;
    int weldedArrivals = 0; // tiles that arrived while their panorama had a canvas
    int unweldedTiles = 0; // of those, the ones that could not be put on the canvas
};

// The "Done" box's text: the fixed sentence, then one line per kind of failure.
std::string DoneText(const GrabTally& tally);

} // namespace vantaro
