#include "main_window.h"
#include "modal_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace vantaro {
namespace {

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { OpenMainWindow(0, 0, 440, 450); }
    void TearDown() override { CloseMainWindow(); }

    static void ShowAndActivate() {
        ShowMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Ui().MainWindow));
    }

    static QStringList FocusCycle(Qt::KeyboardModifiers modifiers, int steps) {
        QStringList names;
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            names.append(QApplication::focusWidget()->objectName());
        }
        return names;
    }

    static void AddItems(int count) {
        for (int i = 0; i < count; ++i)
            AddListItem("item" + std::to_string(i));
    }
};

QString TextOf(const QWidget* control) {
    if (auto* frame = qobject_cast<const QGroupBox*>(control))
        return frame->title();
    if (auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    if (auto* field = qobject_cast<const QLineEdit*>(control))
        return field->text();
    return {};
}

TEST(CentringTest, FrameIsCentredOrPutAtTheEdge) {
    EXPECT_EQ(CentredEdge(1280, 440), 420);
    EXPECT_EQ(CentredEdge(1281, 440), 420); // whole pixels
    EXPECT_EQ(CentredEdge(440, 440), 0);
    EXPECT_EQ(CentredEdge(300, 440), 0);
}

TEST_F(MainWindowTest, WindowHasFixedClientSizeNoMaximiseAndIsCentred) {
    QWidget* window = Ui().MainWindow;
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Vntro");
    ShowAndActivate();
    EXPECT_EQ(window->size(), QSize(440, 450));
    EXPECT_EQ(window->minimumSize(), QSize(440, 450));
    EXPECT_EQ(window->maximumSize(), QSize(440, 450));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);

    const QRect screen = window->screen()->geometry();
    const QRect frame = window->frameGeometry();
    EXPECT_EQ(frame.x(), (screen.width() - frame.width()) / 2);
    EXPECT_EQ(frame.y(), (screen.height() - frame.height()) / 2);
}

TEST_F(MainWindowTest, ControlsHaveTheirKindGeometryTextAndFocusInCreationOrder) {
    struct Row {
        const char* name;
        const char* kind;
        QRect geometry;
        QString text;
        bool focus;
    };
    const Row rows[] = {
        { "PreferencesFrame", "QGroupBox", { 10, 10, 420, 160 }, "Preferences", false },
        { "PanoramasFrame", "QGroupBox", { 10, 180, 420, 190 }, "Panoramas", false },
        { "QualityLabel", "QLabel", { 30, 40, 60, 20 }, "Quality:", false },
        { "QualitySlider", "QSlider", { 100, 40, 290, 20 }, "", true },
        { "OutputLabel", "QLabel", { 30, 70, 60, 20 }, "Output:", false },
        { "WeldTilesCheck", "QCheckBox", { 100, 100, 160, 20 }, "Weld Tiles", true },
        { "CropPanoramaCheck", "QCheckBox", { 100, 130, 160, 20 }, "Crop Panorama", true },
        { "BrowseButton", "QPushButton", { 330, 70, 60, 20 }, "...", true },
        { "OutputJpegOption", "QRadioButton", { 270, 100, 120, 20 }, "Output JPEG", true },
        { "OutputPngOption", "QRadioButton", { 270, 130, 120, 20 }, "Output PNG", true },
        { "AddPanoButton", "QPushButton", { 220, 320, 90, 30 }, "Add Pano", true },
        { "DeletePanoButton", "QPushButton", { 320, 320, 90, 30 }, "Delete Pano", true },
        { "PreviewButton", "QPushButton", { 30, 320, 90, 30 }, "Preview", true },
        { "GrabProgressBar", "QProgressBar", { 10, 380, 320, 30 }, "", false },
        { "GrabButton", "QPushButton", { 340, 380, 90, 30 }, "Grab!", true },
        { "OutputPathField", "QLineEdit", { 100, 70, 220, 20 }, "", true },
        { "PanoramaList", "QListWidget", { 30, 210, 380, 100 }, "", true },
        { "AboutLabel", "QLabel", { 10, 420, 420, 20 }, "About", false },
    };
    QStringList created;
    for (QObject* child : Ui().MainWindow->children()) {
        if (child->isWidgetType())
            created.append(child->objectName());
    }
    ASSERT_EQ(created.size(), 18);

    for (int i = 0; i < 18; ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(created[i], row.name);
        auto* control = Ui().MainWindow->findChild<QWidget*>(row.name);
        ASSERT_NE(control, nullptr);
        EXPECT_STREQ(control->metaObject()->className(), row.kind);
        EXPECT_EQ(control->geometry(), row.geometry);
        EXPECT_EQ(bool(control->focusPolicy() & Qt::TabFocus), row.focus);
        EXPECT_EQ(TextOf(control), row.text);
    }
    EXPECT_TRUE(Ui().QualityLabel->alignment() & Qt::AlignRight);
    EXPECT_TRUE(Ui().OutputLabel->alignment() & Qt::AlignRight);
    EXPECT_TRUE(Ui().AboutLabel->alignment() & Qt::AlignHCenter);
    // Labels are plain text: an ampersand shows as itself.
    EXPECT_EQ(Ui().AboutLabel->textFormat(), Qt::PlainText);
    EXPECT_TRUE(Ui().OutputPathField->isReadOnly());
    EXPECT_EQ(Ui().PanoramaList->selectionMode(), QAbstractItemView::MultiSelection);
}

