// The engine's texture loading on Mesa's OpenGL: every mipmap level read back and compared with the
// picture FreeImage decodes from the same file (what the engine showed before) and with 2 x 2 box
// averages of it. PNG files are also written here, with each row filter and chunk layout.
#include "texture_file.h"

#include <FreeImage.h>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTemporaryDir>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace vantaro {
namespace {

// Four bytes a pixel, RGBA, the top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bytes;

    unsigned char At(int x, int y, int channel) const {
        return bytes[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4 + std::size_t(channel)];
    }
};

Picture FromBitmap(FIBITMAP* image) {
    Picture picture;
    picture.width = int(FreeImage_GetWidth(image));
    picture.height = int(FreeImage_GetHeight(image));
    const int bytes = int(FreeImage_GetBPP(image)) / 8;
    for (int y = 0; y < picture.height; ++y) {
        const BYTE* pixel = FreeImage_GetScanLine(image, picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x, pixel += bytes)
            picture.bytes.insert(picture.bytes.end(),
                { pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE], bytes == 4 ? pixel[3] : BYTE(255) });
    }
    return picture;
}

// FreeImage's picture of a file as 24 or 32 bits, fitted into maxSize as the engine always did.
Picture FreeImagePicture(const std::string& path, int maxSize = 1 << 30) {
    FIBITMAP* image = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
    if (image == nullptr)
        return {};
    const unsigned bits = FreeImage_GetBPP(image);
    if (FreeImage_GetImageType(image) != FIT_BITMAP || (bits != 24 && bits != 32)) {
        FIBITMAP* converted = FreeImage_ConvertTo24Bits(image);
        FreeImage_Unload(image);
        image = converted;
    }
    const int width = int(FreeImage_GetWidth(image));
    const int height = int(FreeImage_GetHeight(image));
    if (width > maxSize || height > maxSize) {
        const double scale = std::min(double(maxSize) / width, double(maxSize) / height);
        FIBITMAP* scaled = FreeImage_Rescale(image, std::clamp(int(std::lround(width * scale)), 1, maxSize),
            std::clamp(int(std::lround(height * scale)), 1, maxSize), FILTER_BOX);
        FreeImage_Unload(image);
        image = scaled;
    }
    Picture picture = FromBitmap(image);
    FreeImage_Unload(image);
    return picture;
}

// The next mipmap level: rounded means of 2 x 2 blocks. A side one pixel long pairs that pixel with
// itself; an odd side leaves its last pixel out.
Picture Halve(const Picture& level) {
    Picture next;
    next.width = std::max(level.width / 2, 1);
    next.height = std::max(level.height / 2, 1);
    for (int y = 0; y < next.height; ++y) {
        const int top = 2 * y, bottom = level.height == 1 ? 0 : 2 * y + 1;
        for (int x = 0; x < next.width; ++x) {
            const int left = 2 * x, right = level.width == 1 ? 0 : 2 * x + 1;
            for (int c = 0; c < 4; ++c) {
                const int sum = level.At(left, top, c) + level.At(right, top, c) + level.At(left, bottom, c)
                    + level.At(right, bottom, c);
                next.bytes.push_back(static_cast<unsigned char>((sum + 2) / 4));
            }
        }
    }
    return next;
}

// A test picture with smooth runs and noise, so that PNG and JPEG use all their means.
FIBITMAP* PaintPicture(int width, int height, bool alpha) {
    FIBITMAP* image = FreeImage_Allocate(width, height, alpha ? 32 : 24);
    const int bytes = alpha ? 4 : 3;
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        BYTE* pixel = FreeImage_GetScanLine(image, height - 1 - y);
        for (int x = 0; x < width; ++x, pixel += bytes) {
            noise = noise * 1103515245u + 12345u;
            pixel[FI_RGBA_RED] = BYTE(x * 255 / width);
            pixel[FI_RGBA_GREEN] = BYTE(y * 255 / height);
            pixel[FI_RGBA_BLUE] = x < width / 2 ? BYTE(noise >> 24) : BYTE((x + y) % 7 * 30);
            if (alpha)
                pixel[FI_RGBA_ALPHA] = BYTE((x ^ y) & 0xff);
        }
    }
    return image;
}

Picture Painted(int width, int height, bool alpha) {
    FIBITMAP* image = PaintPicture(width, height, alpha);
    Picture picture = FromBitmap(image);
    FreeImage_Unload(image);
    return picture;
}

