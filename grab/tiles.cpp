#include "tiles.h"

#include <algorithm>

#ifndef VANTARO_TILE_HOST_PATTERN
#define VANTARO_TILE_HOST_PATTERN "cbk{N}.tiles.invalid"
#endif

namespace vantaro {

namespace {
std::string hostPatternOverride;

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
        || c == '_' || c == '~';
}
} // namespace

TileGrid TileGridForLevel(int zoomLevel) {
    static constexpr TileGrid kGrids[]
        = { { 1, 1, 1 }, { 2, 1, 2 }, { 4, 2, 8 }, { 7, 3, 21 }, { 13, 7, 91 }, { 26, 13, 338 } };
    return kGrids[std::clamp(zoomLevel, 0, 5)];
}

std::string TileFileName(std::string_view outputFolder, std::string_view panoramaId, int tileNumber) {
    std::string name(outputFolder);
    name += panoramaId;
    name += "_tile";
    name += std::to_string(tileNumber);
    name += ".jpg";
    return name;
}

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c)) {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

std::string TileHostPattern() {
    return hostPatternOverride.empty() ? VANTARO_TILE_HOST_PATTERN : hostPatternOverride;
}

void SetTileHostPatternForTesting(const std::string& pattern) {
    hostPatternOverride = pattern;
}

std::string MirrorHost(std::string_view pattern, int mirror) {
    static constexpr std::string_view kMark = "{N}";
    std::string host;
    for (std::size_t at = 0;;) {
        const std::size_t found = pattern.find(kMark, at);
        host += pattern.substr(at, found - at);
        if (found == std::string_view::npos)
            return host;
        host += std::to_string(mirror);
        at = found + kMark.size();
    }
}

std::string TileRequestUrl(std::string_view host, std::string_view panoramaId, int x, int y, int zoomLevel) {
    std::string url = "https://";
    url += host;
    url += "/cbk?cb_client=maps_sv.tactile&authuser=0&hl=en&panoid=";
    url += PercentEncode(panoramaId);
    url += "&output=tile&x=" + std::to_string(x);
    url += "&y=" + std::to_string(y);
    url += "&zoom=" + std::to_string(zoomLevel);
    url += "&nbt&fover=2";
    return url;
}

std::string DoneText(const GrabTally& tally) {
    std::string text = "Grabbing process is finished! You can examine each pano using the built-in preview.";
    std::string failures;
    if (tally.failedTiles > 0)
        failures = std::to_string(tally.failedTiles) + " of " + std::to_string(tally.requestedTiles)
            + " tiles could not be downloaded.";
    if (tally.unweldedTiles > 0) {
        if (!failures.empty())
            failures += "\r\n";
        failures += std::to_string(tally.unweldedTiles) + " of " + std::to_string(tally.weldedArrivals)
            + " downloaded tiles could not be welded.";
    }
    if (tally.failedSaves > 0) {
        if (!failures.empty())
            failures += "\r\n";
        failures += std::to_string(tally.failedSaves) + " of " + std::to_string(tally.savedPanoramas)
            + " welded panoramas could not be saved.";
    }
    if (!failures.empty())
        text += "\r\n\r\n" + failures;
    return text;
}

} // namespace vantaro