TEST_F(MainWindowTest, ControlsStartWithTheirCreationValues) {
    EXPECT_EQ(SliderPosition(), 0);
    EXPECT_EQ(Ui().QualitySlider->minimum(), 0);
    EXPECT_EQ(Ui().QualitySlider->maximum(), 5);
    EXPECT_EQ(Ui().QualitySlider->tickInterval(), 1);
    EXPECT_EQ(IsChecked(Ui().WeldTilesCheck), 1);
    EXPECT_EQ(IsChecked(Ui().CropPanoramaCheck), 1);
    EXPECT_EQ(IsSelected(Ui().OutputPngOption), 1);
    EXPECT_EQ(IsSelected(Ui().OutputJpegOption), 0);
    EXPECT_EQ(OutputFolderText(), "");
    EXPECT_EQ(ListItemCount(), 0);
    EXPECT_EQ(ProgressMaximum(), 0);
    EXPECT_EQ(ProgressPosition(), 0);
    EXPECT_TRUE(Ui().PreviewButton->isEnabled());
}

TEST_F(MainWindowTest, EmptyProgressBarIsStillNotBusy) {
    // Qt animates a 0..0 range as "busy"; an empty bar must look empty and still.
    QProgressBar* bar = Ui().GrabProgressBar;
    EXPECT_LT(bar->minimum(), bar->maximum());
    EXPECT_EQ(bar->value(), bar->minimum());
    EXPECT_FALSE(bar->isTextVisible());

    SetProgressMaximum(8);
    SetProgressPosition(8);
    EXPECT_EQ(ProgressMaximum(), 8);
    EXPECT_EQ(ProgressPosition(), 8);
    SetProgressMaximum(0);
    EXPECT_EQ(ProgressMaximum(), 0);
    EXPECT_LT(bar->minimum(), bar->maximum());
}