void AppendBigEndian(std::vector<unsigned char>& out, std::uint32_t value) {
    out.insert(out.end(), { BYTE(value >> 24), BYTE(value >> 16), BYTE(value >> 8), BYTE(value) });
}

void AppendChunk(std::vector<unsigned char>& out, const char* type, const unsigned char* data, std::size_t size) {
    AppendBigEndian(out, std::uint32_t(size));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    AppendBigEndian(out, std::uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

int PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

struct PngLayout {
    const char* name;
    int channels;
    // Row filters, used in turn from the top row.
    std::vector<int> filters;
    std::size_t idatSize;
    // The gAMA chunk's value; none when 0.
    std::uint32_t gamma;
    bool textChunkFirst;
    // Damage with correct chunk CRCs: a row filter PNG has not, or a wrong zlib checksum.
    bool unknownFilter;
    bool wrongChecksum;
};

// The picture as a PNG file of 8-bit RGB or RGBA rows, filtered as the layout says.
std::vector<unsigned char> EncodePng(const Picture& picture, const PngLayout& layout) {
    const std::size_t rowBytes = std::size_t(picture.width) * std::size_t(layout.channels);
    const auto sample = [&](int x, int y, std::size_t i) -> int {
        if (x < 0 || y < 0)
            return 0;
        return picture.At(x, y, int(i));
    };
    std::vector<unsigned char> filtered;
    for (int y = 0; y < picture.height; ++y) {
        const int filter = layout.unknownFilter && y == picture.height / 2
            ? 5
            : layout.filters[std::size_t(y) % layout.filters.size()];
        filtered.push_back(BYTE(filter));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int x = int(i) / layout.channels;
            const std::size_t channel = i % std::size_t(layout.channels);
            const int value = sample(x, y, channel), a = sample(x - 1, y, channel), b = sample(x, y - 1, channel),
                      c = sample(x - 1, y - 1, channel);
            const int predictions[5] = { 0, a, b, (a + b) / 2, PaethPredictor(a, b, c) };
            filtered.push_back(BYTE(value - predictions[std::min(filter, 4)]));
        }
    }
    std::vector<unsigned char> compressed(compressBound(uLong(filtered.size())));
    uLongf compressedSize = uLongf(compressed.size());
    compress2(compressed.data(), &compressedSize, filtered.data(), uLong(filtered.size()), 6);
    compressed.resize(compressedSize);
    if (layout.wrongChecksum)
        compressed.back() ^= 0x55;

    std::vector<unsigned char> file = { 137, 80, 78, 71, 13, 10, 26, 10 };
    std::vector<unsigned char> header;
    AppendBigEndian(header, std::uint32_t(picture.width));
    AppendBigEndian(header, std::uint32_t(picture.height));
    header.insert(header.end(), { 8, BYTE(layout.channels == 4 ? 6 : 2), 0, 0, 0 });
    AppendChunk(file, "IHDR", header.data(), header.size());
    if (layout.textChunkFirst) {
        const std::string text = std::string("Comment") + '\0' + "made for a test";
        AppendChunk(file, "tEXt", reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
    if (layout.gamma != 0) {
        std::vector<unsigned char> gamma;
        AppendBigEndian(gamma, layout.gamma);
        AppendChunk(file, "gAMA", gamma.data(), gamma.size());
    }
    for (std::size_t at = 0; at < compressed.size(); at += layout.idatSize)
        AppendChunk(file, "IDAT", compressed.data() + at, std::min(layout.idatSize, compressed.size() - at));
    AppendChunk(file, "IEND", nullptr, 0);
    return file;
}

bool WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

bool SaveBitmap(FIBITMAP* image, FREE_IMAGE_FORMAT format, int flags, const std::string& path) {
    const bool saved = image != nullptr && FreeImage_Save(format, image, path.c_str(), flags);
    FreeImage_Unload(image);
    return saved;
}

class TextureFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        surface.create();
        ASSERT_TRUE(context.create());
        ASSERT_TRUE(context.makeCurrent(&surface));
        gl = context.functions();
        getTexImage = reinterpret_cast<GetTexImage>(context.getProcAddress("glGetTexImage"));
        getLevelParameter = reinterpret_cast<GetLevelParameter>(context.getProcAddress("glGetTexLevelParameteriv"));
        ASSERT_NE(getTexImage, nullptr);
        ASSERT_NE(getLevelParameter, nullptr);
        gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    }

    void TearDown() override { context.doneCurrent(); }

    std::string Path(const std::string& name) const { return folder.path().toStdString() + "/" + name; }

    // Loads the file into a new texture and reads back every level; none when the load failed.
    std::vector<Picture> Load(const std::string& path) {
        GLuint name = 0;
        gl->glGenTextures(1, &name);
        gl->glBindTexture(GL_TEXTURE_2D, name);
        std::vector<Picture> levels;
        if (FillTextureFromFile(path, nullptr)) {
            EXPECT_EQ(gl->glGetError(), GLenum(GL_NO_ERROR));
            GLint maxLevel = -1;
            gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, &maxLevel);
            gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
            for (GLint level = 0; level <= maxLevel; ++level) {
                Picture picture;
                getLevelParameter(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &picture.width);
                getLevelParameter(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &picture.height);
                picture.bytes.resize(std::size_t(picture.width) * std::size_t(picture.height) * 4);
                getTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, picture.bytes.data());
                levels.push_back(picture);
            }
        }
        gl->glBindTexture(GL_TEXTURE_2D, 0);
        gl->glDeleteTextures(1, &name);
        gl->glGetError();
        return levels;
    }

    // Level 0 is the picture; each level after it the box averages of the one before, down to 1 x 1.
    static void ExpectLevels(const std::vector<Picture>& levels, Picture expected) {
        ASSERT_GT(expected.width, 0);
        const int largest = std::max(expected.width, expected.height);
        ASSERT_EQ(levels.size(), std::size_t(std::bit_width(unsigned(largest))));
        for (std::size_t level = 0; level < levels.size(); ++level, expected = Halve(expected)) {
            const Picture& got = levels[level];
            ASSERT_EQ(got.width, expected.width) << "level " << level;
            ASSERT_EQ(got.height, expected.height) << "level " << level;
            const auto differs = std::mismatch(got.bytes.begin(), got.bytes.end(), expected.bytes.begin());
            if (differs.first != got.bytes.end()) {
                const std::size_t at = std::size_t(differs.first - got.bytes.begin());
                const std::size_t pixel = at / 4;
                ADD_FAILURE() << "level " << level << " differs first at x " << pixel % std::size_t(got.width) << ", y "
                              << pixel / std::size_t(got.width) << ", channel " << at % 4 << ": " << int(*differs.first)
                              << " instead of " << int(*differs.second);
                return;
            }
        }
    }

    using GetTexImage = void (*)(GLenum, GLint, GLenum, GLenum, void*);
    using GetLevelParameter = void (*)(GLenum, GLint, GLenum, GLint*);
    QTemporaryDir folder;
    QOffscreenSurface surface;
    QOpenGLContext context;
    QOpenGLFunctions* gl = nullptr;
    GetTexImage getTexImage = nullptr;
    GetLevelParameter getLevelParameter = nullptr;
    GLint maxSize = 0;
};

