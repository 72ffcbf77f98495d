#include "weld_fixture.h"

#include "weld_image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vantaro::test {

unsigned CellColour(int x, int y) {
    const unsigned red = 30 + 8 * unsigned(x);
    const unsigned green = 30 + 16 * unsigned(y);
    const unsigned blue = 40 + 36 * unsigned((x + 2 * y) % 5);
    return red << 16 | green << 8 | blue;
}

bool WriteSolidJpeg(const std::string& path, int width, int height, unsigned colour, bool grey) {
    FIBITMAP* image = FreeImage_Allocate(width, height, grey ? 8 : 24);
    if (!image)
        return false;
    if (grey) {
        // An 8-bit image needs a grey ramp to be written as greyscale.
        RGBQUAD* palette = FreeImage_GetPalette(image);
        for (unsigned i = 0; i < 256; ++i)
            palette[i] = RGBQUAD { BYTE(i), BYTE(i), BYTE(i), 0 };
        for (int row = 0; row < height; ++row)
            std::memset(FreeImage_GetScanLine(image, row), int(colour & 0xFF), std::size_t(width));
    } else {
        RGBQUAD fill { BYTE(colour & 0xFF), BYTE(colour >> 8 & 0xFF), BYTE(colour >> 16 & 0xFF), 0 };
        FreeImage_FillBackground(image, &fill);
    }
    const bool saved = FreeImage_Save(FIF_JPEG, image, path.c_str(), JPEG_QUALITYSUPERB);
    FreeImage_Unload(image);
    return saved;
}

unsigned MeanColour(FIBITMAP* image, int left, int top, int width, int height) {
    const int imageHeight = int(FreeImage_GetHeight(image));
    double sums[3] = { 0, 0, 0 };
    for (int row = top; row < top + height; ++row) {
        // FreeImage keeps the bottom row first.
        const BYTE* line = FreeImage_GetScanLine(image, imageHeight - 1 - row);
        for (int column = left; column < left + width; ++column) {
            sums[0] += line[column * 3 + FI_RGBA_RED];
            sums[1] += line[column * 3 + FI_RGBA_GREEN];
            sums[2] += line[column * 3 + FI_RGBA_BLUE];
        }
    }
    const double count = double(width) * height;
    unsigned colour = 0;
    for (const double sum : sums)
        colour = colour << 8 | unsigned(sum / count + 0.5);
    return colour;
}

bool ColoursNear(unsigned a, unsigned b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance)
            return false;
    }
    return true;
}

std::string CheckCells(FIBITMAP* image, const TileGrid& grid, const std::function<unsigned(int, int)>& expected) {
    // Stay clear of the cell edges, where JPEG blends neighbouring cells.
    constexpr int kInset = 16;
    const int width = int(FreeImage_GetWidth(image));
    const int height = int(FreeImage_GetHeight(image));
    for (int y = 0; y < grid.rows; ++y) {
        for (int x = 0; x < grid.columns; ++x) {
            const int left = x * kTileSize + kInset;
            const int top = y * kTileSize + kInset;
            const int right = std::min((x + 1) * kTileSize, width) - kInset;
            const int bottom = std::min((y + 1) * kTileSize, height) - kInset;
            if (right <= left || bottom <= top)
                continue;
            const unsigned mean = MeanColour(image, left, top, right - left, bottom - top);
            if (!ColoursNear(mean, expected(x, y))) {
                char text[96];
                std::snprintf(text, sizeof text, "cell (%d, %d) has %06X, expected %06X", x, y, mean, expected(x, y));
                return text;
            }
        }
    }
    return "";
}

} // namespace vantaro::test
