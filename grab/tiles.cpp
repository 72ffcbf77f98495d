#include "tiles.h"

#include <algorithm>

namespace vantaro {

TileGrid TileGridForLevel(int zoomLevel)
{
    static constexpr TileGrid kGrids[] = { { 1, 1, 1 }, { 2, 1, 2 }, { 4, 2, 8 }, { 7, 3, 21 }, { 13, 7, 91 },
        { 26, 13, 338 } };
    return kGrids[std::clamp(zoomLevel, 0, 5)];
}

} // namespace vantaro
