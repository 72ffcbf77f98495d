#include "png_file.h"

#include "temporary_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

namespace vantaro {

namespace {

using Byte = std::uint8_t;

// On photographs level 5 gives within 1% of the size of FreeImage's save (zlib's level 6) in two
// thirds of level 6's time; level 4 files are more than 2% larger.
constexpr int kCompressionLevel = 5;
// IDAT chunks small enough for any reader to hold one, few enough to cost nothing.
constexpr std::size_t kChunkBytes = std::size_t(2) << 20;
constexpr std::size_t kPixelBytes = 3;

// The filter numbers a row starts with.
enum RowFilter : Byte { kNone, kSub, kUp, kAverage, kPaeth };

struct Unmap {
    std::size_t size = 0;
    void operator()(Byte* bytes) const { ::munmap(bytes, size); }
};
using Buffer = std::unique_ptr<Byte, Unmap>;

// Zeroed pages of their own, in huge pages where the system allows: where a first touch of each
// 4 KiB page is dear, as in some virtual machines, touching a panorama's worth of them costs more
// than filtering it.
Buffer Allocate(std::size_t size) {
    void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        return Buffer(nullptr, Unmap {});
    ::madvise(pages, size, MADV_HUGEPAGE);
    return Buffer(static_cast<Byte*>(pages), Unmap { size });
}

void PutBigEndian(Byte* out, std::uint32_t value) {
    out[0] = Byte(value >> 24);
    out[1] = Byte(value >> 16);
    out[2] = Byte(value >> 8);
    out[3] = Byte(value);
}

// One chunk: its length, type, data and the CRC of type and data.
bool WriteChunk(int fd, const char* type, const Byte* data, std::uint32_t size) {
    Byte head[8];
    PutBigEndian(head, size);
    std::memcpy(head + 4, type, 4);
    Byte crc[4];
    PutBigEndian(crc, std::uint32_t(libdeflate_crc32(libdeflate_crc32(0, head + 4, 4), data, size)));
    return WriteAll(fd, head, sizeof head) && WriteAll(fd, data, size) && WriteAll(fd, crc, sizeof crc);
}

// The measure libpng minimises to choose a row's filter: each byte taken as signed, by magnitude.
std::uint64_t FilterCost(const Byte* row, std::size_t size) {
    std::uint64_t total = 0;
    // Blocks short enough for 16-bit sums (at most 128 a byte), which vectorise best.
    for (std::size_t start = 0; start < size; start += 256) {
        const std::size_t end = std::min(size, start + 256);
        std::uint16_t sum = 0;
        for (std::size_t i = start; i < end; ++i) {
            const Byte negated = Byte(-row[i]);
            sum = std::uint16_t(sum + std::min(row[i], negated));
        }
        total += sum;
    }
    return total;
}

// The filters over a row and the one above it (zeros above the first); the first pixel's left
// neighbour counts as zero.
void FilterSub(const Byte* row, std::size_t size, Byte* out) {
    for (std::size_t i = 0; i < kPixelBytes; ++i)
        out[i] = row[i];
    for (std::size_t i = kPixelBytes; i < size; ++i)
        out[i] = Byte(row[i] - row[i - kPixelBytes]);
}

void FilterUp(const Byte* row, const Byte* above, std::size_t size, Byte* out) {
    for (std::size_t i = 0; i < size; ++i)
        out[i] = Byte(row[i] - above[i]);
}

void FilterAverage(const Byte* row, const Byte* above, std::size_t size, Byte* out) {
    for (std::size_t i = 0; i < kPixelBytes; ++i)
        out[i] = Byte(row[i] - (above[i] >> 1));
    for (std::size_t i = kPixelBytes; i < size; ++i)
        out[i] = Byte(row[i] - ((row[i - kPixelBytes] + above[i]) >> 1));
}

void FilterPaeth(const Byte* row, const Byte* above, std::size_t size, Byte* out) {
    // With the left and upper-left neighbours zero the predictor is the byte above.
    for (std::size_t i = 0; i < kPixelBytes; ++i)
        out[i] = Byte(row[i] - above[i]);
    for (std::size_t i = kPixelBytes; i < size; ++i) {
        // 16-bit arithmetic, which holds every value here, vectorises twice as wide as int.
        const std::int16_t left = row[i - kPixelBytes];
        const std::int16_t up = above[i];
        const std::int16_t upLeft = above[i - kPixelBytes];
        // The distances of left + up - upLeft to left, up and upLeft.
        const std::int16_t upStep = std::int16_t(up - upLeft);
        const std::int16_t leftStep = std::int16_t(left - upLeft);
        const std::int16_t bothSteps = std::int16_t(upStep + leftStep);
        const std::int16_t toLeft = std::int16_t(upStep < 0 ? -upStep : upStep);
        const std::int16_t toUp = std::int16_t(leftStep < 0 ? -leftStep : leftStep);
        const std::int16_t toUpLeft = std::int16_t(bothSteps < 0 ? -bothSteps : bothSteps);
        const std::int16_t predicted = toLeft <= toUp && toLeft <= toUpLeft ? left : toUp <= toUpLeft ? up : upLeft;
        out[i] = Byte(row[i] - predicted);
    }
}

// The image's rows top-down in RGB order, each filtered with the filter that makes its bytes
// smallest and led by that filter's number, back to back; null when memory runs short.
Buffer FilteredRows(FIBITMAP* image) {
    const std::size_t width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    const std::size_t rowBytes = width * kPixelBytes;
    Buffer filtered = Allocate((rowBytes + 1) * height);
    // This row and the one above it in RGB order, then the four filtered tries; the row above the
    // first is zeros, as the filters take it.
    Buffer work = Allocate(rowBytes * 6);
    if (!filtered || !work)
        return nullptr;
    Byte* row = work.get();
    Byte* above = row + rowBytes;
    Byte* tries[4];
    for (int filter = 0; filter < 4; ++filter)
        tries[filter] = above + rowBytes * std::size_t(1 + filter);

    Byte* out = filtered.get();
    for (unsigned y = 0; y < height; ++y) {
        // FreeImage keeps the bottom row first and each pixel in its own byte order.
        const Byte* source = FreeImage_GetScanLine(image, int(height - 1 - y));
        for (std::size_t x = 0; x < width; ++x) {
            row[x * 3] = source[x * 3 + FI_RGBA_RED];
            row[x * 3 + 1] = source[x * 3 + FI_RGBA_GREEN];
            row[x * 3 + 2] = source[x * 3 + FI_RGBA_BLUE];
        }
        FilterSub(row, rowBytes, tries[0]);
        FilterUp(row, above, rowBytes, tries[1]);
        FilterAverage(row, above, rowBytes, tries[2]);
        FilterPaeth(row, above, rowBytes, tries[3]);
        // As libpng does: a later filter only when strictly better.
        RowFilter best = kNone;
        const Byte* bestBytes = row;
        std::uint64_t bestCost = FilterCost(row, rowBytes);
        for (int filter = 0; filter < 4; ++filter) {
            const std::uint64_t cost = FilterCost(tries[filter], rowBytes);
            if (cost < bestCost) {
                best = RowFilter(kSub + filter);
                bestBytes = tries[filter];
                bestCost = cost;
            }
        }
        *out++ = best;
        std::memcpy(out, bestBytes, rowBytes);
        out += rowBytes;
        std::swap(row, above);
    }
    return filtered;
}

} // namespace

bool CanWritePng(FIBITMAP* image) {
    // PNG sizes are 31-bit.
    return image && FreeImage_HasPixels(image) && FreeImage_GetImageType(image) == FIT_BITMAP
        && FreeImage_GetBPP(image) == 24 && FreeImage_GetWidth(image) > 0 && FreeImage_GetHeight(image) > 0
        && FreeImage_GetWidth(image) < 0x80000000u && FreeImage_GetHeight(image) < 0x80000000u;
}

bool WritePng(FIBITMAP* image, int fd) {
    if (!CanWritePng(image))
        return false;
    const std::size_t width = FreeImage_GetWidth(image);
    const std::size_t height = FreeImage_GetHeight(image);

    std::size_t compressedSize = 0;
    Buffer compressed;
    {
        Buffer filtered = FilteredRows(image);
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(kCompressionLevel);
        if (filtered && compressor) {
            const std::size_t filteredSize = (width * kPixelBytes + 1) * height;
            // Room for the worst case; the pages the output does not reach are never touched.
            const std::size_t bound = libdeflate_zlib_compress_bound(compressor, filteredSize);
            compressed = Allocate(bound);
            if (compressed)
                compressedSize
                    = libdeflate_zlib_compress(compressor, filtered.get(), filteredSize, compressed.get(), bound);
        }
        libdeflate_free_compressor(compressor);
    }
    if (compressedSize == 0)
        return false;

    static constexpr Byte kSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    Byte header[13] = {};
    PutBigEndian(header, std::uint32_t(width));
    PutBigEndian(header + 4, std::uint32_t(height));
    header[8] = 8; // bits per channel
    header[9] = 2; // RGB; compression, filter method and interlacing stay 0
    if (!WriteAll(fd, kSignature, sizeof kSignature) || !WriteChunk(fd, "IHDR", header, sizeof header))
        return false;
    // The resolution FreeImage would have written.
    const unsigned dotsX = FreeImage_GetDotsPerMeterX(image);
    const unsigned dotsY = FreeImage_GetDotsPerMeterY(image);
    if (dotsX > 0 && dotsY > 0) {
        Byte resolution[9];
        PutBigEndian(resolution, dotsX);
        PutBigEndian(resolution + 4, dotsY);
        resolution[8] = 1; // per metre
        if (!WriteChunk(fd, "pHYs", resolution, sizeof resolution))
            return false;
    }
    for (std::size_t start = 0; start < compressedSize; start += kChunkBytes) {
        const std::size_t size = std::min(kChunkBytes, compressedSize - start);
        if (!WriteChunk(fd, "IDAT", compressed.get() + start, std::uint32_t(size)))
            return false;
    }
    // An empty chunk still needs a valid pointer for its (empty) data.
    static constexpr Byte kNothing[1] = {};
    return WriteChunk(fd, "IEND", kNothing, 0);
}

} // namespace vantaro
