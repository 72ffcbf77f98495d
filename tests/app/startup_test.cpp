#include "main_window.h"
#include "modal_box.h"
#include "paths.h"
#include "platform.h"
#include "startup.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vantaro {
namespace {

bool NetworkFails() {
    return false;
}

TEST(StartupTest, NetworkFailureShowsOnlyTheBoxAndEndsWithStatusZero) {
    auto box = test::AnswerNextModal("OK");
    EXPECT_EQ(RunProgram(NetworkFails), 0);
    EXPECT_TRUE(box->seen);
    EXPECT_EQ(box->title, "Error");
    EXPECT_EQ(box->text, "Internet connection could not be established.");
    EXPECT_EQ(box->buttons, QStringList { "OK" });
    EXPECT_TRUE(box->noIcon);
    EXPECT_EQ(Ui().MainWindow, nullptr);
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible()) << window->objectName().toStdString();
}

TEST(StartupTest, StartUpShowsTheWindowWithItsStartValuesFromAnyWorkingDirectory) {
    const auto oldDirectory = std::filesystem::current_path();
    std::filesystem::current_path("/tmp");
    ASSERT_TRUE(StartUp());
    std::filesystem::current_path(oldDirectory);

    const MainWindowHandles& ui = Ui();
    EXPECT_TRUE(ui.MainWindow->isVisible());
    EXPECT_EQ(ui.MainWindow->windowTitle(), "Vantaro");
    EXPECT_EQ(SliderPosition(), 2);
    EXPECT_EQ(IsChecked(ui.WeldTilesCheck), 1);
    EXPECT_EQ(IsChecked(ui.CropPanoramaCheck), 1);
    EXPECT_EQ(IsSelected(ui.OutputPngOption), 1);
    EXPECT_EQ(IsSelected(ui.OutputJpegOption), 0);
    EXPECT_EQ(ListItemCount(), 0);

    // The test program lies in the build folder, as vntro does.
    const std::string expected = FolderPart(std::filesystem::canonical("/proc/self/exe").string()) + "Output/";
    EXPECT_EQ(OutputFolderText(), expected);
    EXPECT_FALSE(std::filesystem::exists("/tmp/Output")) << "the folder is made by a grab, not at start";
    EXPECT_EQ(ui.AboutLabel->text().toStdString().rfind("Vantaro v1.6 by Harwick :: ", 0), 0u);
    ShutDown();
    EXPECT_EQ(Ui().MainWindow, nullptr);
}

TEST(StartupTest, CloseRequestEndsTheLoopWithoutDestroyingTheWindow) {
    ASSERT_TRUE(StartUp());
    QWidget* window = Ui().MainWindow;
    bool closedByQt = false;
    QTimer::singleShot(50, [window, &closedByQt] { closedByQt = window->close(); });
    RunEventLoop();
    EXPECT_FALSE(closedByQt);
    ASSERT_EQ(Ui().MainWindow, window);
    EXPECT_TRUE(window->isVisible());
    ShutDown();
}

TEST(StartupTest, ClicksOnControlsWithoutCommandsDoNotEndTheLoop) {
    ASSERT_TRUE(StartUp());
    QTimer::singleShot(20, [] { Ui().WeldTilesCheck->click(); });
    QTimer::singleShot(40, [] { SetSliderPosition(4); });
    QTimer::singleShot(80, [] { Ui().MainWindow->close(); });
    RunEventLoop();
    EXPECT_EQ(IsChecked(Ui().WeldTilesCheck), 0);
    EXPECT_EQ(SliderPosition(), 4);
    ShutDown();
}

} // namespace
} // namespace vantaro
