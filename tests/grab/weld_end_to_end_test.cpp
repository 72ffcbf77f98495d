#include "download.h"
#include "grab_run.h"
#include "grab_test_files.h"
#include "main_window.h"
#include "modal_box.h"
#include "platform.h"
#include "tile_server.h"
#include "tile_server_window_test.h"
#include "tiles.h"
#include "weld_fixture.h"

#include <FreeImage.h>
#include <QListWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace vantaro {
namespace {

namespace fs = std::filesystem;

const std::string kDone = "Grabbing process is finished! You can examine each pano using the built-in preview.";
const std::string kId = "Xq3_vB7-kLm9PzR2tYw8Ha";

class WeldEndToEndTest : public test::TileServerWindowTest { };

TEST_F(WeldEndToEndTest, GrabbedTilesBecomeOneWeldedFileWithEveryTileInItsCell) {
    struct Case {
        const char* name;
        int zoomLevel;
        bool crop;
        bool png;
        int failingX; // the tile column the server refuses at row 1, or -1
        bool weldedNameTaken; // a folder already holds the welded file's name
        std::set<std::string> files;
        int width;
        int height;
        std::string doneText;
    };
    const Case cases[] = {
        { "level 2, cropped PNG, one tile missing", 2, true, true, 1, false, { kId + "_welded.png" }, 1664, 832,
            kDone + "\n\n1 of 8 tiles could not be downloaded." },
        { "level 4, whole JPEG", 4, false, false, -1, false, { kId + "_welded.jpg" }, 6656, 3584, kDone },
        { "level 0, the save fails", 0, true, true, -1, true, { kId + "_welded.png" }, 0, 0,
            kDone + "\n\n1 of 1 welded panoramas could not be saved." },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = folder + "/" + std::to_string(c.zoomLevel) + "/";
        const std::string welded = output + kId + (c.png ? "_welded.png" : "_welded.jpg");
        if (c.weldedNameTaken)
            fs::create_directories(welded);
        test::SetTileFaultRule([&c](const test::TileRequest& request) {
            return request.x == c.failingX && request.y == 1 ? test::TileFault::NotFound : test::TileFault::None;
        });
        SetOutputFolderText(output);
        SetSliderPosition(c.zoomLevel);
        SetChecked(Ui().WeldTilesCheck, 1);
        SetChecked(Ui().CropPanoramaCheck, c.crop);
        SetSelected(Ui().OutputPngOption, c.png);
        SetSelected(Ui().OutputJpegOption, !c.png);
        while (ListItemCount() > 0)
            RemoveListItem(0);
        AddListItem(kId);

        const auto box = test::AnswerNextModal("OK");
        RunGrab();
        ASSERT_TRUE(box->seen);
        EXPECT_EQ(box->title, "Done");
        EXPECT_EQ(box->text.toStdString(), c.doneText);
        EXPECT_EQ(test::FilesIn(output), c.files) << "every tile file is gone";
        if (c.weldedNameTaken)
            continue;

        FIBITMAP* image = FreeImage_Load(c.png ? FIF_PNG : FIF_JPEG, welded.c_str(), 0);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(int(FreeImage_GetWidth(image)), c.width);
        EXPECT_EQ(int(FreeImage_GetHeight(image)), c.height);
        EXPECT_EQ(test::CheckCells(image, TileGridForLevel(c.zoomLevel),
                      [&c](int x, int y) { return x == c.failingX && y == 1 ? 0u : test::TileColour(x, y); }),
            "");
        FreeImage_Unload(image);
    }
}

TEST_F(WeldEndToEndTest, TilesThatArriveButCannotBeWeldedAreReportedAndTheirPanoramaStillMarked) {
    const std::string ids[] = { kId, "aaBBccDDeeFFggHHiiJJkk", "0123456789-_abcdefghij" };
    const std::string output = folder + "/out/";
    SetOutputFolderText(output);
    SetSliderPosition(2);
    for (const std::string& id : ids)
        AddListItem(id);
    // The second panorama gets a page instead of tile (1, 0), and a header declaring 8000 x 8000 at
    // (2, 1); its cells must be black although the run's canvas held the first panorama there.
    test::SetTileFaultRule([&ids](const test::TileRequest& request) {
        if (request.panoramaId != ids[1])
            return test::TileFault::None;
        if (request.x == 1 && request.y == 0)
            return test::TileFault::NotAJpeg;
        return request.x == 2 && request.y == 1 ? test::TileFault::HugeDeclaredJpeg : test::TileFault::None;
    });
    bool marked = false;
    const test::DuringRun watch([&marked] {
        if (test::ReceivedTileRequests().size() == 17)
            marked = Ui().PanoramaList->item(1)->isSelected();
    });
    const auto box = test::AnswerNextModal("OK");
    RunGrab();

    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->title, "Done");
    EXPECT_EQ(box->text.toStdString(), kDone + "\n\n2 of 24 downloaded tiles could not be welded.");
    EXPECT_TRUE(marked) << "every tile arrived, so the panorama is marked";
    EXPECT_EQ(test::FilesIn(output),
        (std::set<std::string> { ids[1] + "_tile2.jpg", ids[1] + "_tile7.jpg", ids[0] + "_welded.png",
            ids[1] + "_welded.png", ids[2] + "_welded.png" }));
    FIBITMAP* image = FreeImage_Load(FIF_PNG, (output + ids[1] + "_welded.png").c_str(), 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(test::CheckCells(image, TileGridForLevel(2),
                  [](int x, int y) { return (x == 1 && y == 0) || (x == 2 && y == 1) ? 0u : test::TileColour(x, y); }),
        "");
    FreeImage_Unload(image);
}

} // namespace
} // namespace vantaro
