#include "weld.h"

namespace vantaro {

FIBITMAP* BeginWeld(const TileGrid&) { return nullptr; }

void WeldTile(FIBITMAP*, const std::string&, int, int) { }

WeldResult FinishWeld(FIBITMAP* canvas, const std::string&, const std::string&, int)
{
    if (canvas)
        FreeImage_Unload(canvas);
    return WeldResult::NotSaved;
}

} // namespace vantaro
