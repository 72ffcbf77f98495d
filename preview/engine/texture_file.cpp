// A picture goes to GL in bands of rows: a worker thread decodes the next bands while the GL thread
// hands each one over and folds it into the smaller mipmap levels. No full copy of the picture is
// ever made, and the driver neither converts pixels nor builds the chain, which on a software
// renderer cost more than decoding.
#include "texture_file.h"

#include <FreeImage.h>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <epoxy/gl.h>
#include <jpeglib.h>
#include <mutex>
#include <thread>
#include <vector>
#include <zlib.h>

static_assert(FREEIMAGE_COLORORDER == FREEIMAGE_COLORORDER_BGR, "FreeImage rows are BGR(A)");

namespace vantaro {

namespace {

using Clock = std::chrono::steady_clock;

// Even, so that the row pairs of the next level never straddle two bands.
constexpr int kBandRows = 32;
// Bands the decoder may run ahead of the GL thread.
constexpr int kBandSlots = 3;
// The screen gamma FreeImage corrects PNG files that state their gamma to.
constexpr double kScreenGamma = 2.2;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- sources of rows, top row first: RGBA (or BGRA), or for PNG the filtered rows of the file

struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// A PNG file's pixel data, inflated on the decoding thread and unfiltered on the GL thread.
struct PngStream {
    z_stream inflater = {};
    bool inflating = false;
    bool ended = false;
    // Bytes of the current IDAT chunk not yet read, and the CRC of what was.
    std::uint32_t chunkLeft = 0;
    std::uint32_t chunkCrc = 0;
    std::vector<unsigned char> input;
    int channels = 3;
    // Unfiltered bytes of one row; in the file each row has its filter's number before them.
    std::size_t rowBytes = 0;
    std::vector<unsigned char> previous;
    std::vector<unsigned char> current;
};

enum class SourceKind { None, Png, Jpeg, Bitmap };

struct ImageSource {
    SourceKind kind = SourceKind::None;
    int width = 0;
    int height = 0;
    bool bgra = false;
    std::FILE* file = nullptr;
    PngStream png;
    jpeg_decompress_struct jpeg = {};
    JpegFailure jpegFailure = {};
    bool jpegCreated = false;
    FIBITMAP* bitmap = nullptr;
    int nextRow = 0;
};

constexpr unsigned char kPngSignature[8] = { 137, 80, 78, 71, 13, 10, 26, 10 };
constexpr std::size_t kPngInputSize = 1 << 16;

std::uint32_t BigEndian(const unsigned char* bytes) {
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

bool ReadExactly(std::FILE* file, unsigned char* to, std::size_t size) {
    return std::fread(to, 1, size, file) == size;
}

// A small chunk whole, its CRC checked.
bool ReadSmallChunk(std::FILE* file, const unsigned char* type, std::uint32_t length, unsigned char* data) {
    unsigned char crc[4];
    if (!ReadExactly(file, data, length) || !ReadExactly(file, crc, 4))
        return false;
    return crc32(crc32(crc32(0, nullptr, 0), type, 4), data, length) == BigEndian(crc);
}

// Takes 8-bit RGB and RGBA files without interlacing or transparent colour that fit the GPU, which is
// what the welder writes, and reads up to the first pixel data; the rest go through FreeImage.
bool OpenPng(ImageSource& source, int maxSize) {
    unsigned char bytes[13];
    if (!ReadExactly(source.file, bytes, 8) || std::memcmp(bytes, kPngSignature, 8) != 0)
        return false;
    for (bool first = true;; first = false) {
        unsigned char head[8];
        if (!ReadExactly(source.file, head, 8))
            return false;
        const std::uint32_t length = BigEndian(head);
        const unsigned char* type = head + 4;
        const auto is = [type](const char* name) { return std::memcmp(type, name, 4) == 0; };
        if (length > 0x7fffffff || first != is("IHDR"))
            return false;
        if (is("IHDR")) {
            if (length != 13 || !ReadSmallChunk(source.file, type, length, bytes))
                return false;
            const std::uint32_t width = BigEndian(bytes);
            const std::uint32_t height = BigEndian(bytes + 4);
            const int depth = bytes[8], colour = bytes[9];
            if (width == 0 || height == 0 || width > std::uint32_t(maxSize) || height > std::uint32_t(maxSize)
                || depth != 8 || (colour != 2 && colour != 6) || bytes[10] != 0 || bytes[11] != 0 || bytes[12] != 0)
                return false;
            source.width = int(width);
            source.height = int(height);
            source.png.channels = colour == 6 ? 4 : 3;
        } else if (is("gAMA")) {
            // FreeImage corrects any other gamma to its screen's; it shows these files.
            if (length != 4 || !ReadSmallChunk(source.file, type, length, bytes)
                || std::abs(kScreenGamma * BigEndian(bytes) / 100000.0 - 1) > 0.01)
                return false;
        } else if (is("IDAT")) {
            source.png.chunkLeft = length;
            source.png.chunkCrc = crc32(crc32(0, nullptr, 0), type, 4);
            break;
        } else if (is("tRNS") || (std::isupper(type[0]) && !is("PLTE"))) {
            return false;
        } else if (std::fseek(source.file, long(length) + 4, SEEK_CUR) != 0) {
            return false;
        }
    }
    PngStream& png = source.png;
    png.rowBytes = std::size_t(source.width) * std::size_t(png.channels);
    png.input.resize(kPngInputSize);
    png.previous.assign(png.rowBytes, 0);
    png.current.resize(png.rowBytes);
    png.inflating = inflateInit(&png.inflater) == Z_OK;
    return png.inflating;
}

// More of the pixel data for the inflater; false past the last IDAT chunk or at a damaged one.
bool FeedInflater(ImageSource& source) {
    PngStream& png = source.png;
    while (png.chunkLeft == 0) {
        // This chunk's CRC, then the next chunk's length and type.
        unsigned char tail[12];
        if (!ReadExactly(source.file, tail, sizeof tail) || BigEndian(tail) != png.chunkCrc
            || std::memcmp(tail + 8, "IDAT", 4) != 0)
            return false;
        png.chunkLeft = BigEndian(tail + 4);
        png.chunkCrc = crc32(crc32(0, nullptr, 0), tail + 8, 4);
    }
    const std::size_t size = std::min<std::size_t>(png.chunkLeft, png.input.size());
    if (!ReadExactly(source.file, png.input.data(), size))
        return false;
    png.chunkCrc = crc32(png.chunkCrc, png.input.data(), uInt(size));
    png.chunkLeft -= std::uint32_t(size);
    png.inflater.next_in = png.input.data();
    png.inflater.avail_in = uInt(size);
    return true;
}

// The next rows as they are in the file, each its filter's number and its filtered bytes.
bool InflatePngRows(ImageSource& source, unsigned char* rows, int count) {
    z_stream& inflater = source.png.inflater;
    inflater.next_out = rows;
    inflater.avail_out = uInt(std::size_t(count) * (source.png.rowBytes + 1));
    while (inflater.avail_out > 0) {
        if (inflater.avail_in == 0 && !FeedInflater(source))
            return false;
        const int status = inflate(&inflater, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            source.png.ended = true;
            return inflater.avail_out == 0;
        }
        if (status != Z_OK)
            return false;
    }
    return true;
}

// After the last row: the stream's end and checksum, which libpng checks too. Data after the
// picture is let pass, as it does.
bool FinishPngStream(ImageSource& source) {
    z_stream& inflater = source.png.inflater;
    while (!source.png.ended) {
        unsigned char extra[64];
        inflater.next_out = extra;
        inflater.avail_out = sizeof extra;
        if (inflater.avail_in == 0 && !FeedInflater(source))
            return false;
        const int status = inflate(&inflater, Z_NO_FLUSH);
        source.png.ended = status == Z_STREAM_END;
        if (status != Z_OK && status != Z_STREAM_END)
            return false;
    }
    return true;
}

// The five filters of PNG undone for one row of n-byte pixels, with the row above (zeros above the
// first). Paeth's choice is as good as random on a photograph, so it is made without branches.
template <int N>
bool UnfilterRow(
    int filter, const unsigned char* in, const unsigned char* above, unsigned char* out, std::size_t size) {
    switch (filter) {
    case 0:
        std::memcpy(out, in, size);
        return true;
    case 1:
        for (std::size_t i = 0; i < size; ++i)
            out[i] = static_cast<unsigned char>(in[i] + (i >= N ? out[i - N] : 0));
        return true;
    case 2:
        for (std::size_t i = 0; i < size; ++i)
            out[i] = static_cast<unsigned char>(in[i] + above[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < size; ++i)
            out[i] = static_cast<unsigned char>(in[i] + (((i >= N ? out[i - N] : 0) + above[i]) >> 1));
        return true;
    case 4:
        for (std::size_t i = 0; i < N; ++i)
            out[i] = static_cast<unsigned char>(in[i] + above[i]);
        for (std::size_t i = N; i < size; ++i) {
            const int a = out[i - N], b = above[i], c = above[i - N];
            const int p = b - c, q = a - c;
            const int pa = std::abs(p), pb = std::abs(q), pc = std::abs(p + q);
            const int notA = -int(pa > pb || pa > pc);
            const int notB = -int(pb > pc);
            const int bOrC = (b & ~notB) | (c & notB);
            out[i] = static_cast<unsigned char>(in[i] + ((a & ~notA) | (bOrC & notA)));
        }
        return true;
    default:
        return false;
    }
}

// Filtered rows from the decoding thread into RGBA (or BGRA) rows for GL; false at an unknown filter.
bool UnfilterPngRows(ImageSource& source, const unsigned char* filtered, int count, unsigned char* rows) {
    PngStream& png = source.png;
    const int red = source.bgra ? 2 : 0;
    const int blue = source.bgra ? 0 : 2;
    for (int row = 0; row < count; ++row, filtered += png.rowBytes + 1) {
        const bool unfiltered = png.channels == 3
            ? UnfilterRow<3>(filtered[0], filtered + 1, png.previous.data(), png.current.data(), png.rowBytes)
            : UnfilterRow<4>(filtered[0], filtered + 1, png.previous.data(), png.current.data(), png.rowBytes);
        if (!unfiltered)
            return false;
        const unsigned char* from = png.current.data();
        unsigned char* to = rows + std::size_t(row) * std::size_t(source.width) * 4;
        for (int x = 0; x < source.width; ++x, from += png.channels, to += 4) {
            to[red] = from[0];
            to[1] = from[1];
            to[blue] = from[2];
            to[3] = png.channels == 4 ? from[3] : 0xff;
        }
        png.previous.swap(png.current);
    }
    return true;
}

[[noreturn]] void JpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}

// Warnings such as a file that ends early stay quiet, as with FreeImage: the missing part shows grey.
void JpegMessage(j_common_ptr) { }

// Takes colour and grey files that fit the GPU.
bool OpenJpeg(ImageSource& source, int maxSize) {
    source.jpeg.err = jpeg_std_error(&source.jpegFailure.manager);
    source.jpegFailure.manager.error_exit = JpegFailed;
    source.jpegFailure.manager.output_message = JpegMessage;
    if (setjmp(source.jpegFailure.jump))
        return false;
    jpeg_create_decompress(&source.jpeg);
    source.jpegCreated = true;
    jpeg_stdio_src(&source.jpeg, source.file);
    jpeg_read_header(&source.jpeg, TRUE);
    const J_COLOR_SPACE space = source.jpeg.jpeg_color_space;
    if ((space != JCS_YCbCr && space != JCS_GRAYSCALE && space != JCS_RGB)
        || source.jpeg.image_width > JDIMENSION(maxSize) || source.jpeg.image_height > JDIMENSION(maxSize))
        return false;
    source.jpeg.out_color_space = source.bgra ? JCS_EXT_BGRA : JCS_EXT_RGBA;
    // FreeImage's default decoding, so the pixels stay the ones it gave.
    source.jpeg.dct_method = JDCT_IFAST;
    source.jpeg.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&source.jpeg);
    source.width = int(source.jpeg.output_width);
    source.height = int(source.jpeg.output_height);
    return true;
}

// A failed read leaves through longjmp, past this frame: it holds nothing that needs destroying.
bool ReadJpegRowsOrLeave(jpeg_decompress_struct& jpeg, unsigned char* rows, std::size_t stride, int count) {
    JSAMPROW pointers[kBandRows];
    for (int done = 0; done < count;) {
        for (int i = done; i < count; ++i)
            pointers[i - done] = rows + std::size_t(i) * stride;
        const JDIMENSION read = jpeg_read_scanlines(&jpeg, pointers, JDIMENSION(count - done));
        if (read == 0)
            return false;
        done += int(read);
    }
    return true;
}

bool ReadJpegRows(ImageSource& source, unsigned char* rows, std::size_t stride, int count) {
    if (setjmp(source.jpegFailure.jump))
        return false;
    return ReadJpegRowsOrLeave(source.jpeg, rows, stride, count);
}

// The whole picture through FreeImage as 24 or 32 bits, scaled down to fit; null when unreadable.
FIBITMAP* LoadBitmap(const std::string& path, FREE_IMAGE_FORMAT format, int maxSize) {
    FIBITMAP* image = FreeImage_Load(format, path.c_str(), 0);
    if (image == nullptr)
        return nullptr;
    const unsigned bits = FreeImage_GetBPP(image);
    if (FreeImage_GetImageType(image) != FIT_BITMAP || (bits != 24 && bits != 32)) {
        FIBITMAP* converted = FreeImage_ConvertTo24Bits(image);
        FreeImage_Unload(image);
        image = converted;
        if (image == nullptr)
            return nullptr;
    }
    const int width = int(FreeImage_GetWidth(image));
    const int height = int(FreeImage_GetHeight(image));
    if (width <= 0 || height <= 0) {
        FreeImage_Unload(image);
        return nullptr;
    }
    if (width > maxSize || height > maxSize) {
        const double scale = std::min(double(maxSize) / width, double(maxSize) / height);
        const int newWidth = std::clamp(int(std::lround(width * scale)), 1, maxSize);
        const int newHeight = std::clamp(int(std::lround(height * scale)), 1, maxSize);
        FIBITMAP* scaled = FreeImage_Rescale(image, newWidth, newHeight, FILTER_BOX);
        FreeImage_Unload(image);
        image = scaled;
    }
    return image;
}

// FreeImage keeps the bottom row first, in BGR(A) order.
void CopyBitmapRows(ImageSource& source, unsigned char* rows, std::size_t stride, int count) {
    const int bytes = int(FreeImage_GetBPP(source.bitmap)) / 8;
    const int red = source.bgra ? 2 : 0;
    const int blue = source.bgra ? 0 : 2;
    for (int i = 0; i < count; ++i) {
        const BYTE* from = FreeImage_GetScanLine(source.bitmap, source.height - 1 - (source.nextRow + i));
        unsigned char* to = rows + std::size_t(i) * stride;
        for (int x = 0; x < source.width; ++x, from += bytes, to += 4) {
            to[red] = from[FI_RGBA_RED];
            to[1] = from[FI_RGBA_GREEN];
            to[blue] = from[FI_RGBA_BLUE];
            to[3] = bytes == 4 ? from[FI_RGBA_ALPHA] : 0xff;
        }
    }
}

void CloseImage(ImageSource& source) {
    if (source.png.inflating)
        inflateEnd(&source.png.inflater);
    if (source.jpegCreated)
        jpeg_destroy_decompress(&source.jpeg);
    if (source.file != nullptr)
        std::fclose(source.file);
    if (source.bitmap != nullptr)
        FreeImage_Unload(source.bitmap);
    source.png.inflating = false;
    source.jpegCreated = false;
    source.file = nullptr;
    source.bitmap = nullptr;
    source.kind = SourceKind::None;
}

bool OpenImage(const std::string& path, int maxSize, ImageSource& source) {
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(path.c_str());
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format))
        return false;
    if (format == FIF_PNG || format == FIF_JPEG) {
        source.file = std::fopen(path.c_str(), "rb");
        const bool opened
            = source.file != nullptr && (format == FIF_PNG ? OpenPng(source, maxSize) : OpenJpeg(source, maxSize));
        if (opened) {
            source.kind = format == FIF_PNG ? SourceKind::Png : SourceKind::Jpeg;
            return true;
        }
        CloseImage(source);
    }
    source.bitmap = LoadBitmap(path, format, maxSize);
    if (source.bitmap == nullptr)
        return false;
    source.kind = SourceKind::Bitmap;
    source.width = int(FreeImage_GetWidth(source.bitmap));
    source.height = int(FreeImage_GetHeight(source.bitmap));
    return true;
}

