#include "download.h"
#include "grab_run.h"
#include "grab_test_files.h"
#include "main_window.h"
#include "modal_box.h"
#include "platform.h"
#include "tile_server.h"
#include "tile_server_window_test.h"
#include "tiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>

namespace vantaro {
namespace {

namespace fs = std::filesystem;
using test::TileFault;
using test::TileRequest;

const std::string kDone = "Grabbing process is finished! You can examine each pano using the built-in preview.";
const std::string kIds[] = { "Xq3_vB7-kLm9PzR2tYw8Ha", "aaBBccDDeeFFggHHiiJJkk", "0123456789-_abcdefghij" };

std::string TileBytes(int x, int y) {
    const std::vector<unsigned char> tile = test::TileJpeg(x, y);
    return { tile.begin(), tile.end() };
}

std::vector<bool> Selection() {
    std::vector<bool> selected;
    for (int i = 0; i < ListItemCount(); ++i)
        selected.push_back(Ui().PanoramaList->item(i)->isSelected());
    return selected;
}

class GrabRunTest : public test::TileServerWindowTest {
protected:
    void SetUp() override {
        test::TileServerWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        output = folder + "/out/";
        SetOutputFolderText(output);
        // Welding would take the tile files away; these tests look at them.
        SetChecked(Ui().WeldTilesCheck, 0);
    }

    static std::shared_ptr<test::ModalSeen> RunAndAnswer() {
        auto box = test::AnswerNextModal("OK");
        RunGrab();
        return box;
    }

    std::string output;
};

TEST_F(GrabRunTest, RequestsEveryTileInOrderAndStoresItUnderItsNumber) {
    SetSliderPosition(3);
    AddListItem(kIds[0]);
    AddListItem(kIds[1]);
    const auto box = RunAndAnswer();

    const std::vector<TileRequest> requests = test::ReceivedTileRequests();
    ASSERT_EQ(requests.size(), 42u);
    std::set<int> mirrors;
    for (int p = 0; p < 2; ++p) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 7; ++x) {
                const int number = y * 7 + x + 1;
                const TileRequest& request = requests[std::size_t(p * 21 + number - 1)];
                EXPECT_EQ(request.target,
                    "/cbk?cb_client=maps_sv.tactile&authuser=0&hl=en&panoid=" + kIds[p]
                        + "&output=tile&x=" + std::to_string(x) + "&y=" + std::to_string(y) + "&zoom=3&nbt&fover=2");
                EXPECT_EQ(
                    test::ReadBytes(output + kIds[p] + "_tile" + std::to_string(number) + ".jpg"), TileBytes(x, y))
                    << number;
                mirrors.insert(request.mirror);
            }
        }
    }
    EXPECT_EQ(mirrors, (std::set<int> { 1, 2, 3 }));
    EXPECT_EQ(test::FilesIn(output).size(), 42u);
    EXPECT_EQ(ProgressMaximum(), 42);
    EXPECT_EQ(ProgressPosition(), 42);
    EXPECT_EQ(Selection(), (std::vector<bool> { false, true }));
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->title, "Done");
    EXPECT_EQ(box->text.toStdString(), kDone);
    EXPECT_EQ(box->buttons, QStringList { "OK" });
    EXPECT_TRUE(box->noIcon);
}

