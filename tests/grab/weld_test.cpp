#include "grab_test_files.h"
#include "main_window.h"
#include "weld.h"
#include "weld_fixture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace vantaro {
namespace {

const std::string kId = "Xq3_vB7-kLm9PzR2tYw8Ha";

void ChoosePng(bool png) {
    SetSelected(Ui().OutputPngOption, png);
    SetSelected(Ui().OutputJpegOption, !png);
}

class WeldTest : public testing::Test {
protected:
    void SetUp() override {
        OpenMainWindow(0, 0, 440, 450);
        folder = test::MakeTemporaryFolder("vantaro_weld") + "/";
    }
    void TearDown() override {
        CloseMainWindow();
        std::filesystem::remove_all(folder);
    }
    std::string folder;
};

// One level-1 panorama of two tiles, with the controls changed at the moments they are read.
TEST_F(WeldTest, ControlsSteerTheWeldAtTheMomentsTheyAreRead) {
    struct Case {
        const char* name;
        bool weldAtStart;
        bool weldAfterFirstTile; // Weld Tiles from just after the first tile to the end
        bool secondTileReadable;
        bool cropAtEnd;
        bool pngAtEnd;
        WeldResult result;
        std::set<std::string> files;
        int width;
        int height;
    };
    const Case cases[] = {
        { "welded, cropped, PNG", true, true, true, true, true, WeldResult::Saved, { kId + "_welded.png" }, 832, 416 },
        { "crop off and JPEG chosen during the panorama", true, true, true, false, false, WeldResult::Saved,
            { kId + "_welded.jpg" }, 1024, 512 },
        { "a tile that is not a JPEG stays and leaves its cell black", true, true, false, true, true, WeldResult::Saved,
            { kId + "_tile2.jpg", kId + "_welded.png" }, 832, 416 },
        { "Weld Tiles switched off after the first tile", true, false, true, true, true, WeldResult::NotSaved,
            { kId + "_tile2.jpg" }, 0, 0 },
        { "Weld Tiles off at the start, on at the end", false, true, true, true, true, WeldResult::NotSaved,
            { kId + "_tile1.jpg", kId + "_tile2.jpg" }, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tiles[] = { folder + kId + "_tile1.jpg", folder + kId + "_tile2.jpg" };
        ASSERT_TRUE(test::WriteSolidJpeg(tiles[0], 512, 512, test::CellColour(0, 0)));
        if (c.secondTileReadable)
            ASSERT_TRUE(test::WriteSolidJpeg(tiles[1], 512, 512, test::CellColour(1, 0)));
        else
            test::WriteBytes(tiles[1], "<html>Not found</html>");
        SetSliderPosition(1);
        SetChecked(Ui().WeldTilesCheck, c.weldAtStart);
        SetChecked(Ui().CropPanoramaCheck, !c.cropAtEnd);
        ChoosePng(!c.pngAtEnd);

        FIBITMAP* canvas = BeginWeld(TileGridForLevel(1), nullptr);
        EXPECT_EQ(canvas != nullptr, c.weldAtStart);
        // The run calls WeldTile only while it has a canvas.
        if (canvas)
            WeldTile(canvas, tiles[0], 0, 0);
        SetChecked(Ui().WeldTilesCheck, c.weldAfterFirstTile);
        if (canvas)
            WeldTile(canvas, tiles[1], 1, 0);
        SetChecked(Ui().CropPanoramaCheck, c.cropAtEnd);
        ChoosePng(c.pngAtEnd);
        // The crop follows the run's level, not a slider moved since.
        SetSliderPosition(5);
        EXPECT_EQ(FinishWeld(canvas, folder, kId, 1), c.result);
        EndWeld(canvas);

        EXPECT_EQ(test::FilesIn(folder), c.files);
        if (c.result == WeldResult::Saved) {
            const std::string welded = folder + kId + (c.pngAtEnd ? "_welded.png" : "_welded.jpg");
            FIBITMAP* image = FreeImage_Load(c.pngAtEnd ? FIF_PNG : FIF_JPEG, welded.c_str(), 0);
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(int(FreeImage_GetWidth(image)), c.width);
            EXPECT_EQ(int(FreeImage_GetHeight(image)), c.height);
            EXPECT_EQ(test::CheckCells(image, TileGridForLevel(1),
                          [&](int x, int y) { return x == 1 && !c.secondTileReadable ? 0 : test::CellColour(x, y); }),
                "");
            FreeImage_Unload(image);
        }
        for (const std::string& name : test::FilesIn(folder))
            std::filesystem::remove(folder + name);
    }
}

} // namespace
} // namespace vantaro