// The next rows into a band slot on the decoding thread: GL's rows, or for PNG the file's.
bool ReadRows(ImageSource& source, unsigned char* rows, int count) {
    const std::size_t stride = std::size_t(source.width) * 4;
    bool read = false;
    switch (source.kind) {
    case SourceKind::Png:
        read = InflatePngRows(source, rows, count)
            && (source.nextRow + count < source.height || FinishPngStream(source));
        break;
    case SourceKind::Jpeg:
        read = ReadJpegRows(source, rows, stride, count);
        break;
    case SourceKind::Bitmap:
        CopyBitmapRows(source, rows, stride, count);
        read = true;
        break;
    case SourceKind::None:
        break;
    }
    source.nextRow += count;
    return read;
}

std::size_t SlotSize(const ImageSource& source) {
    const std::size_t glRow = std::size_t(source.width) * 4;
    return kBandRows * (source.kind == SourceKind::Png ? std::max(glRow, source.png.rowBytes + 1) : glRow);
}

// --- the mipmap chain

struct MipLevel {
    int width = 0;
    int height = 0;
    int rowsMade = 0;
    // Rows made but not yet handed to GL.
    std::vector<unsigned char> band;
    int bandRows = 0;
};

struct Upload {
    GLenum format = GL_RGBA;
    std::vector<MipLevel> levels;
    TextureLoadTimes times;
};

