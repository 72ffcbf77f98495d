// Built twice: beside no engine component, and beside one of another interface version.
#include "main_window.h"
#include "modal_box.h"
#include "preview.h"
#include "startup.h"
#include "viewer_support.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace vantaro {
namespace {

TEST(ViewerStartupTest, WithoutAUsableEngineThePreviewButtonIsOffBeforeTheBoxAndDoubleClicksDoNothing) {
    bool buttonOffUnderTheBox = false;
    auto box = test::AnswerNextModalWith([&buttonOffUnderTheBox](QWidget* window) {
        buttonOffUnderTheBox = Ui().MainWindow->isVisible() && !Ui().PreviewButton->isEnabled();
        window->findChild<QPushButton*>()->click();
    });
    ASSERT_TRUE(StartUp());
    EXPECT_TRUE(box->seen);
    EXPECT_EQ(box->title, "Error");
    EXPECT_EQ(box->text, "Could not initialise 3D engine! Preview functionality was disabled.");
    EXPECT_EQ(box->buttons, QStringList { "OK" });
    EXPECT_TRUE(box->noIcon);
    EXPECT_TRUE(buttonOffUnderTheBox);
    EXPECT_FALSE(PreviewAvailable);

    // A double-click on a selected row, through the event loop, shows nothing; the window goes on.
    test::PreviewWindowWatch watch;
    auto unexpected = test::AnswerNextModal("OK");
    // Unselected: a click in the list toggles its row, so the double-click leaves it selected.
    AddListItem("AbCdEfGhIjKlMnOpQrStUv");
    QTimer::singleShot(50, [] { test::DoubleClickListRow(0); });
    QTimer::singleShot(400, [] { Ui().MainWindow->close(); });
    RunEventLoop();
    EXPECT_FALSE(unexpected->seen) << unexpected->text.toStdString();
    EXPECT_EQ(FirstSelectedItem(), 0) << "the double-click missed the row";
    EXPECT_EQ(watch.shown, 0);
    EXPECT_TRUE(Ui().MainWindow->isVisible());
    test::AllModalsAnswered();
    ShutDown();
}

} // namespace
} // namespace vantaro