TEST_F(GrabRunTest, MarksCompletePanoramasDuringTheRunAndSelectsTheLastAtItsEnd) {
    SetSliderPosition(1);
    for (const std::string& id : kIds)
        AddListItem(id);
    SetItemSelected(1, 1);
    test::SetTileFaultRule([](const TileRequest& request) {
        return request.panoramaId == kIds[1] && request.x == 0 ? TileFault::NotFound : TileFault::None;
    });
    std::vector<std::pair<std::size_t, std::vector<bool>>> seen; // requests so far, selection
    const test::DuringRun sample([&seen] {
        if (!QApplication::activeModalWidget())
            seen.emplace_back(test::ReceivedTileRequests().size(), Selection());
    });
    const auto box = RunAndAnswer();

    ASSERT_FALSE(seen.empty());
    for (const auto& [requests, selected] : seen) {
        SCOPED_TRACE(requests);
        // Cleared at the start; the first item is marked once its second tile is in.
        EXPECT_EQ(selected, (std::vector<bool> { requests >= 3, false, false }));
    }
    EXPECT_EQ(Selection(), (std::vector<bool> { false, false, true }));
    // The failed tile used up number 1: the gap shows on disk.
    EXPECT_FALSE(fs::exists(output + kIds[1] + "_tile1.jpg"));
    EXPECT_EQ(test::ReadBytes(output + kIds[1] + "_tile2.jpg"), TileBytes(1, 0));
    EXPECT_EQ(ProgressPosition(), 6);
    EXPECT_EQ(box->text.toStdString(), kDone + "\n\n1 of 6 tiles could not be downloaded.");
}

TEST_F(GrabRunTest, EveryFaultCountsAsFailedAndLeavesTheEarlierTileFile) {
    SetSliderPosition(2);
    AddListItem(kIds[0]);
    test::SetTileFaultRule([](const TileRequest& request) {
        static const TileFault kRowZero[]
            = { TileFault::NotFound, TileFault::ServerError, TileFault::EmptyBody, TileFault::Truncated };
        if (request.y == 0)
            return kRowZero[request.x];
        return request.x == 0 ? TileFault::Redirect : TileFault::None;
    });
    fs::create_directory(output);
    for (int number = 1; number <= 8; ++number)
        std::ofstream(output + kIds[0] + "_tile" + std::to_string(number) + ".jpg") << "old " << number;
    const auto box = RunAndAnswer();

    for (int number = 1; number <= 5; ++number)
        EXPECT_EQ(test::ReadBytes(output + kIds[0] + "_tile" + std::to_string(number) + ".jpg"),
            "old " + std::to_string(number));
    for (int number = 6; number <= 8; ++number)
        EXPECT_EQ(
            test::ReadBytes(output + kIds[0] + "_tile" + std::to_string(number) + ".jpg"), TileBytes(number - 5, 1));
    EXPECT_EQ(test::FilesIn(output).size(), 8u); // no temporary file left behind
    EXPECT_EQ(box->text.toStdString(), kDone + "\n\n5 of 8 tiles could not be downloaded.");
}

TEST_F(GrabRunTest, UnreachableMirrorsFailEveryTileAndTheRunStillEnds) {
    SetTileHostPatternForTesting("127.0.0.{N}:" + std::to_string(test::UnusedLoopbackPort()));
    SetSliderPosition(0);
    AddListItem(kIds[0]);
    AddListItem(kIds[1]);
    const auto box = RunAndAnswer();

    EXPECT_TRUE(test::FilesIn(output).empty());
    EXPECT_EQ(ProgressMaximum(), 2);
    EXPECT_EQ(ProgressPosition(), 2);
    EXPECT_EQ(box->text.toStdString(), kDone + "\n\n2 of 2 tiles could not be downloaded.");
}

TEST_F(GrabRunTest, LevelIsReadOnceAtTheStart) {
    SetSliderPosition(2);
    AddListItem(kIds[0]);
    const test::DuringRun moveSlider([] { SetSliderPosition(5); });
    RunAndAnswer();

    const std::vector<TileRequest> requests = test::ReceivedTileRequests();
    ASSERT_EQ(requests.size(), 8u);
    for (const TileRequest& request : requests)
        EXPECT_EQ(request.zoom, 2);
    EXPECT_EQ(ProgressPosition(), 8);
}