std::vector<MipLevel> ChainFor(int width, int height) {
    std::vector<MipLevel> levels;
    levels.push_back({ width, height, 0, {}, 0 });
    while (width > 1 || height > 1) {
        width = std::max(width / 2, 1);
        height = std::max(height / 2, 1);
        levels.push_back({ width, height, 0, std::vector<unsigned char>(std::size_t(width) * 4 * kBandRows), 0 });
    }
    return levels;
}

// One row of the next level: each pixel the rounded mean of a 2 x 2 block of this one. A level one
// pixel wide pairs that pixel with itself; the last column of an odd width is left out, as GL sizes do.
void HalveRow(const unsigned char* top, const unsigned char* bottom, int width, unsigned char* out) {
    if (width == 1) {
        for (int c = 0; c < 4; ++c)
            out[c] = static_cast<unsigned char>((top[c] + bottom[c] + 1) >> 1);
        return;
    }
    const int outWidth = width / 2;
    for (int x = 0; x < outWidth; ++x, top += 8, bottom += 8, out += 4) {
        for (int c = 0; c < 4; ++c)
            out[c] = static_cast<unsigned char>((top[c] + top[c + 4] + bottom[c] + bottom[c + 4] + 2) >> 2);
    }
}

// Hands rows [first, first + count) of a level to GL and folds them into the next level. first is
// even, and so is count except in a level's last band.
void AddRows(Upload& upload, int level, const unsigned char* rows, int first, int count) {
    const MipLevel& current = upload.levels[std::size_t(level)];
    Clock::time_point start = Clock::now();
    glTexSubImage2D(GL_TEXTURE_2D, level, 0, first, current.width, count, upload.format, GL_UNSIGNED_BYTE, rows);
    (level == 0 ? upload.times.upload : upload.times.mipmaps) += Since(start);
    if (std::size_t(level) + 1 == upload.levels.size())
        return;
    MipLevel& next = upload.levels[std::size_t(level) + 1];
    const std::size_t stride = std::size_t(current.width) * 4;
    const std::size_t nextStride = std::size_t(next.width) * 4;
    // A level one row high pairs that row with itself; the last row of an odd height is left out.
    const int pairs = current.height == 1 ? 1 : count / 2;
    start = Clock::now();
    for (int i = 0; i < pairs; ++i) {
        const unsigned char* top = rows + std::size_t(2 * i) * stride;
        HalveRow(top, current.height == 1 ? top : top + stride, current.width,
            next.band.data() + std::size_t(next.bandRows) * nextStride);
        ++next.bandRows;
        ++next.rowsMade;
        if (next.bandRows == kBandRows || next.rowsMade == next.height) {
            upload.times.mipmaps += Since(start);
            AddRows(upload, level + 1, next.band.data(), next.rowsMade - next.bandRows, next.bandRows);
            next.bandRows = 0;
            start = Clock::now();
        }
    }
    upload.times.mipmaps += Since(start);
}

