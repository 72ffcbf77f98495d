#include "glyphs.h"
#include "scene.h"

#include <FreeImage.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vantaro::sample {
namespace {

constexpr std::string_view kId = "AbCdEfGhIjKlMnOpQrSt-_";
constexpr unsigned kNoColour = 0x1000000;

using Tile = std::vector<unsigned char>;

Tile Draw(std::string_view id, int zoom, int x, int y) {
    Tile tile(std::size_t(kTileSize) * kTileSize * 3);
    DrawTile(id, zoom, x, y, tile.data());
    return tile;
}

struct Colour {
    int r = 0;
    int g = 0;
    int b = 0;
};

Colour FromHex(unsigned colour) {
    return { int(colour >> 16), int((colour >> 8) & 0xFF), int(colour & 0xFF) };
}

Colour PixelOf(const Tile& tile, int column, int row) {
    const unsigned char* pixel = tile.data() + (std::size_t(row) * kTileSize + column) * 3;
    return { pixel[0], pixel[1], pixel[2] };
}

int Distance(Colour a, Colour b) {
    return std::max({ std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b) });
}

std::string Text(Colour c) {
    char text[40];
    std::snprintf(text, sizeof text, "(%d, %d, %d)", c.r, c.g, c.b);
    return text;
}

std::string TileName(int zoom, int x, int y) {
    char text[64];
    std::snprintf(text, sizeof text, "level %d tile %d,%d", zoom, x, y);
    return text;
}

// The tile and pixel that hold a scene point at a level.
struct Spot {
    int x = 0;
    int y = 0;
    int column = 0;
    int row = 0;
};

Spot SpotOf(int zoom, double heading, double elevation) {
    const double wrapped = heading - 360.0 * std::floor((heading + 180.0) / 360.0);
    const int canvasX = int((wrapped + 180.0) / 360.0 * PanoramaWidth(zoom));
    const int canvasY = int((90.0 - elevation) / 180.0 * PanoramaHeight(zoom));
    return { canvasX / kTileSize, canvasY / kTileSize, canvasX % kTileSize, canvasY % kTileSize };
}

Colour SceneColour(std::string_view id, int zoom, double heading, double elevation) {
    const Spot spot = SpotOf(zoom, heading, elevation);
    return PixelOf(Draw(id, zoom, spot.x, spot.y), spot.column, spot.row);
}