TEST_F(MainWindowTest, TabCyclesThroughFocusControlsAndSkipsDisabledPreview) {
    ShowAndActivate();
    Ui().QualitySlider->setFocus();
    const QStringList forward = { "WeldTilesCheck", "CropPanoramaCheck", "BrowseButton", "OutputJpegOption",
        "OutputPngOption", "AddPanoButton", "DeletePanoButton", "PreviewButton", "GrabButton", "OutputPathField",
        "PanoramaList", "QualitySlider" };
    EXPECT_EQ(FocusCycle(Qt::NoModifier, int(forward.size())), forward);

    QStringList backward(forward.rbegin() + 1, forward.rend());
    backward.append("QualitySlider");
    EXPECT_EQ(FocusCycle(Qt::ShiftModifier, int(backward.size())), backward);

    DisablePreviewButton();
    QStringList withoutPreview = forward;
    withoutPreview.removeAll("PreviewButton");
    EXPECT_EQ(FocusCycle(Qt::NoModifier, int(withoutPreview.size())), withoutPreview);
}

TEST_F(MainWindowTest, OptionsFormOneGroupForClicksButNotForProgramWrites) {
    ShowAndActivate();
    QTest::mouseClick(Ui().OutputJpegOption, Qt::LeftButton);
    EXPECT_EQ(IsSelected(Ui().OutputJpegOption), 1);
    EXPECT_EQ(IsSelected(Ui().OutputPngOption), 0);
    QTest::mouseClick(Ui().OutputJpegOption, Qt::LeftButton); // a click on the selected one keeps it
    EXPECT_EQ(IsSelected(Ui().OutputJpegOption), 1);
    QTest::mouseClick(Ui().OutputPngOption, Qt::LeftButton);
    EXPECT_EQ(IsSelected(Ui().OutputJpegOption), 0);
    EXPECT_EQ(IsSelected(Ui().OutputPngOption), 1);

    SetSelected(Ui().OutputJpegOption, 1);
    EXPECT_EQ(IsSelected(Ui().OutputPngOption), 1);
    SetSelected(Ui().OutputPngOption, 0);
    EXPECT_EQ(IsSelected(Ui().OutputJpegOption), 1);
}

TEST_F(MainWindowTest, TypingIntoThePathFieldChangesNothing) {
    ShowAndActivate();
    SetOutputFolderText("/tmp/out/");
    Ui().OutputPathField->setFocus();
    QTest::keyClicks(Ui().OutputPathField, "xyz");
    QTest::keyClick(Ui().OutputPathField, Qt::Key_Backspace);
    EXPECT_EQ(OutputFolderText(), "/tmp/out/");
}

TEST_F(MainWindowTest, ListOperationsKeepOrderAndSelection) {
    AddItems(5);
    AddListItem("item0"); // duplicates are kept
    EXPECT_EQ(ListItemCount(), 6);
    EXPECT_EQ(ListItemText(5), "item0");
    EXPECT_EQ(ListItemText(6), "");
    EXPECT_EQ(ListItemText(-1), "");
    EXPECT_EQ(FirstSelectedItem(), -1);

    SetItemSelected(3, 1);
    SetItemSelected(1, 1);
    EXPECT_EQ(FirstSelectedItem(), 1);
    RemoveListItem(1);
    EXPECT_EQ(ListItemText(1), "item2");
    EXPECT_EQ(FirstSelectedItem(), 2); // the former item 3 keeps its selection
    SetItemSelected(2, 0);
    EXPECT_EQ(FirstSelectedItem(), -1);

    SelectOnlyItem(4);
    SetItemSelected(0, 1);
    EXPECT_EQ(FirstSelectedItem(), 0);
    SelectOnlyItem(2);
    EXPECT_EQ(Ui().PanoramaList->selectedItems().size(), 1);
    EXPECT_EQ(FirstSelectedItem(), 2);
    SelectOnlyItem(-1);
    EXPECT_EQ(FirstSelectedItem(), -1);
}

TEST_F(MainWindowTest, ListSelectsSeveralItemsByClicks) {
    ShowAndActivate();
    AddItems(5);
    QListWidget* list = Ui().PanoramaList;
    for (int index : { 1, 3 }) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(index)).center());
    }
    EXPECT_EQ(list->selectedItems().size(), 2);
    EXPECT_EQ(FirstSelectedItem(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(FirstSelectedItem(), 3);
}

} // namespace
} // namespace vantaro
