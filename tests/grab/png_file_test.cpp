#include "grab_test_files.h"
#include "png_file.h"
#include "weld_image.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <set>
#include <sys/resource.h>
#include <vector>

namespace vantaro {
namespace {

std::uint32_t Hash(std::uint32_t a, std::uint32_t b) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0xC2B2AE3Du;
    return h ^ (h >> 13);
}

// A 24-bit image whose pixel (x, y), counted from the top-left, has the colour 0xRRGGBB.
FIBITMAP* MakeImage(int width, int height, const std::function<unsigned(int, int)>& colour) {
    FIBITMAP* image = FreeImage_Allocate(width, height, 24);
    for (int y = 0; y < height && image; ++y) {
        BYTE* line = FreeImage_GetScanLine(image, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const unsigned rgb = colour(x, y);
            line[x * 3 + FI_RGBA_RED] = BYTE(rgb >> 16);
            line[x * 3 + FI_RGBA_GREEN] = BYTE(rgb >> 8);
            line[x * 3 + FI_RGBA_BLUE] = BYTE(rgb);
        }
    }
    return image;
}

// The image converted by FreeImage; the original is released.
FIBITMAP* Converted(FIBITMAP* image, FIBITMAP* (*convert)(FIBITMAP*)) {
    FIBITMAP* converted = image ? convert(image) : nullptr;
    FreeImage_Unload(image);
    return converted;
}

unsigned Grey(unsigned level) {
    return level * 0x010101u;
}

// Each channel the floored mean of its left and upper neighbours plus noise: the image the Average
// filter predicts best.
std::function<unsigned(int, int)> MeanOfNeighbours(int width, int height) {
    std::vector<unsigned> pixels(std::size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned rgb = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const int left = x > 0 ? int(pixels[y * width + x - 1] >> shift & 0xFF) : 0;
                const int up = y > 0 ? int(pixels[(y - 1) * width + x] >> shift & 0xFF) : 0;
                const int noise = int(Hash(x * 3 + shift, y) % 21) + (x == 0 || y == 0 ? 60 : -10);
                rgb |= unsigned(std::clamp((left + up) / 2 + noise, 0, 255)) << shift;
            }
            pixels[y * width + x] = rgb;
        }
    }
    return [pixels, width](int x, int y) { return pixels[y * width + x]; };
}

// Photograph-like: smooth shading, edges and grain.
unsigned PhotoLike(int x, int y) {
    const unsigned grain = Hash(x, y) % 7;
    const unsigned red = (x * 3 + y) / 5 % 200 + grain;
    const unsigned green = (x / 40 + y / 30) % 2 ? 180 - y % 90 + grain : 40 + x % 70;
    const unsigned blue = 90 + (x * y / 64) % 60 + grain;
    return red << 16 | green << 8 | blue;
}

// The decoded pixels of both images differ: where, or "" when they do not.
std::string FirstDifference(FIBITMAP* a, FIBITMAP* b) {
    if (!a || !b)
        return "missing image";
    if (FreeImage_GetWidth(a) != FreeImage_GetWidth(b) || FreeImage_GetHeight(a) != FreeImage_GetHeight(b)
        || FreeImage_GetBPP(a) != FreeImage_GetBPP(b))
        return "sizes or depths differ";
    const unsigned lineBytes = FreeImage_GetLine(a);
    for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y) {
        const BYTE* lineA = FreeImage_GetScanLine(a, int(y));
        const BYTE* lineB = FreeImage_GetScanLine(b, int(y));
        const auto mismatch = std::mismatch(lineA, lineA + lineBytes, lineB);
        if (mismatch.first != lineA + lineBytes)
            return "bottom-up line " + std::to_string(y) + ", byte " + std::to_string(mismatch.first - lineA);
    }
    return "";
}

std::uint32_t BigEndian(const std::string& bytes, std::size_t at) {
    return std::uint32_t(std::uint8_t(bytes[at])) << 24 | std::uint32_t(std::uint8_t(bytes[at + 1])) << 16
        | std::uint32_t(std::uint8_t(bytes[at + 2])) << 8 | std::uint8_t(bytes[at + 3]);
}

// The PNG checksum, bit by bit, independent of the writer's.
std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= std::uint8_t(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

struct Chunk {
    std::string type;
    std::string data;
};

// The chunks of a PNG file; the problem, when its layout or a checksum is wrong, in `problem`.
std::vector<Chunk> ReadChunks(const std::string& file, std::string& problem) {
    std::vector<Chunk> chunks;
    if (file.compare(0, 8, "\x89PNG\r\n\x1A\n") != 0) {
        problem = "no PNG signature";
        return chunks;
    }
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::uint32_t size = BigEndian(file, at);
        if (at + 12 + size > file.size())
            break;
        const std::string typeAndData = file.substr(at + 4, 4 + std::size_t(size));
        if (Crc32(typeAndData) != BigEndian(file, at + 8 + size))
            problem = "bad checksum in chunk " + std::to_string(chunks.size());
        chunks.push_back({ typeAndData.substr(0, 4), typeAndData.substr(4) });
        at += 12 + size;
    }
    if (at != file.size())
        problem = "bytes after the last whole chunk";
    return chunks;
}