// The pixel order the driver keeps RGBA8 in, so that handing rows over is a plain copy.
GLenum UploadFormat() {
    if (epoxy_gl_version() < 43 && !epoxy_has_gl_extension("GL_ARB_internalformat_query2"))
        return GL_RGBA;
    GLint format = GL_RGBA;
    glGetInternalformativ(GL_TEXTURE_2D, GL_RGBA8, GL_TEXTURE_IMAGE_FORMAT, 1, &format);
    return format == GL_BGRA ? GL_BGRA : GL_RGBA;
}

// Storage for the whole chain at once: a driver that grows it level by level copies what it has.
void AllocateChain(const Upload& upload) {
    const GLsizei count = GLsizei(upload.levels.size());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, count - 1);
    if (epoxy_gl_version() >= 42 || epoxy_has_gl_extension("GL_ARB_texture_storage")) {
        glTexStorage2D(GL_TEXTURE_2D, count, GL_RGBA8, upload.levels[0].width, upload.levels[0].height);
        return;
    }
    for (GLint level = 0; level < count; ++level) {
        const MipLevel& size = upload.levels[std::size_t(level)];
        glTexImage2D(
            GL_TEXTURE_2D, level, GL_RGBA8, size.width, size.height, 0, upload.format, GL_UNSIGNED_BYTE, nullptr);
    }
}

