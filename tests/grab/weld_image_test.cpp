#include "grab_test_files.h"
#include "tile_server.h"
#include "weld_fixture.h"
#include "weld_image.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <vector>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace vantaro {
namespace {

using test::CellColour;

const std::string kId = "AbCdEfGhIjKlMnOpQrStUv";

// Kilobytes of the current and the peak resident set; the peak can be reset to the current one.
long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::string(key).size()));
    }
    return -1;
}

void ResetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Rewrites the frame size in a baseline JPEG file's header.
void DeclareJpegSize(const std::string& path, unsigned width, unsigned height) {
    const std::string bytes = test::WithDeclaredJpegSize(test::ReadBytes(path), width, height);
    ASSERT_FALSE(bytes.empty());
    test::WriteBytes(path, bytes);
}

class WeldImageTest : public testing::Test {
protected:
    // One tile file per cell of the largest grid, shared by every test.
    static void SetUpTestSuite() {
        tileFolder = test::MakeTemporaryFolder("vantaro_weld") + "/";
        const TileGrid grid = TileGridForLevel(5);
        for (int y = 0; y < grid.rows; ++y) {
            for (int x = 0; x < grid.columns; ++x)
                ASSERT_TRUE(test::WriteSolidJpeg(TileFile(x, y), kTileSize, kTileSize, CellColour(x, y)));
        }
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(tileFolder); }
    void SetUp() override { folder = test::MakeTemporaryFolder("vantaro_weld") + "/"; }
    void TearDown() override { std::filesystem::remove_all(folder); }

    static std::string TileFile(int x, int y) {
        return tileFolder + "tile" + std::to_string(x) + "_" + std::to_string(y) + ".jpg";
    }
    static FIBITMAP* WeldedCanvas(int zoomLevel) {
        const TileGrid grid = TileGridForLevel(zoomLevel);
        FIBITMAP* canvas = AllocateCanvas(grid);
        for (int y = 0; y < grid.rows; ++y) {
            for (int x = 0; x < grid.columns; ++x)
                EXPECT_EQ(PasteTileFile(canvas, TileFile(x, y), x, y), PasteResult::Pasted);
        }
        return canvas;
    }

    static inline std::string tileFolder;
    std::string folder;
};

TEST_F(WeldImageTest, WeldedFileHasTheLevelsSizeWithEveryCellInPlace) {
    struct Case {
        int zoomLevel;
        bool crop;
        bool png;
        ImageSize size;
    };
    const Case cases[] = {
        { 0, true, true, { 416, 208 } },
        { 0, false, false, { 512, 512 } },
        { 1, true, false, { 832, 416 } },
        { 1, false, true, { 1024, 512 } },
        { 2, true, true, { 1664, 832 } },
        { 2, false, false, { 2048, 1024 } },
        { 3, true, false, { 3328, 1536 } },
        { 3, false, true, { 3584, 1536 } },
        { 4, true, true, { 6656, 3328 } },
        { 4, false, false, { 6656, 3584 } },
        { 5, true, false, { 13312, 6656 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.zoomLevel << (c.crop ? " cropped " : " whole ")
                                        << (c.png ? "PNG" : "JPEG"));
        FIBITMAP* canvas = WeldedCanvas(c.zoomLevel);
        ASSERT_NE(canvas, nullptr);
        const FinishChoices choices { true, c.crop, c.png };
        ASSERT_EQ(FinishCanvas(canvas, choices, folder, kId, c.zoomLevel), WeldResult::Saved);
        FreeImage_Unload(canvas);

        const std::string name = kId + (c.png ? "_welded.png" : "_welded.jpg");
        EXPECT_EQ(test::FilesIn(folder), std::set<std::string> { name });
        FIBITMAP* welded = FreeImage_Load(c.png ? FIF_PNG : FIF_JPEG, (folder + name).c_str(), 0);
        ASSERT_NE(welded, nullptr);
        EXPECT_EQ(FreeImage_GetFileType((folder + name).c_str(), 0), c.png ? FIF_PNG : FIF_JPEG);
        EXPECT_EQ(FreeImage_GetBPP(welded), 24u);
        EXPECT_EQ((ImageSize { int(FreeImage_GetWidth(welded)), int(FreeImage_GetHeight(welded)) }), c.size);
        EXPECT_EQ(test::CheckCells(welded, TileGridForLevel(c.zoomLevel), CellColour), "");
        FreeImage_Unload(welded);
        std::filesystem::remove(folder + name);
    }
}

TEST_F(WeldImageTest, TileIsScaledToFillItsCellOrRefusedLeavingItBlack) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        PasteResult result;
        unsigned cellColour;
    };
    const unsigned colour = 0x3C78B4;
    const auto solid = [colour](int width, int height, bool grey = false) {
        return [=](const std::string& path) { ASSERT_TRUE(test::WriteSolidJpeg(path, width, height, colour, grey)); };
    };
    const Case cases[] = {
        { "512 x 512", solid(512, 512), PasteResult::Pasted, colour },
        { "256 x 256 scaled up", solid(256, 256), PasteResult::Pasted, colour },
        { "512 x 256 scaled up", solid(512, 256), PasteResult::Pasted, colour },
        { "greyscale", solid(512, 512, true), PasteResult::Pasted, 0xB4B4B4 },
        // Loaded and not scaled, but wider than what is left of the canvas, so the paste is refused.
        { "4096 wide, the largest accepted", solid(4096, 600), PasteResult::NotPasted, 0 },
        { "4097 wide", solid(4097, 600), PasteResult::NotLoaded, 0 },
        { "4097 high", solid(600, 4097), PasteResult::NotLoaded, 0 },
        { "did not arrive", [](const std::string&) {}, PasteResult::NotLoaded, 0 },
        { "empty", [](const std::string& path) { test::WriteBytes(path, ""); }, PasteResult::NotLoaded, 0 },
        { "not a JPEG", [](const std::string& path) { test::WriteBytes(path, "<html>Service unavailable</html>"); },
            PasteResult::NotLoaded, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tileFile = folder + "tile.jpg";
        c.make(tileFile);
        FIBITMAP* canvas = AllocateCanvas(TileGridForLevel(1));
        ASSERT_NE(canvas, nullptr);
        EXPECT_EQ(PasteTileFile(canvas, tileFile, 1, 0), c.result);
        EXPECT_EQ(
            test::CheckCells(canvas, TileGridForLevel(1), [&](int x, int) { return x == 1 ? c.cellColour : 0; }), "");
        // The whole cell, up to its edges, not only its middle.
        if (c.cellColour != 0) {
            EXPECT_TRUE(test::ColoursNear(test::MeanColour(canvas, 512, 0, 8, 8), c.cellColour));
            EXPECT_TRUE(test::ColoursNear(test::MeanColour(canvas, 1016, 504, 8, 8), c.cellColour));
        }
        FreeImage_Unload(canvas);
        std::filesystem::remove(tileFile);
    }
}

