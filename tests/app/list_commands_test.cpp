#include "list_commands.h"
#include "main_window.h"
#include "modal_box.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace vantaro {
namespace {

const std::string kIds[] = { "AAAAAAAAAAAAAAAAAAAAA1", "BBBBBBBBBBBBBBBBBBBBB2", "CCCCCCCCCCCCCCCCCCCCC3" };

std::string Address(const std::string& id) {
    return "https://maps.example.org/cbk?output=x&panoid=" + id + "&zoom=1";
}

std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (int i = 0; i < ListItemCount(); ++i)
        rows.push_back(ListItemText(i));
    return rows;
}

std::vector<int> SelectedRows() {
    std::vector<int> selected;
    for (int i = 0; i < ListItemCount(); ++i) {
        if (Ui().PanoramaList->item(i)->isSelected())
            selected.push_back(i);
    }
    return selected;
}

// Types into the input dialog's field and confirms with Enter.
auto TypeAndEnter(const std::string& text) {
    return [text](QWidget* dialog) {
        auto* field = dialog->findChild<QLineEdit*>();
        QTest::keyClicks(field, QString::fromStdString(text));
        QTest::keyClick(field, Qt::Key_Return);
    };
}

class ListCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        OpenMainWindow(0, 0, 440, 450);
        ShowMainWindow();
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        EXPECT_TRUE(test::AllModalsAnswered()) << "a box the test expected did not appear";
        CloseMainWindow();
    }
    static void SetClipboard(const std::string& text) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    }
};

TEST_F(ListCommandsTest, ClipboardLinesAnsweredYesBecomeRowsWithTheLastSelected) {
    const std::string separators[] = { "\r\n", "\n", "\r\n  \r\n\r\n" };
    for (const std::string& separator : separators) {
        SCOPED_TRACE(testing::PrintToString(separator));
        SetClipboard("  " + Address(kIds[0]) + separator + Address(kIds[1]) + separator + Address(kIds[2]) + separator);
        auto question = test::AnswerNextModal("Yes");
        AddPanoramas();
        EXPECT_EQ(question->title, "Use clipboard?");
        EXPECT_EQ(question->text, "Do you want to import URLs from clipboard?");
        EXPECT_EQ(question->buttons, (QStringList { "Yes", "No" }));
        EXPECT_EQ(question->defaultButton, "Yes");
        EXPECT_TRUE(question->questionIcon);
        EXPECT_EQ(Rows(), std::vector<std::string>(std::begin(kIds), std::end(kIds)));
        EXPECT_EQ(SelectedRows(), std::vector<int> { 2 });
        while (ListItemCount() > 0)
            RemoveListItem(0);
    }
}

TEST_F(ListCommandsTest, AnswerNoOpensTheInputDialogInstead) {
    SetClipboard(Address(kIds[0]));
    test::AnswerNextModal("No");
    auto dialog = test::AnswerNextModalWith(TypeAndEnter(Address(kIds[1])));
    AddPanoramas();
    EXPECT_EQ(dialog->title, "Enter Panorama ID");
    EXPECT_EQ(dialog->text, "Copy and paste street view URL containing 'panoid':");
    EXPECT_EQ(dialog->buttons, QStringList { "OK" });
    EXPECT_EQ(Rows(), std::vector<std::string> { kIds[1] });
    EXPECT_EQ(SelectedRows(), std::vector<int> { 0 });
}

TEST_F(ListCommandsTest, CancelledOrEmptyInputChangesNothing) {
    AddListItem(kIds[0]);
    SetItemSelected(0, 1);
    const std::function<void(QWidget*)> ways[] = {
        [](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); },
        [](QWidget* dialog) { dialog->close(); },
        TypeAndEnter(""),
    };
    for (const auto& way : ways) {
        auto dialog = test::AnswerNextModalWith(way); // the clipboard is empty: no question first
        AddPanoramas();
        EXPECT_EQ(dialog->title, "Enter Panorama ID");
        EXPECT_EQ(Rows(), std::vector<std::string> { kIds[0] });
        EXPECT_EQ(SelectedRows(), std::vector<int> { 0 });
    }
}

TEST_F(ListCommandsTest, ClipboardOfSpacesAsksButAddsNothing) {
    SetClipboard("     ");
    auto question = test::AnswerNextModal("Yes");
    AddPanoramas();
    EXPECT_TRUE(question->seen);
    EXPECT_TRUE(Rows().empty());
}

TEST_F(ListCommandsTest, FailingPieceShowsItsBoxAndStopsKeepingEarlierRows) {
    struct Case {
        std::string badLine;
        QString text;
    };
    const Case cases[] = {
        { "no marker in this line", "Invalid panorama ID: Could not extract panoID value.\n\nno marker in this line" },
        { "https://host/?panoid=tooShort", "Invalid panorama ID: Too short.\n\ntooShort" },
        { "https://host/?panoid=../../../../etc/passwd!!",
            "Invalid panorama ID: Invalid characters.\n\n../../../../etc/passwd" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.badLine);
        SetClipboard(Address(kIds[0]) + "\r\n  " + c.badLine + "  \r\n" + Address(kIds[2]));
        test::AnswerNextModal("Yes");
        auto error = test::AnswerNextModal("OK");
        AddPanoramas();
        EXPECT_EQ(error->title, "Error");
        EXPECT_EQ(error->text, c.text); // CR LF pairs shown as line breaks
        EXPECT_EQ(error->buttons, QStringList { "OK" });
        EXPECT_TRUE(error->noIcon);
        EXPECT_EQ(Rows(), std::vector<std::string> { kIds[0] });
        EXPECT_EQ(SelectedRows(), std::vector<int> { 0 });
        RemoveListItem(0);
    }
}

TEST_F(ListCommandsTest, DeleteRemovesEverySelectedRow) {
    DeleteSelectedPanoramas(); // empty list: nothing happens
    for (int i = 0; i < 5; ++i)
        AddListItem("row" + std::to_string(i));
    DeleteSelectedPanoramas(); // nothing selected: nothing happens
    EXPECT_EQ(ListItemCount(), 5);
    for (int index : { 1, 3, 4 })
        SetItemSelected(index, 1);
    DeleteSelectedPanoramas();
    EXPECT_EQ(Rows(), (std::vector<std::string> { "row0", "row2" }));
    EXPECT_EQ(FirstSelectedItem(), -1);
}

TEST_F(ListCommandsTest, BrowseReplacesTheFolderOnlyWhenOneIsChosen) {
    QTemporaryDir start;
    QTemporaryDir chosen;
    const std::string startText = QDir(start.path()).absolutePath().toStdString() + "/";
    SetOutputFolderText(startText);

    QString shownFolder;
    auto cancel = test::AnswerNextModalWith([&shownFolder](QWidget* window) {
        shownFolder = qobject_cast<QFileDialog*>(window)->directory().absolutePath();
        QTest::keyClick(window, Qt::Key_Escape);
    });
    BrowseOutputFolder();
    EXPECT_EQ(cancel->title, "Browse...");
    EXPECT_EQ(shownFolder, start.path());
    EXPECT_EQ(OutputFolderText(), startText);

    const QString chosenPath = chosen.path();
    test::AnswerNextModalWith([chosenPath](QWidget* window) {
        auto* dialog = qobject_cast<QFileDialog*>(window);
        dialog->setDirectory(chosenPath);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    BrowseOutputFolder();
    EXPECT_EQ(OutputFolderText(), chosenPath.toStdString() + "/");
}

} // namespace
} // namespace vantaro
