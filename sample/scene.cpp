#include "scene.h"

#include "glyphs.h"

#include <FreeImage.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

// The shared FreeImage library registers its plugins as it is loaded, so nothing here calls
// FreeImage_Initialise.

namespace vantaro::sample {

const CompassPoint kCompassPoints[4] = {
    { "N", 0.0, 0xE02020 },
    { "E", 90.0, 0xF0C000 },
    { "S", 180.0, 0x2040E0 },
    { "W", 270.0, 0x20A040 },
};

namespace {

// Scene sizes, all in degrees. Lines narrower than a pixel at a level are drawn one pixel wide.
constexpr double kMeridianStep = 15.0;
constexpr double kMeridianWidth = 0.08;
constexpr float kMeridianAlpha = 0.45f;
constexpr double kCardinalMeridianWidth = 0.16;
constexpr float kCardinalMeridianAlpha = 0.75f;
constexpr double kRingStep = 30.0;
constexpr double kRingWidth = 0.08;
constexpr float kRingAlpha = 0.45f;
constexpr double kHorizonWidth = 0.2;
constexpr float kHorizonAlpha = 0.95f;
// Meridians fade out between these elevations so the poles do not turn into a star of lines.
constexpr double kMeridianFadeStart = 70.0;
constexpr double kMeridianFadeEnd = 84.0;

constexpr double kPoleHalfWidth = 1.5;
constexpr double kPoleTop = 20.0;
constexpr double kPoleOutline = 0.12;
constexpr double kCardinalCapHeight = 10.0;
constexpr double kCardinalCapTop = 34.0;
constexpr double kIntercardinalCapHeight = 5.0;
constexpr double kIntercardinalCapTop = 31.5;
constexpr double kIdCapHeight = 4.2;
constexpr double kIdCapTop = -14.0;
// The id is written four times around; a long one is narrowed to keep the copies apart.
constexpr double kIdMaxWidth = 80.0;
constexpr std::size_t kIdMaxLength = 64;

constexpr float kOutlineAlpha = 0.8f;
constexpr unsigned kOutlineColour = 0x181818;
constexpr unsigned kWhite = 0xFFFFFF;

struct Rgb {
    float r = 0;
    float g = 0;
    float b = 0;
};

Rgb FromHex(unsigned colour) {
    return { float((colour >> 16) & 0xFF), float((colour >> 8) & 0xFF), float(colour & 0xFF) };
}

Rgb Mix(Rgb from, Rgb to, float t) {
    return { from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t };
}

Rgb FromHsl(double hue, double saturation, double lightness) {
    const double chroma = saturation * std::min(lightness, 1.0 - lightness);
    const auto channel = [&](double offset) {
        const double k = std::fmod(offset + hue / 30.0, 12.0);
        return float(255.0 * (lightness - chroma * std::clamp(std::min(k - 3.0, 9.0 - k), -1.0, 1.0)));
    };
    return { channel(0.0), channel(8.0), channel(4.0) };
}

std::uint32_t Fnv1a(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    // FNV-1a barely stirs the low bits for the last character, and ids often differ only there.
    hash ^= hash >> 16;
    hash *= 0x85EBCA6Bu;
    hash ^= hash >> 13;
    hash *= 0xC2B2AE35u;
    hash ^= hash >> 16;
    return hash;
}

struct Palette {
    Rgb skyHorizon;
    Rgb skyZenith;
    Rgb groundHorizon;
    Rgb groundNadir;
};

// Sky and ground tints follow the id's hash, so two samples are told apart at a glance. Skies keep to
// cyan through violet and grounds to browns and greens, so no id gets a world that looks upside down.
Palette PaletteFor(std::string_view panoramaId) {
    const std::uint32_t hash = Fnv1a(panoramaId);
    const double skyHue = 180.0 + 110.0 * (hash & 0xFFFF) / 65536.0;
    const double groundHue = 15.0 + 140.0 * (hash >> 16) / 65536.0;
    return {
        FromHsl(skyHue, 0.45, 0.80),
        FromHsl(skyHue, 0.55, 0.36),
        FromHsl(groundHue, 0.30, 0.45),
        FromHsl(groundHue, 0.35, 0.15),
    };
}

Rgb SkyAt(const Palette& palette, double elevation) {
    return Mix(palette.skyHorizon, palette.skyZenith, float(std::pow(std::clamp(elevation / 90.0, 0.0, 1.0), 0.6)));
}

Rgb GroundAt(const Palette& palette, double elevation) {
    return Mix(
        palette.groundHorizon, palette.groundNadir, float(std::pow(std::clamp(-elevation / 90.0, 0.0, 1.0), 0.8)));
}

// Where the tile lies on the canvas; canvas pixels are degrees times pixelsPerDegree.
struct Frame {
    int width = 0;
    int height = 0;
    double pixelsPerDegree = 0;
    std::int64_t left = 0;
    std::int64_t top = 0;
    int columns = 0; // tile columns inside the panorama
    int rows = 0; // tile rows inside the panorama
};

Frame FrameFor(int zoom, int x, int y) {
    Frame frame;
    frame.width = PanoramaWidth(zoom);
    frame.height = PanoramaHeight(zoom);
    frame.pixelsPerDegree = frame.width / 360.0;
    frame.left = std::int64_t(x) * kTileSize;
    frame.top = std::int64_t(y) * kTileSize;
    frame.columns = int(std::clamp<std::int64_t>(frame.width - frame.left, 0, kTileSize));
    frame.rows = int(std::clamp<std::int64_t>(frame.height - frame.top, 0, kTileSize));
    return frame;
}

double CanvasX(const Frame& frame, double heading) {
    return (heading + 180.0) * frame.pixelsPerDegree;
}

double CanvasY(const Frame& frame, double elevation) {
    return (90.0 - elevation) * frame.pixelsPerDegree;
}

// The length of [a0, a1] that lies inside [b0, b1].
double Overlap(double a0, double a1, double b0, double b1) {
    return std::max(0.0, std::min(a1, b1) - std::max(a0, b0));
}

// How much of the pixel [pixel, pixel + 1] a line centred at centre covers; at least a pixel wide.
double LineCoverage(double centre, double width, double pixel) {
    const double half = std::max(width, 1.0) / 2.0;
    return Overlap(centre - half, centre + half, pixel, pixel + 1.0);
}

double SmoothStep(double edge0, double edge1, double value) {
    const double t = std::clamp((value - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Every colour drawn is a mix of colours in 0..255, so no clamp is needed.
unsigned char ToByte(float value) {
    return static_cast<unsigned char>(value + 0.5f);
}

void Store(unsigned char* pixel, Rgb colour) {
    pixel[0] = ToByte(colour.r);
    pixel[1] = ToByte(colour.g);
    pixel[2] = ToByte(colour.b);
}

Rgb Load(const unsigned char* pixel) {
    return { float(pixel[0]), float(pixel[1]), float(pixel[2]) };
}

struct Box {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
};

// Something flat drawn over the background: body boxes in its colour over dark outline boxes. Boxes
// of one kind never overlap, so summing their coverage gives exact anti-aliasing. Canvas pixels.
struct Shape {
    std::vector<Box> body;
    std::vector<Box> outline;
    Box bounds;
    Rgb colour;
};

// The copies of a box that can reach the tile: the scene wraps in heading at the seam.
constexpr int kWrapShifts[] = { -1, 0, 1 };

bool TouchesTile(const Frame& frame, const Box& box) {
    for (int wrap : kWrapShifts) {
        const double shift = double(wrap) * frame.width - double(frame.left);
        if (box.x1 + shift > 0 && box.x0 + shift < frame.columns && box.y1 - double(frame.top) > 0
            && box.y0 - double(frame.top) < frame.rows)
            return true;
    }
    return false;
}

// Adds the box's coverage of each pixel of the window [wx, wx + ww) x [wy, wy + wh) to coverage.
void Accumulate(std::vector<float>& coverage, int wx, int wy, int ww, int wh, const Box& box) {
    const int x0 = std::max(wx, int(std::floor(box.x0)));
    const int x1 = std::min(wx + ww, int(std::ceil(box.x1)));
    const int y0 = std::max(wy, int(std::floor(box.y0)));
    const int y1 = std::min(wy + wh, int(std::ceil(box.y1)));
    if (x0 >= x1 || y0 >= y1)
        return;
    float across[kTileSize];
    for (int x = x0; x < x1; ++x)
        across[x - x0] = float(Overlap(box.x0, box.x1, x, x + 1.0));
    for (int y = y0; y < y1; ++y) {
        const float down = float(Overlap(box.y0, box.y1, y, y + 1.0));
        float* row = coverage.data() + std::size_t(y - wy) * ww + (x0 - wx);
        for (int x = 0; x < x1 - x0; ++x)
            row[x] += across[x] * down;
    }
}

Box Shifted(const Box& box, double dx, double dy) {
    return { box.x0 + dx, box.y0 + dy, box.x1 + dx, box.y1 + dy };
}

void DrawShape(const Frame& frame, const Shape& shape, unsigned char* rgb) {
    const Rgb dark = FromHex(kOutlineColour);
    // Kept per thread: fresh buffers this large cost more in page faults than the drawing itself.
    thread_local std::vector<float> outline;
    thread_local std::vector<float> body;
    for (int wrap : kWrapShifts) {
        const double dx = double(wrap) * frame.width - double(frame.left);
        const double dy = -double(frame.top);
        const Box bounds = Shifted(shape.bounds, dx, dy);
        // Clamped before the conversion to int: a shape may lie far off this tile.
        const int wx = std::max(0, int(std::floor(std::max(bounds.x0, -1.0))));
        const int wy = std::max(0, int(std::floor(std::max(bounds.y0, -1.0))));
        const int wx1 = std::min(frame.columns, int(std::ceil(std::min(bounds.x1, double(kTileSize) + 1))));
        const int wy1 = std::min(frame.rows, int(std::ceil(std::min(bounds.y1, double(kTileSize) + 1))));
        if (wx >= wx1 || wy >= wy1)
            continue;
        const int ww = wx1 - wx;
        const int wh = wy1 - wy;
        outline.assign(std::size_t(ww) * wh, 0.0f);
        body.assign(std::size_t(ww) * wh, 0.0f);
        for (const Box& box : shape.outline)
            Accumulate(outline, wx, wy, ww, wh, Shifted(box, dx, dy));
        for (const Box& box : shape.body)
            Accumulate(body, wx, wy, ww, wh, Shifted(box, dx, dy));
        unsigned char solid[3];
        Store(solid, shape.colour);
        for (int y = 0; y < wh; ++y) {
            unsigned char* pixel = rgb + (std::size_t(wy + y) * kTileSize + wx) * 3;
            const float* under = outline.data() + std::size_t(y) * ww;
            const float* over = body.data() + std::size_t(y) * ww;
            for (int x = 0; x < ww; ++x, pixel += 3) {
                if (under[x] <= 0.0f)
                    continue;
                // Large letters are mostly wholly covered pixels: no blending there.
                if (over[x] >= 1.0f)
                    std::memcpy(pixel, solid, 3);
                else
                    Store(pixel,
                        Mix(Mix(Load(pixel), dark, std::min(under[x], 1.0f) * kOutlineAlpha), shape.colour, over[x]));
            }
        }
    }
}

// A bitmap of blocks, cellWidth x cellHeight pixels each, drawn from (left, top) with an outline of the
// given thickness, which must stay under half a cell.
Shape BitmapShape(const std::vector<unsigned char>& cells, int columns, int rows, double left, double top,
    double cellWidth, double cellHeight, double thickness, Rgb colour) {
    Shape shape;
    shape.colour = colour;
    shape.bounds = { left - thickness, top - thickness, left + columns * cellWidth + thickness,
        top + rows * cellHeight + thickness };
    const auto cell = [&](int column, int row) {
        return column >= 0 && column < columns && row >= 0 && row < rows && cells[std::size_t(row) * columns + column];
    };
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns;) {
            if (!cell(column, row)) {
                ++column;
                continue;
            }
            const int start = column;
            while (cell(column, row))
                ++column;
            shape.body.push_back({ left + start * cellWidth, top + row * cellHeight, left + column * cellWidth,
                top + (row + 1) * cellHeight });
        }
    }

    // The outline is the blocks grown by the thickness. On the grid of strips along each cell edge
    // (even indices) and cell interiors (odd ones) every piece is wholly in or out, so it too is
    // disjoint boxes: a piece is in when a cell it touches is set.
    const auto fineStart = [&](int fine, double origin, double size) {
        return origin + (fine / 2) * size + (fine % 2 == 0 ? -thickness : thickness);
    };
    const auto fineEnd = [&](int fine, double origin, double size) {
        return fine % 2 == 0 ? origin + (fine / 2) * size + thickness : origin + (fine / 2 + 1) * size - thickness;
    };
    const auto fineSet = [&](int fineColumn, int fineRow) {
        const int column = fineColumn / 2;
        const int row = fineRow / 2;
        for (int r = fineRow % 2 == 0 ? row - 1 : row; r <= row; ++r) {
            for (int c = fineColumn % 2 == 0 ? column - 1 : column; c <= column; ++c) {
                if (cell(c, r))
                    return true;
            }
        }
        return false;
    };
    const int fineColumns = 2 * columns + 1;
    for (int fineRow = 0; fineRow < 2 * rows + 1; ++fineRow) {
        for (int fineColumn = 0; fineColumn < fineColumns;) {
            if (!fineSet(fineColumn, fineRow)) {
                ++fineColumn;
                continue;
            }
            const int start = fineColumn;
            while (fineColumn < fineColumns && fineSet(fineColumn, fineRow))
                ++fineColumn;
            shape.outline.push_back({ fineStart(start, left, cellWidth), fineStart(fineRow, top, cellHeight),
                fineEnd(fineColumn - 1, left, cellWidth), fineEnd(fineRow, top, cellHeight) });
        }
    }
    return shape;
}

struct TextStyle {
    double capTop = 0; // degrees of elevation
    double capHeight = 0; // degrees
    double widthScale = 1; // a block's width over its height
    bool bold = false; // strokes half a block wider, for the large letters
    Rgb colour;
};

// Text centred on a heading; an empty shape when it misses the tile.
Shape TextShape(const Frame& frame, std::string_view text, double heading, const TextStyle& style) {
    text = text.substr(0, kIdMaxLength);
    const double blockHeight = style.capHeight / kGlyphCapRows * frame.pixelsPerDegree;
    const double blockWidth = blockHeight * style.widthScale;
    const int glyphColumns = int(text.size()) * kGlyphAdvance - 1;
    // Bold text is laid out on half blocks, each set block also filling the half after it.
    const int split = style.bold ? 2 : 1;
    const int columns = glyphColumns * split + split - 1;
    const double cellWidth = blockWidth / split;
    const double left = CanvasX(frame, heading) - columns * cellWidth / 2.0;
    const double top = CanvasY(frame, style.capTop);
    const double thickness
        = std::min(std::max(0.2 * std::min(blockWidth, blockHeight), 1.0), 0.45 * std::min(cellWidth, blockHeight));
    const Box bounds = { left - thickness, top - thickness, left + columns * cellWidth + thickness,
        top + kGlyphRows * blockHeight + thickness };
    if (text.empty() || !TouchesTile(frame, bounds))
        return {};

    std::vector<unsigned char> cells(std::size_t(columns) * kGlyphRows, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const GlyphBits bits = GlyphRows(text[i]);
        for (int row = 0; row < kGlyphRows; ++row) {
            for (int column = 0; column < kGlyphColumns; ++column) {
                if (!(bits[row] & (1u << (kGlyphColumns - 1 - column))))
                    continue;
                const int first = (int(i) * kGlyphAdvance + column) * split;
                for (int c = first; c < first + 2 * split - 1; ++c)
                    cells[std::size_t(row) * columns + c] = 1;
            }
        }
    }
    return BitmapShape(cells, columns, kGlyphRows, left, top, cellWidth, blockHeight, thickness, style.colour);
}

Shape PoleShape(const Frame& frame, const CompassPoint& point) {
    const Box body = { CanvasX(frame, point.heading - kPoleHalfWidth), CanvasY(frame, kPoleTop),
        CanvasX(frame, point.heading + kPoleHalfWidth), CanvasY(frame, 0.0) };
    const double thickness = std::max(kPoleOutline * frame.pixelsPerDegree, 1.0);
    const Box outline = { body.x0 - thickness, body.y0 - thickness, body.x1 + thickness, body.y1 + thickness };
    return { { body }, { outline }, outline, FromHex(point.colour) };
}

// A meridian's coverage of one tile column, times its strength.
struct MeridianColumn {
    int column;
    float alpha;
};

std::vector<MeridianColumn> MeridianColumns(const Frame& frame) {
    std::vector<MeridianColumn> found;
    for (int column = 0; column < frame.columns; ++column) {
        const double canvasX = double(frame.left + column);
        const double heading = (canvasX + 0.5) / frame.pixelsPerDegree - 180.0;
        const double meridian = std::round(heading / kMeridianStep) * kMeridianStep;
        const bool cardinal = std::fmod(std::fabs(meridian), 90.0) == 0.0;
        const double width = (cardinal ? kCardinalMeridianWidth : kMeridianWidth) * frame.pixelsPerDegree;
        const double coverage = LineCoverage(CanvasX(frame, meridian), width, canvasX);
        if (coverage > 0.0)
            found.push_back({ column, float(coverage) * (cardinal ? kCardinalMeridianAlpha : kMeridianAlpha) });
    }
    return found;
}

void DrawBackground(const Frame& frame, const Palette& palette, unsigned char* rgb) {
    const std::vector<MeridianColumn> meridians = MeridianColumns(frame);
    const Rgb white = FromHex(kWhite);
    const double horizonY = frame.height / 2.0;
    for (int row = 0; row < frame.rows; ++row) {
        const double canvasY = double(frame.top + row);
        const double elevation = 90.0 - (canvasY + 0.5) / frame.pixelsPerDegree;
        const float skyShare = float(std::clamp(horizonY - canvasY, 0.0, 1.0));
        const Rgb sky = SkyAt(palette, std::max(elevation, 0.0));
        const Rgb ground = GroundAt(palette, std::min(elevation, 0.0));
        const Rgb background = Mix(ground, sky, skyShare);
        // Lines darken the sky and lighten the ground, so they show on either.
        const Rgb line = Mix(Mix(background, white, 0.5f), Mix(background, Rgb {}, 0.45f), skyShare);

        Rgb colour = background;
        const double ring = std::round(elevation / kRingStep) * kRingStep;
        if (std::fabs(ring) < 90.0) {
            const bool horizon = ring == 0.0;
            const double width = (horizon ? kHorizonWidth : kRingWidth) * frame.pixelsPerDegree;
            const float coverage = float(LineCoverage(CanvasY(frame, ring), width, canvasY));
            colour = Mix(colour, horizon ? white : line, coverage * (horizon ? kHorizonAlpha : kRingAlpha));
        }
        const float fade = float(1.0 - SmoothStep(kMeridianFadeStart, kMeridianFadeEnd, std::fabs(elevation)));

        unsigned char* out = rgb + std::size_t(row) * kTileSize * 3;
        unsigned char plain[3];
        Store(plain, colour);
        for (int column = 0; column < frame.columns; ++column)
            std::memcpy(out + column * 3, plain, 3);
        std::memset(out + frame.columns * 3, 0, std::size_t(kTileSize - frame.columns) * 3);
        if (fade > 0.0f) {
            for (const MeridianColumn& meridian : meridians)
                Store(out + meridian.column * 3, Mix(colour, line, meridian.alpha * fade));
        }
    }
    std::memset(rgb + std::size_t(frame.rows) * kTileSize * 3, 0, std::size_t(kTileSize - frame.rows) * kTileSize * 3);
}

} // namespace

int PanoramaWidth(int zoom) {
    return 416 << zoom;
}

int PanoramaHeight(int zoom) {
    return 208 << zoom;
}

void DrawTile(std::string_view panoramaId, int zoom, int x, int y, unsigned char* rgb) {
    const Frame frame = FrameFor(zoom, x, y);
    if (frame.columns == 0 || frame.rows == 0) {
        std::memset(rgb, 0, std::size_t(kTileSize) * kTileSize * 3);
        return;
    }
    const Palette palette = PaletteFor(panoramaId);
    DrawBackground(frame, palette, rgb);

    for (const CompassPoint& point : kCompassPoints) {
        const Shape pole = PoleShape(frame, point);
        if (TouchesTile(frame, pole.bounds))
            DrawShape(frame, pole, rgb);
    }

    const auto drawText = [&](std::string_view text, double heading, const TextStyle& style) {
        const Shape shape = TextShape(frame, text, heading, style);
        if (!shape.body.empty())
            DrawShape(frame, shape, rgb);
    };
    // Letters sit at about +29 degrees, where a viewer shows a degree of heading cos(29) as wide.
    const double letterWidth = 1.0 / std::cos(29.0 * std::numbers::pi / 180.0);
    for (const CompassPoint& point : kCompassPoints)
        drawText(point.label, point.heading,
            { kCardinalCapTop, kCardinalCapHeight, letterWidth, true, FromHex(point.colour) });

    const Rgb white = FromHex(kWhite);
    constexpr std::string_view kIntercardinals[] = { "NE", "SE", "SW", "NW" };
    const TextStyle intercardinal = { kIntercardinalCapTop, kIntercardinalCapHeight, letterWidth, false, white };
    const std::string_view id = panoramaId.substr(0, kIdMaxLength);
    const double idWidth = double(id.size() * kGlyphAdvance - 1) * kIdCapHeight / kGlyphCapRows;
    const TextStyle idStyle
        = { kIdCapTop, idWidth > kIdMaxWidth ? kIdCapHeight * kIdMaxWidth / idWidth : kIdCapHeight, 1.0, false, white };
    for (int i = 0; i < 4; ++i) {
        const double heading = 45.0 + 90.0 * i;
        drawText(kIntercardinals[i], heading, intercardinal);
        drawText(id, heading, idStyle);
    }
}

std::vector<unsigned char> DrawTileJpeg(std::string_view panoramaId, int zoom, int x, int y) {
    if (zoom < 0 || zoom > kMaxZoom || x < 0 || y < 0)
        return {};
    constexpr int kPitch = kTileSize * 3;
    // Kept per thread: fresh buffers this large cost more in page faults than the drawing itself.
    thread_local std::vector<unsigned char> rgb(std::size_t(kTileSize) * kPitch);
    thread_local std::vector<unsigned char> bits(std::size_t(kTileSize) * kPitch);
    DrawTile(panoramaId, zoom, x, y, rgb.data());

    // FreeImage keeps the bottom row first and its own channel order.
    for (int row = 0; row < kTileSize; ++row) {
        const unsigned char* source = rgb.data() + std::size_t(row) * kPitch;
        unsigned char* line = bits.data() + std::size_t(kTileSize - 1 - row) * kPitch;
        for (int column = 0; column < kTileSize; ++column, line += 3, source += 3) {
            line[FI_RGBA_RED] = source[0];
            line[FI_RGBA_GREEN] = source[1];
            line[FI_RGBA_BLUE] = source[2];
        }
    }
    FIBITMAP* bitmap = FreeImage_ConvertFromRawBitsEx(FALSE, bits.data(), FIT_BITMAP, kTileSize, kTileSize, kPitch, 24,
        FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE);
    if (!bitmap)
        return {};
    std::vector<unsigned char> jpeg;
    FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
    if (memory && FreeImage_SaveToMemory(FIF_JPEG, bitmap, memory, 90 | JPEG_SUBSAMPLING_444)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        if (FreeImage_AcquireMemory(memory, &data, &size) && data && size > 0)
            jpeg.assign(data, data + size);
    }
    if (memory)
        FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
    return jpeg;
}

} // namespace vantaro::sample