TEST_F(WeldImageTest, HugeDeclaredTileIsRefusedBeforeItsPixelsAreAllocated) {
    // 8000 x 8000 would take 192 MB decoded; the file itself is a few hundred bytes.
    const std::string tileFile = folder + "tile.jpg";
    ASSERT_TRUE(test::WriteSolidJpeg(tileFile, 64, 64, 0x808080));
    DeclareJpegSize(tileFile, 8000, 8000);
    FIBITMAP* canvas = AllocateCanvas(TileGridForLevel(0));
    ASSERT_NE(canvas, nullptr);

    ResetPeakResident();
    const long before = StatusKilobytes("VmRSS:");
    EXPECT_EQ(PasteTileFile(canvas, tileFile, 0, 0), PasteResult::NotLoaded);
    const long peakGrowth = StatusKilobytes("VmHWM:") - before;
    EXPECT_LT(peakGrowth, 32 * 1024) << "kilobytes";

    EXPECT_EQ(test::MeanColour(canvas, 0, 0, 512, 512), 0u);
    EXPECT_TRUE(std::filesystem::exists(tileFile));
    FreeImage_Unload(canvas);
}

TEST_F(WeldImageTest, WeldTilesOffAtTheEndSavesNothing) {
    FIBITMAP* canvas = AllocateCanvas(TileGridForLevel(2));
    ASSERT_NE(canvas, nullptr);
    ASSERT_EQ(PasteTileFile(canvas, TileFile(0, 0), 0, 0), PasteResult::Pasted);
    FinishChoices choices;
    choices.weldTiles = false;
    EXPECT_EQ(FinishCanvas(canvas, choices, folder, kId, 2), WeldResult::NotSaved);
    EXPECT_EQ(FinishCanvas(nullptr, FinishChoices {}, folder, kId, 2), WeldResult::NotSaved);
    EXPECT_TRUE(test::FilesIn(folder).empty());
    EXPECT_TRUE(std::filesystem::exists(TileFile(0, 0)));
    FreeImage_Unload(canvas);
}