TEST(SceneTest, APointOfTheSceneHasOneColourAtEveryLevel) {
    struct Case {
        const char* what;
        double heading;
        double elevation;
        unsigned colour; // kNoColour where only agreement between levels is checked
    };
    const Case cases[] = {
        { "sky between meridians and rings", 37.5, 45.0, kNoColour },
        { "sky just above the horizon", -82.5, 5.0, kNoColour },
        { "sky near the zenith", 7.5, 80.0, kNoColour },
        { "ground just below the horizon", 127.5, -5.0, kNoColour },
        { "ground between rings", -157.5, -45.0, kNoColour },
        { "ground near the nadir", 52.5, -80.0, kNoColour },
        // Level 3's grid ends on this row, inside the panorama.
        { "ground on the level-3 grid's last row", 22.5, -76.1, kNoColour },
        { "north pole", 0.0, 10.0, 0xE02020 },
        { "east pole, right of the centre", 90.0, 10.0, 0xF0C000 },
        { "south pole at the left edge", 180.0, 10.0, 0x2040E0 },
        { "south pole at the right edge", 179.9, 10.0, 0x2040E0 },
        { "west pole, left of the centre", 270.0, 10.0, 0x20A040 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Colour finest = SceneColour(kId, kMaxZoom, c.heading, c.elevation);
        if (c.colour != kNoColour) {
            EXPECT_EQ(Distance(finest, FromHex(c.colour)), 0) << Text(finest);
        }
        for (int zoom = 0; zoom < kMaxZoom; ++zoom) {
            const Colour colour = SceneColour(kId, zoom, c.heading, c.elevation);
            EXPECT_LE(Distance(colour, finest), 3)
                << "level " << zoom << ": " << Text(colour) << " against " << Text(finest);
        }
    }
}

TEST(SceneTest, PixelsPastThePanoramaAreBlackAndNoneBeforeIt) {
    struct Case {
        int zoom;
        int x;
        int y;
        int insideColumns; // the tile's columns and rows that still lie on the panorama
        int insideRows;
    };
    const Case cases[] = {
        { 0, 0, 0, 416, 208 },
        { 1, 1, 0, 320, 416 },
        { 2, 3, 1, 128, 320 },
        { 3, 6, 0, 256, 512 },
        { 3, 6, 2, 256, 512 },
        // Past level 3's grid the panorama still has 128 rows.
        { 3, 0, 3, 512, 128 },
        { 4, 12, 6, 512, 256 },
        { 5, 25, 12, 512, 512 },
        { 0, 1, 0, 0, 0 },
        { 2, 4, 0, 0, 0 },
        { 3, 0, 4, 0, 0 },
        { 5, 26, 13, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TileName(c.zoom, c.x, c.y));
        const Tile tile = Draw(kId, c.zoom, c.x, c.y);
        int wrong = 0;
        for (int row = 0; row < kTileSize; ++row) {
            for (int column = 0; column < kTileSize; ++column) {
                const Colour colour = PixelOf(tile, column, row);
                const bool black = colour.r == 0 && colour.g == 0 && colour.b == 0;
                if (black == (column < c.insideColumns && row < c.insideRows) && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << column << "," << row << " is " << Text(colour);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(SceneTest, IdsAreToldApartByTheirTints) {
    struct Case {
        const char* what;
        double elevation;
        int leastDistance;
    };
    // The ground is kept duller than the sky, so its tints lie closer together.
    const Case cases[] = { { "sky", 45.0, 40 }, { "ground", -45.0, 24 } };
    for (const Case& c : cases) {
        const Colour one = SceneColour(kId, 2, 37.5, c.elevation);
        const Colour other = SceneColour("sample_42", 2, 37.5, c.elevation);
        EXPECT_GE(Distance(one, other), c.leastDistance) << c.what << ": " << Text(one) << " and " << Text(other);
    }
}

struct Decoded {
    unsigned width = 0;
    unsigned height = 0;
    Tile rgb;
};

Decoded DecodeJpeg(std::vector<unsigned char>& jpeg) {
    Decoded decoded;
    FIMEMORY* memory = FreeImage_OpenMemory(jpeg.data(), DWORD(jpeg.size()));
    FIBITMAP* bitmap = FreeImage_LoadFromMemory(FIF_JPEG, memory);
    if (bitmap && FreeImage_GetBPP(bitmap) == 24) {
        decoded.width = FreeImage_GetWidth(bitmap);
        decoded.height = FreeImage_GetHeight(bitmap);
        if (decoded.width == unsigned(kTileSize) && decoded.height == unsigned(kTileSize)) {
            for (int row = 0; row < kTileSize; ++row) {
                const BYTE* line = FreeImage_GetScanLine(bitmap, kTileSize - 1 - row);
                for (int column = 0; column < kTileSize; ++column, line += 3)
                    decoded.rgb.insert(
                        decoded.rgb.end(), { line[FI_RGBA_RED], line[FI_RGBA_GREEN], line[FI_RGBA_BLUE] });
            }
        }
    }
    if (bitmap)
        FreeImage_Unload(bitmap);
    FreeImage_CloseMemory(memory);
    return decoded;
}

TEST(SceneTest, JpegTileDecodesCloseToTheDrawnPixels) {
    struct Case {
        int zoom;
        int x;
        int y;
    };
    // The east and south poles with their letters, a tile partly past the panorama, and one of sky only.
    const Case cases[] = { { 1, 1, 0 }, { 3, 6, 2 }, { 5, 0, 0 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(TileName(c.zoom, c.x, c.y));
        std::vector<unsigned char> jpeg = DrawTileJpeg(kId, c.zoom, c.x, c.y);
        ASSERT_GE(jpeg.size(), 2u);
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);
        const Decoded decoded = DecodeJpeg(jpeg);
        ASSERT_EQ(decoded.width, unsigned(kTileSize));
        ASSERT_EQ(decoded.height, unsigned(kTileSize));
        const Tile drawn = Draw(kId, c.zoom, c.x, c.y);
        double difference = 0;
        for (std::size_t i = 0; i < drawn.size(); ++i)
            difference += std::abs(int(drawn[i]) - int(decoded.rgb[i]));
        EXPECT_LT(difference / drawn.size(), 1.5);
    }
}

TEST(SceneTest, JpegPolesKeepTheirColours) {
    for (const CompassPoint& point : kCompassPoints) {
        const Spot spot = SpotOf(2, point.heading, 10.0);
        std::vector<unsigned char> jpeg = DrawTileJpeg(kId, 2, spot.x, spot.y);
        const Decoded decoded = DecodeJpeg(jpeg);
        ASSERT_EQ(decoded.rgb.size(), std::size_t(kTileSize) * kTileSize * 3) << point.label;
        const Colour colour = PixelOf(decoded.rgb, spot.column, spot.row);
        EXPECT_LE(Distance(colour, FromHex(point.colour)), 12) << point.label << ": " << Text(colour);
    }
}

TEST(SceneTest, JpegIsEmptyForATileThatCannotExist) {
    struct Case {
        int zoom;
        int x;
        int y;
        bool exists;
    };
    const Case cases[] = {
        { 6, 0, 0, false },
        { -1, 0, 0, false },
        { 0, -1, 0, false },
        { 0, 0, -1, false },
        { 5, 0, 0, true },
        // Wholly past the panorama, and far past it: black, but a tile.
        { 0, 3, 2, true },
        { 0, 1 << 30, 1 << 30, true },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DrawTileJpeg(kId, c.zoom, c.x, c.y).empty(), !c.exists) << TileName(c.zoom, c.x, c.y);
    }
}

TEST(GlyphsTest, EveryIdCharacterHasItsOwnGlyphAndOthersAreBlank) {
    const std::string idCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::set<GlyphBits> seen;
    for (char c : idCharacters) {
        const GlyphBits bits = GlyphRows(c);
        EXPECT_NE(bits, GlyphBits {}) << c;
        EXPECT_TRUE(seen.insert(bits).second) << c << " looks like another character";
    }
    for (char c : std::string(" .~/\x7f\x80\xff", 7))
        EXPECT_EQ(GlyphRows(c), GlyphBits {}) << int(c);
    EXPECT_EQ(GlyphRows('\0'), GlyphBits {});
}

} // namespace
} // namespace vantaro::sample