// --- decoding beside the GL thread

struct BandQueue {
    std::mutex mutex;
    std::condition_variable changed;
    int decoded = 0;
    int handedOver = 0;
    bool failed = false;
    bool abandoned = false;
};

int BandCount(int height) {
    return (height + kBandRows - 1) / kBandRows;
}

void DecodeBands(ImageSource& source, unsigned char* slots, BandQueue& queue, double& seconds) {
    const std::size_t slotSize = SlotSize(source);
    for (int band = 0; band < BandCount(source.height); ++band) {
        {
            std::unique_lock lock(queue.mutex);
            queue.changed.wait(lock, [&] { return band - queue.handedOver < kBandSlots || queue.abandoned; });
            if (queue.abandoned)
                return;
        }
        const Clock::time_point start = Clock::now();
        const int rows = std::min(kBandRows, source.height - band * kBandRows);
        const bool read = ReadRows(source, slots + std::size_t(band % kBandSlots) * slotSize, rows);
        seconds += Since(start);
        {
            std::lock_guard lock(queue.mutex);
            if (read)
                ++queue.decoded;
            else
                queue.failed = true;
        }
        queue.changed.notify_all();
        if (!read)
            return;
    }
}

} // namespace

bool FillTextureFromFile(const std::string& path, TextureLoadTimes* times) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    Upload upload;
    upload.format = UploadFormat();
    ImageSource source;
    source.bgra = upload.format == GL_BGRA;
    const Clock::time_point opening = Clock::now();
    if (!OpenImage(path, std::max(maxSize, 64), source)) {
        CloseImage(source);
        return false;
    }
    upload.times.decode = Since(opening);
    upload.levels = ChainFor(source.width, source.height);
    const std::size_t slotSize = SlotSize(source);
    std::vector<unsigned char> slots(slotSize * kBandSlots);
    // PNG rows are unfiltered here, beside the inflating.
    std::vector<unsigned char> unfiltered(
        source.kind == SourceKind::Png ? std::size_t(source.width) * 4 * kBandRows : 0);
    BandQueue queue;
    double decodeSeconds = 0;
    std::thread decoder([&] { DecodeBands(source, slots.data(), queue, decodeSeconds); });

    const Clock::time_point allocating = Clock::now();
    AllocateChain(upload);
    upload.times.storage = Since(allocating);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    bool complete = true;
    for (int band = 0; band < BandCount(source.height) && complete; ++band) {
        {
            std::unique_lock lock(queue.mutex);
            queue.changed.wait(lock, [&] { return queue.decoded > band || queue.failed; });
            complete = !queue.failed;
        }
        const int rows = std::min(kBandRows, source.height - band * kBandRows);
        unsigned char* slot = slots.data() + std::size_t(band % kBandSlots) * slotSize;
        const unsigned char* pixels = slot;
        if (complete && source.kind == SourceKind::Png) {
            const Clock::time_point start = Clock::now();
            complete = UnfilterPngRows(source, slot, rows, unfiltered.data());
            pixels = unfiltered.data();
            upload.times.decode += Since(start);
        }
        if (complete)
            AddRows(upload, 0, pixels, band * kBandRows, rows);
        {
            std::lock_guard lock(queue.mutex);
            ++queue.handedOver;
            queue.abandoned = !complete;
        }
        queue.changed.notify_all();
    }
    decoder.join();
    CloseImage(source);
    upload.times.decode += decodeSeconds;
    if (times != nullptr)
        *times = upload.times;
    return complete;
}

} // namespace vantaro