// The sanitizer build's leak check shows a canvas that is replaced but not released.
TEST_F(WeldImageTest, BlackCanvasClearsTheOneGivenWhenItFitsOtherwiseReplacesIt) {
    struct Case {
        int firstLevel;
        int nextLevel;
        bool reused;
    };
    for (const Case& c : { Case { 2, 2, true }, Case { 3, 2, false }, Case { 0, 1, false } }) {
        SCOPED_TRACE(testing::Message() << c.firstLevel << " then " << c.nextLevel);
        FIBITMAP* first = BlackCanvas(nullptr, TileGridForLevel(c.firstLevel));
        ASSERT_NE(first, nullptr);
        ASSERT_EQ(PasteTileFile(first, TileFile(0, 0), 0, 0), PasteResult::Pasted);
        FIBITMAP* next = BlackCanvas(first, TileGridForLevel(c.nextLevel));
        ASSERT_NE(next, nullptr);
        // A replaced canvas may come back at the freed address, so only reuse is told by the pointer.
        if (c.reused) {
            EXPECT_EQ(next, first);
        }
        EXPECT_EQ(test::CheckCells(next, TileGridForLevel(c.nextLevel), [](int, int) { return 0u; }), "");
        EXPECT_EQ(int(FreeImage_GetWidth(next)), CanvasSize(TileGridForLevel(c.nextLevel)).width);
        FreeImage_Unload(next);
    }
}

// Lets a write grow a file only up to a few bytes, as a full disk would.
void LimitFileSize(rlim_t bytes) {
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

// FreeImage's JPEG writer leaks its compressor (about 5 KB) when a write fails; that is not ours.
void IgnoreLeaks(bool ignore) {
#ifdef __SANITIZE_ADDRESS__
    ignore ? __lsan_disable() : __lsan_enable();
#else
    (void)ignore;
#endif
}

TEST_F(WeldImageTest, SaveReplacesTheEarlierFileOnlyWhenItSucceeds) {
    const std::string earlier = "the welded file of an earlier run";
    struct Case {
        const char* name;
        bool png;
        int zoomLevel; // the level the crop is taken for; the canvas is always level 2
        std::string outputFolder;
        std::function<void()> before;
        std::function<void()> after;
        WeldResult result;
    };
    const auto noLimit = [] { LimitFileSize(RLIM_INFINITY); };
    const auto smallLimit = [] { LimitFileSize(256); };
    const auto smallLimitJpeg = [] {
        IgnoreLeaks(true);
        LimitFileSize(256);
    };
    const auto noLimitJpeg = [] {
        LimitFileSize(RLIM_INFINITY);
        IgnoreLeaks(false);
    };
    const Case cases[] = {
        { "good PNG save", true, 2, folder, [] {}, [] {}, WeldResult::Saved },
        { "good JPEG save", false, 2, folder, [] {}, [] {}, WeldResult::Saved },
        { "disk full during a PNG save", true, 2, folder, smallLimit, noLimit, WeldResult::SaveFailed },
        { "disk full during a JPEG save", false, 2, folder, smallLimitJpeg, noLimitJpeg, WeldResult::SaveFailed },
        { "crop larger than the canvas", true, 4, folder, [] {}, [] {}, WeldResult::SaveFailed },
        { "output folder missing", true, 2, folder + "missing/", [] {}, [] {}, WeldResult::SaveFailed },
    };
    const auto ignoreSignal = std::signal(SIGXFSZ, SIG_IGN);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string weldedFile = folder + kId + (c.png ? "_welded.png" : "_welded.jpg");
        test::WriteBytes(weldedFile, earlier);
        const std::set<std::string> listing = test::FilesIn(folder);
        FIBITMAP* canvas = WeldedCanvas(2);
        c.before();
        const WeldResult result
            = FinishCanvas(canvas, FinishChoices { true, true, c.png }, c.outputFolder, kId, c.zoomLevel);
        c.after();
        FreeImage_Unload(canvas);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(test::FilesIn(folder), listing) << "no temporary file stays behind";
        if (c.result == WeldResult::Saved) {
            FIBITMAP* welded = FreeImage_Load(c.png ? FIF_PNG : FIF_JPEG, weldedFile.c_str(), 0);
            ASSERT_NE(welded, nullptr);
            EXPECT_EQ(FreeImage_GetWidth(welded), 1664u);
            FreeImage_Unload(welded);
        } else {
            EXPECT_EQ(test::ReadBytes(weldedFile), earlier);
        }
        std::filesystem::remove(weldedFile);
    }
    std::signal(SIGXFSZ, ignoreSignal);
}

TEST_F(WeldImageTest, WeldedNameTakenByAFolderFailsAndKeepsTheFolder) {
    const std::string weldedFile = folder + kId + "_welded.png";
    std::filesystem::create_directory(weldedFile);
    test::WriteBytes(weldedFile + "/inside", "kept");
    FIBITMAP* canvas = WeldedCanvas(0);
    EXPECT_EQ(FinishCanvas(canvas, FinishChoices {}, folder, kId, 0), WeldResult::SaveFailed);
    FreeImage_Unload(canvas);
    EXPECT_EQ(test::FilesIn(folder), std::set<std::string> { kId + "_welded.png" });
    EXPECT_EQ(test::ReadBytes(weldedFile + "/inside"), "kept");
}

} // namespace
} // namespace vantaro