TEST_F(GrabRunTest, MissingPanoramaOrFolderShowsOnlyTheErrorBox) {
    struct Case {
        int items;
        std::string folderText;
    };
    for (const Case& c : { Case { 0, output }, Case { 2, "" } }) {
        SCOPED_TRACE(c.items);
        while (ListItemCount() > 0)
            RemoveListItem(0);
        for (int i = 0; i < c.items; ++i)
            AddListItem(kIds[i]);
        SelectOnlyItem(c.items - 1);
        SetOutputFolderText(c.folderText);
        SetProgressMaximum(10);
        SetProgressPosition(4);
        const auto box = RunAndAnswer();

        EXPECT_EQ(box->title, "Error");
        EXPECT_EQ(box->text, "At least one panorama and an output path must be specified.");
        EXPECT_EQ(box->buttons, QStringList { "OK" });
        EXPECT_EQ(ProgressMaximum(), 10);
        EXPECT_EQ(ProgressPosition(), 4);
        EXPECT_EQ(FirstSelectedItem(), c.items - 1);
        EXPECT_FALSE(fs::exists(output));
        EXPECT_TRUE(test::ReceivedTileRequests().empty());
    }
}

// A press and a close request that the run's polls take are dropped, not left for the event loop.
TEST_F(GrabRunTest, ButtonPressAndCloseRequestDuringTheRunDoNothing) {
    ShowMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Ui().MainWindow));
    SetSliderPosition(2);
    AddListItem(kIds[0]);
    AddListItem(kIds[1]);
    int step = 0;
    // One act per poll, so each is what that poll yields.
    const test::DuringRun act([&step] {
        // Once the first panorama is marked, a delete would remove it.
        if (step == 2 || test::ReceivedTileRequests().size() < 10)
            return;
        if (step++ == 0)
            QTest::mouseClick(Ui().DeletePanoButton, Qt::LeftButton);
        else
            Ui().MainWindow->close();
    });
    const auto box = RunAndAnswer();

    EXPECT_EQ(step, 2);
    EXPECT_EQ(box->title, "Done");
    EXPECT_EQ(test::ReceivedTileRequests().size(), 16u);
    EXPECT_EQ(ListItemCount(), 2);
    EXPECT_TRUE(Ui().MainWindow->isVisible());
    for (WindowEvent event = PollEvent(); event.kind != EventKind::None; event = PollEvent()) {
        EXPECT_NE(event.kind, EventKind::CloseRequest);
        EXPECT_NE(event.control, Ui().DeletePanoButton);
    }
}

TEST_F(GrabRunTest, OutputFolderIsMadeWithItsParentsOrTheRunStopsBeforeAnyRequest) {
    SetSliderPosition(0);
    AddListItem(kIds[0]);

    // Chosen, then removed together with its parent before Grab!.
    const std::string chosen = folder + "/chosen/out/";
    fs::create_directories(chosen);
    fs::remove_all(folder + "/chosen");
    SetOutputFolderText(chosen);
    auto box = RunAndAnswer();
    EXPECT_EQ(box->title, "Done");
    EXPECT_EQ(box->text.toStdString(), kDone);
    EXPECT_EQ(test::ReadBytes(chosen + kIds[0] + "_tile1.jpg"), TileBytes(0, 0));

    // Replaced by a regular file: no folder can be made there.
    fs::remove_all(chosen);
    test::WriteBytes(folder + "/chosen/out", "a file");
    SelectOnlyItem(0);
    SetProgressMaximum(10);
    SetProgressPosition(4);
    const std::size_t requestsBefore = test::ReceivedTileRequests().size();
    box = RunAndAnswer();
    EXPECT_EQ(box->title, "Error");
    EXPECT_EQ(box->text.toStdString(), "The output folder could not be created or written:\n\n" + chosen);
    EXPECT_EQ(box->buttons, QStringList { "OK" });
    EXPECT_TRUE(box->noIcon);
    EXPECT_EQ(test::ReceivedTileRequests().size(), requestsBefore);
    EXPECT_EQ(ProgressMaximum(), 10);
    EXPECT_EQ(ProgressPosition(), 4);
    EXPECT_EQ(FirstSelectedItem(), 0);
    EXPECT_EQ(test::ReadBytes(folder + "/chosen/out"), "a file");
}

} // namespace
} // namespace vantaro
