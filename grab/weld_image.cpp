#include "weld_image.h"

#include "png_file.h"
#include "temporary_file.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

// The shared FreeImage library registers its plugins as it is loaded, so nothing here calls
// FreeImage_Initialise.

namespace vantaro {

namespace {

unsigned ReadFile(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return unsigned(std::fread(buffer, size, count, static_cast<std::FILE*>(handle)));
}

unsigned WriteFile(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return unsigned(std::fwrite(buffer, size, count, static_cast<std::FILE*>(handle)));
}

int SeekFile(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<std::FILE*>(handle), offset, origin);
}

long TellFile(fi_handle handle) {
    return std::ftell(static_cast<std::FILE*>(handle));
}

// Saves through FreeImage to the open file, which it closes; false when anything failed.
bool SaveWithFreeImage(FIBITMAP* image, FREE_IMAGE_FORMAT format, int fd) {
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        return false;
    }
    FreeImageIO io { ReadFile, WriteFile, SeekFile, TellFile };
    const int flags = format == FIF_PNG ? PNG_DEFAULT : JPEG_DEFAULT;
    bool written = FreeImage_SaveToHandle(format, image, &io, file, flags);
    // The last buffered bytes reach the disk only here; a full disk shows up now or never.
    written = std::fflush(file) == 0 && !std::ferror(file) && written;
    return std::fclose(file) == 0 && written;
}

// The tile's own size from its JPEG header, without decoding pixels; false when it has none.
bool ReadTileHeaderSize(const std::string& tileFile, unsigned& width, unsigned& height) {
    FIBITMAP* header = FreeImage_Load(FIF_JPEG, tileFile.c_str(), FIF_LOAD_NOPIXELS);
    if (!header)
        return false;
    width = FreeImage_GetWidth(header);
    height = FreeImage_GetHeight(header);
    FreeImage_Unload(header);
    return true;
}

} // namespace

ImageSize CanvasSize(const TileGrid& grid) {
    return { grid.columns * kTileSize, grid.rows * kTileSize };
}

ImageSize CropSize(int zoomLevel) {
    // Level 3 keeps the full canvas height; level 5 keeps the whole canvas.
    static constexpr ImageSize kCrops[] = { { 416, 208 }, { 832, 416 }, { 1664, 832 }, { 3328, 1536 }, { 6656, 3328 } };
    if (zoomLevel >= 5)
        return CanvasSize(TileGridForLevel(5));
    return kCrops[zoomLevel < 0 ? 0 : zoomLevel];
}

std::string WeldedFileName(std::string_view outputFolder, std::string_view panoramaId, bool png) {
    std::string name(outputFolder);
    name += panoramaId;
    name += png ? "_welded.png" : "_welded.jpg";
    return name;
}

FIBITMAP* AllocateCanvas(const TileGrid& grid) {
    const ImageSize size = CanvasSize(grid);
    if (size.width <= 0 || size.height <= 0)
        return nullptr;
    return FreeImage_Allocate(size.width, size.height, 24, 0, 0, 0);
}

FIBITMAP* BlackCanvas(FIBITMAP* reusable, const TileGrid& grid) {
    const ImageSize size = CanvasSize(grid);
    if (reusable && int(FreeImage_GetWidth(reusable)) == size.width
        && int(FreeImage_GetHeight(reusable)) == size.height) {
        // The rows lie back to back: 24-bit rows of whole tiles are a multiple of 4 bytes long.
        std::memset(FreeImage_GetBits(reusable), 0, std::size_t(FreeImage_GetPitch(reusable)) * unsigned(size.height));
        return reusable;
    }
    if (reusable)
        FreeImage_Unload(reusable);
    return AllocateCanvas(grid);
}

FIBITMAP* LoadTile(const std::string& tileFile) {
    unsigned width = 0;
    unsigned height = 0;
    if (!ReadTileHeaderSize(tileFile, width, height) || width > kMaxTileSide || height > kMaxTileSide)
        return nullptr;
    FIBITMAP* tile = FreeImage_Load(FIF_JPEG, tileFile.c_str(), JPEG_DEFAULT);
    if (!tile)
        return nullptr;
    // A greyscale JPEG loads as 8 bits, which the paste into the 24-bit canvas would refuse.
    if (FreeImage_GetBPP(tile) != 24) {
        if (FIBITMAP* converted = FreeImage_ConvertTo24Bits(tile)) {
            FreeImage_Unload(tile);
            tile = converted;
        }
    }
    if (FreeImage_GetWidth(tile) < unsigned(kTileSize) || FreeImage_GetHeight(tile) < unsigned(kTileSize)) {
        if (FIBITMAP* scaled = FreeImage_Rescale(tile, kTileSize, kTileSize, FILTER_LANCZOS3)) {
            FreeImage_Unload(tile);
            tile = scaled;
        }
    }
    return tile;
}

PasteResult PasteTileFile(FIBITMAP* canvas, const std::string& tileFile, int x, int y) {
    if (!canvas)
        return PasteResult::NotLoaded;
    FIBITMAP* tile = LoadTile(tileFile);
    if (!tile)
        return PasteResult::NotLoaded;
    const bool pasted = FreeImage_Paste(canvas, tile, x * kTileSize, y * kTileSize, 256);
    FreeImage_Unload(tile);
    return pasted ? PasteResult::Pasted : PasteResult::NotPasted;
}

bool SaveImageReplacing(FIBITMAP* image, FREE_IMAGE_FORMAT format, const std::string& path) {
    std::string temporaryPath;
    const int fd = CreateTemporaryBeside(path, temporaryPath);
    if (fd < 0)
        return false;
    bool written = false;
    if (format == FIF_PNG && CanWritePng(image)) {
        written = WritePng(image, fd);
        written = ::close(fd) == 0 && written;
    } else {
        written = SaveWithFreeImage(image, format, fd);
    }
    if (written && std::rename(temporaryPath.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temporaryPath.c_str());
    return false;
}

WeldResult FinishCanvas(FIBITMAP* canvas, const FinishChoices& choices, const std::string& outputFolder,
    const std::string& panoramaId, int zoomLevel) {
    if (!canvas || !choices.weldTiles)
        return WeldResult::NotSaved;
    const ImageSize whole { int(FreeImage_GetWidth(canvas)), int(FreeImage_GetHeight(canvas)) };
    const ImageSize crop = choices.crop ? CropSize(zoomLevel) : whole;
    // A crop that keeps everything is the canvas itself: a copy would only double the memory.
    FIBITMAP* cropped = crop == whole ? nullptr : FreeImage_Copy(canvas, 0, 0, crop.width, crop.height);
    bool saved = false;
    if (crop == whole || cropped) {
        const FREE_IMAGE_FORMAT format = choices.png ? FIF_PNG : FIF_JPEG;
        saved = SaveImageReplacing(
            cropped ? cropped : canvas, format, WeldedFileName(outputFolder, panoramaId, choices.png));
    }
    if (cropped)
        FreeImage_Unload(cropped);
    return saved ? WeldResult::Saved : WeldResult::SaveFailed;
}

} // namespace vantaro