// Odd sizes that cross bands of rows at level 0 and below, in the files the welder writes and in
// those only FreeImage reads.
TEST_F(TextureFileTest, EveryLevelIsThePictureFreeImageGaveOrItsBoxAverages) {
    struct Case {
        const char* file;
        FREE_IMAGE_FORMAT format;
        int flags;
        bool alpha;
        FREE_IMAGE_TYPE type;
        bool grey;
    };
    const Case cases[] = {
        { "rgb.png", FIF_PNG, PNG_DEFAULT, false, FIT_BITMAP, false },
        { "rgba.png", FIF_PNG, PNG_DEFAULT, true, FIT_BITMAP, false },
        { "colour.jpg", FIF_JPEG, JPEG_DEFAULT, false, FIT_BITMAP, false },
        { "progressive.jpg", FIF_JPEG, JPEG_PROGRESSIVE, false, FIT_BITMAP, false },
        { "grey.jpg", FIF_JPEG, JPEG_DEFAULT, false, FIT_BITMAP, true },
        { "interlaced.png", FIF_PNG, PNG_INTERLACED, false, FIT_BITMAP, false },
        { "grey.png", FIF_PNG, PNG_DEFAULT, false, FIT_BITMAP, true },
        { "rgb16.png", FIF_PNG, PNG_DEFAULT, false, FIT_RGB16, false },
        { "rgb.bmp", FIF_BMP, BMP_DEFAULT, false, FIT_BITMAP, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        FIBITMAP* image = PaintPicture(333, 197, c.alpha);
        FIBITMAP* converted = c.grey ? FreeImage_ConvertTo8Bits(image)
            : c.type != FIT_BITMAP   ? FreeImage_ConvertToType(image, c.type)
                                     : nullptr;
        if (converted != nullptr) {
            FreeImage_Unload(image);
            image = converted;
        }
        ASSERT_TRUE(SaveBitmap(image, c.format, c.flags, Path(c.file)));
        ExpectLevels(Load(Path(c.file)), FreeImagePicture(Path(c.file)));
    }
}

TEST_F(TextureFileTest, PngRowFiltersAndChunksComeBackExactly) {
    const std::vector<int> allFilters = { 0, 1, 2, 3, 4 };
    const PngLayout layouts[] = {
        { "RGB, every filter", 3, allFilters, 1 << 20, 0, false, false, false },
        { "RGBA, every filter", 4, { 4, 3, 2, 1, 0 }, 1 << 20, 0, false, false, false },
        { "small IDAT chunks after a text chunk", 3, { 4 }, 97, 0, true, false, false },
        { "gamma of a screen stated", 3, { 1, 4 }, 4096, 45455, false, false, false },
        // FreeImage brightens a linear file for the screen, and the engine shows it so.
        { "linear gamma stated", 3, { 2, 4 }, 4096, 100000, false, false, false },
    };
    const Picture picture = Painted(45, 70, true);
    for (const PngLayout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const std::string path = Path("made.png");
        ASSERT_TRUE(WriteFile(path, EncodePng(picture, layout)));
        const Picture expected = FreeImagePicture(path);
        Picture written = picture;
        for (std::size_t i = 3; layout.channels == 3 && i < written.bytes.size(); i += 4)
            written.bytes[i] = 255;
        if (layout.gamma != 100000) {
            EXPECT_EQ(expected.bytes, written.bytes) << "FreeImage reads the file otherwise";
        }
        ExpectLevels(Load(path), expected);
    }
}

TEST_F(TextureFileTest, PictureLargerThanTheGpuTakesIsScaledDownAsBefore) {
    ASSERT_GT(maxSize, 0);
    ASSERT_TRUE(SaveBitmap(PaintPicture(maxSize + 256, 16, false), FIF_PNG, PNG_DEFAULT, Path("wide.png")));
    const Picture expected = FreeImagePicture(Path("wide.png"), maxSize);
    ASSERT_EQ(expected.width, maxSize);
    ExpectLevels(Load(Path("wide.png")), expected);
}

TEST_F(TextureFileTest, DamagedFilesFailOrShowWhatFreeImageShowed) {
    const Picture picture = Painted(64, 80, false);
    const PngLayout good = { "", 3, { 4 }, 1000, 0, false, false, false };
    PngLayout unknownFilter = good, wrongChecksum = good;
    unknownFilter.unknownFilter = true;
    wrongChecksum.wrongChecksum = true;
    const std::vector<unsigned char> png = EncodePng(picture, good);
    std::vector<unsigned char> cut(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 2));
    std::vector<unsigned char> wrongCrc = png;
    // The first IDAT chunk's CRC: after the signature, IHDR (25 bytes), and the IDAT's head and data.
    wrongCrc[8 + 25 + 8 + 1000] ^= 1;
    ASSERT_TRUE(SaveBitmap(PaintPicture(64, 80, false), FIF_JPEG, JPEG_DEFAULT, Path("whole.jpg")));
    const std::vector<unsigned char> jpeg = ReadFile(Path("whole.jpg"));

    struct Case {
        const char* file;
        std::vector<unsigned char> bytes;
        bool loads;
    };
    const Case cases[] = {
        { "empty.png", {}, false },
        { "text.png", { 'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e' }, false },
        { "cut.png", cut, false },
        { "wrong-crc.png", wrongCrc, false },
        { "unknown-filter.png", EncodePng(picture, unknownFilter), false },
        { "wrong-checksum.png", EncodePng(picture, wrongChecksum), false },
        // The decoder fills the missing part with grey, as it did under FreeImage.
        { "cut.jpg", std::vector<unsigned char>(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2)), true },
    };
    EXPECT_TRUE(Load(Path("missing.png")).empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(WriteFile(Path(c.file), c.bytes));
        const std::vector<Picture> levels = Load(Path(c.file));
        EXPECT_EQ(!levels.empty(), c.loads);
        if (c.loads)
            ExpectLevels(levels, FreeImagePicture(Path(c.file)));
    }
}

} // namespace
} // namespace vantaro