// The filter number each row of an 8-bit RGB PNG starts with; empty when the data does not inflate
// to the rows.
std::vector<int> RowFilters(const std::vector<Chunk>& chunks, unsigned width, unsigned height) {
    std::string compressed;
    for (const Chunk& chunk : chunks) {
        if (chunk.type == "IDAT")
            compressed += chunk.data;
    }
    const std::size_t rowBytes = std::size_t(width) * 3 + 1;
    std::string rows(rowBytes * height, '\0');
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    const libdeflate_result result = libdeflate_zlib_decompress(
        decompressor, compressed.data(), compressed.size(), rows.data(), rows.size(), nullptr);
    libdeflate_free_decompressor(decompressor);
    std::vector<int> filters;
    for (std::size_t row = 0; result == LIBDEFLATE_SUCCESS && row < height; ++row)
        filters.push_back(rows[row * rowBytes]);
    return filters;
}

class PngFileTest : public testing::Test {
protected:
    void SetUp() override { folder = test::MakeTemporaryFolder("vantaro_png") + "/"; }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string folder;
};

// The filter numbers a row starts with.
enum { kNone, kSub, kUp, kAverage, kPaeth };

TEST_F(PngFileTest, DecodesToTheImageAndToWhatFreeImagesSaveGivesWithEveryFilterChosenAsLibpngDoes) {
    struct Case {
        const char* name;
        std::function<FIBITMAP*()> make;
        int laterRowsFilter; // the filter every row but the first must get, or -1 for any
    };
    const auto image = [](int width, int height, std::function<unsigned(int, int)> colour) {
        return [=] { return MakeImage(width, height, colour); };
    };
    const auto noise = [](int x, int y) { return Hash(x, y) & 0xFFFFFFu; };
    const Case cases[] = {
        { "1 x 1", image(1, 1, [](int, int) { return 0x80FF01u; }), -1 },
        // 24-bit lines of these widths end in padding bytes, which must not reach the file.
        { "5 x 3 noise", image(5, 3, noise), -1 },
        { "513 x 7 ramps", image(513, 7, [](int x, int y) { return Grey(x / 3 + y * 20); }), -1 },
        // Up and Paeth leave only zeros: the earlier filter wins the tie.
        { "flat", image(64, 40, [](int, int) { return 0x3C78B4u; }), kUp },
        { "columns of noise", image(97, 30, [&](int x, int) { return noise(x, 7); }), kUp },
        { "mean of neighbours", image(120, 60, MeanOfNeighbours(120, 60)), kAverage },
        // Steps across and down: only Paeth follows both.
        { "stripes and bands", image(61, 20, [](int x, int y) { return Grey(60 + x / 4 % 2 * 30 + y % 2 * 30); }),
            kPaeth },
        { "photograph-like", image(301, 203, PhotoLike), -1 },
        // Incompressible, so its data spans more than one IDAT chunk.
        { "1000 x 800 noise", image(1000, 800, noise), -1 },
        // Other depths are left to FreeImage.
        { "8-bit grey", [] { return Converted(MakeImage(40, 9, PhotoLike), FreeImage_ConvertToGreyscale); }, -1 },
        { "32-bit", [] { return Converted(MakeImage(41, 9, PhotoLike), FreeImage_ConvertTo32Bits); }, -1 },
    };
    std::set<int> filtersSeen;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FIBITMAP* source = c.make();
        ASSERT_NE(source, nullptr);
        const std::string ours = folder + "ours.png";
        const std::string theirs = folder + "theirs.png";
        ASSERT_TRUE(SaveImageReplacing(source, FIF_PNG, ours));
        ASSERT_TRUE(FreeImage_Save(FIF_PNG, source, theirs.c_str(), PNG_DEFAULT));
        EXPECT_EQ(FreeImage_GetFileType(ours.c_str(), 0), FIF_PNG);

        FIBITMAP* decoded = FreeImage_Load(FIF_PNG, ours.c_str(), PNG_DEFAULT);
        FIBITMAP* decodedTheirs = FreeImage_Load(FIF_PNG, theirs.c_str(), PNG_DEFAULT);
        if (CanWritePng(source)) {
            EXPECT_EQ(FirstDifference(decoded, source), "");
        }
        EXPECT_EQ(FirstDifference(decoded, decodedTheirs), "");
        FreeImage_Unload(decoded);
        FreeImage_Unload(decodedTheirs);

        std::string problem;
        const std::vector<Chunk> chunks = ReadChunks(test::ReadBytes(ours), problem);
        EXPECT_EQ(problem, "");
        ASSERT_GE(chunks.size(), 3u);
        EXPECT_EQ(chunks.front().type, "IHDR");
        EXPECT_EQ(chunks.back().type, "IEND");
        EXPECT_EQ(chunks.back().data, "");
        const auto isData = [](const Chunk& chunk) { return chunk.type == "IDAT"; };
        const auto firstData = std::find_if(chunks.begin(), chunks.end(), isData);
        const auto afterData = std::find_if(chunks.rbegin(), chunks.rend(), isData).base();
        EXPECT_TRUE(firstData < afterData && std::all_of(firstData, afterData, isData)) << "IDAT chunks in one run";
        for (const Chunk& chunk : chunks)
            EXPECT_LE(chunk.data.size(), std::size_t(4) << 20) << chunk.type;

        if (CanWritePng(source)) {
            const unsigned width = FreeImage_GetWidth(source);
            const unsigned height = FreeImage_GetHeight(source);
            const std::string& header = chunks.front().data;
            ASSERT_EQ(header.size(), 13u);
            EXPECT_EQ(BigEndian(header, 0), width);
            EXPECT_EQ(BigEndian(header, 4), height);
            EXPECT_EQ(header.substr(8), std::string("\x08\x02\0\0\0", 5)) << "8-bit RGB, not interlaced";
            const std::vector<int> filters = RowFilters(chunks, width, height);
            ASSERT_EQ(filters.size(), height);
            for (unsigned row = 1; row < height && c.laterRowsFilter >= 0; ++row)
                EXPECT_EQ(filters[row], c.laterRowsFilter) << "row " << row;
            filtersSeen.insert(filters.begin(), filters.end());
        }
        FreeImage_Unload(source);
    }
    EXPECT_EQ(filtersSeen, (std::set<int> { kNone, kSub, kUp, kAverage, kPaeth })) << "some filter never compared";
}

