#pragma once
// Tile grids, tile file names and tile request URLs: plain values only.

#include <string>

namespace vantaro {

struct TileGrid {
    int columns = 0;
    int rows = 0;
    int expectedTiles = 0;
};

// The grid of a panorama at a zoom level 0..5.
TileGrid TileGridForLevel(int zoomLevel);

} // namespace vantaro
