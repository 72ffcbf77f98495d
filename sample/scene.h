#pragma once
// The sample tile service's scene: one equirectangular panorama per id, drawn tile by tile on demand.
//
// Heading 0 (north) is at the image centre and grows to the right; the seam is south. Elevation is
// +90 at the top row and -90 at the bottom one. Every size is in degrees, so all levels agree.

#include <string_view>
#include <vector>

namespace vantaro::sample {

inline constexpr int kTileSize = 512;
inline constexpr int kMaxZoom = 5;

// The panorama's width in pixels at a zoom level 0..kMaxZoom: 416 << zoom.
int PanoramaWidth(int zoom);
// The panorama's height in pixels at a zoom level 0..kMaxZoom: 208 << zoom.
int PanoramaHeight(int zoom);

struct CompassPoint {
    const char* label;
    double heading; // degrees clockwise from north
    unsigned colour; // 0xRRGGBB, drawn flat on the point's pole
};

// N, E, S and W in that order.
extern const CompassPoint kCompassPoints[4];

// Draws tile (x, y) of panoramaId at zoom into rgb: kTileSize * kTileSize * 3 bytes, top row first,
// R G B. The caller checks zoom is 0..kMaxZoom and x, y are not negative; pixels past the panorama
// are black.
void DrawTile(std::string_view panoramaId, int zoom, int x, int y, unsigned char* rgb);

// The tile as JPEG bytes (quality 90, no chroma subsampling); empty for a zoom outside 0..kMaxZoom,
// a negative x or y, or a failed encode.
std::vector<unsigned char> DrawTileJpeg(std::string_view panoramaId, int zoom, int x, int y);

} // namespace vantaro::sample