// Lets a write grow a file only up to the given size, as a full disk would.
void LimitFileSize(rlim_t bytes) {
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

TEST_F(PngFileTest, FailedSaveKeepsTheEarlierFileAndLeavesNoTemporaryFile) {
    FIBITMAP* image = MakeImage(1000, 800, [](int x, int y) { return Hash(x, y) & 0xFFFFFFu; });
    ASSERT_NE(image, nullptr);
    const std::string target = folder + "welded.png";
    ASSERT_TRUE(SaveImageReplacing(image, FIF_PNG, target));
    const std::uintmax_t size = std::filesystem::file_size(target);
    ASSERT_GT(size, 2u << 20) << "the image should fill more than one IDAT chunk";
    const std::string earlier = "the welded file of an earlier run";

    struct Case {
        const char* name;
        std::string path;
        rlim_t fileSizeLimit;
    };
    // Besides the two folders, the disk fills up in the signature, in the header, in the first and in
    // the last IDAT chunk, and in the closing chunk.
    const Case cases[] = {
        { "target folder missing", folder + "missing/welded.png", RLIM_INFINITY },
        { "target name taken by a folder", folder + "taken.png", RLIM_INFINITY },
        { "disk full at once", target, 0 },
        { "disk full in the header", target, 20 },
        { "disk full in the first IDAT chunk", target, 4096 },
        { "disk full in the last IDAT chunk", target, size - 100 },
        { "disk full in the closing chunk", target, size - 1 },
    };
    std::filesystem::create_directory(folder + "taken.png");
    test::WriteBytes(folder + "taken.png/inside", "kept");
    const auto ignoreSignal = std::signal(SIGXFSZ, SIG_IGN);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteBytes(target, earlier);
        const std::set<std::string> listing = test::FilesIn(folder);
        LimitFileSize(c.fileSizeLimit);
        const bool saved = SaveImageReplacing(image, FIF_PNG, c.path);
        LimitFileSize(RLIM_INFINITY);
        EXPECT_FALSE(saved);
        EXPECT_EQ(test::ReadBytes(target), earlier);
        EXPECT_EQ(test::FilesIn(folder), listing) << "no temporary file stays behind";
    }
    std::signal(SIGXFSZ, ignoreSignal);
    EXPECT_EQ(test::ReadBytes(folder + "taken.png/inside"), "kept");
    FreeImage_Unload(image);
}

} // namespace
} // namespace vantaro
