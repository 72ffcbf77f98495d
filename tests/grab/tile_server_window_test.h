#pragma once
// A test with MainWindow open and the grab pointed at the loopback tile server, inside a temporary
// folder that goes with the test.

#include "download.h"
#include "grab_test_files.h"
#include "main_window.h"
#include "modal_box.h"
#include "platform.h"
#include "tile_server.h"
#include "tiles.h"

#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace vantaro::test {

// Runs `act` at every event poll while it is alive; the run polls once after each tile.
class DuringRun {
public:
    explicit DuringRun(std::function<void()> act) {
        QObject::connect(&timer, &QTimer::timeout, std::move(act));
        timer.start(0);
    }

private:
    QTimer timer;
};

class TileServerWindowTest : public testing::Test {
protected:
    void SetUp() override {
        folder = MakeTemporaryFolder("vantaro_grab");
        ASSERT_FALSE(folder.empty());
        std::filesystem::create_directory(folder + "/certs");
        ASSERT_NE(StartTileServer({ folder + "/certs", false, {} }), 0);
        SetTileHostPatternForTesting(TileServerHostPattern());
        SetExtraTrustedCaFileForTesting(TileServerCaFile());
        OpenMainWindow(0, 0, 440, 450);
    }

    void TearDown() override {
        CloseMainWindow();
        DiscardWindowEvents();
        CloseDownloads();
        SetExtraTrustedCaFileForTesting("");
        SetTileHostPatternForTesting("");
        StopTileServer();
        EXPECT_TRUE(AllModalsAnswered());
        std::filesystem::remove_all(folder);
    }

    std::string folder;
};

} // namespace vantaro::test
