#pragma once
// MainWindow and its 18 controls: the process-wide handles and the operations other commands use.

#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QWidget;

namespace vantaro {

// The handles, in creation order; null before OpenMainWindow and after CloseMainWindow.
struct MainWindowHandles {
    QWidget* MainWindow = nullptr;
    QGroupBox* PreferencesFrame = nullptr;
    QGroupBox* PanoramasFrame = nullptr;
    QLabel* QualityLabel = nullptr;
    QSlider* QualitySlider = nullptr;
    QLabel* OutputLabel = nullptr;
    QCheckBox* WeldTilesCheck = nullptr;
    QCheckBox* CropPanoramaCheck = nullptr;
    QPushButton* BrowseButton = nullptr;
    QRadioButton* OutputJpegOption = nullptr;
    QRadioButton* OutputPngOption = nullptr;
    QPushButton* AddPanoButton = nullptr;
    QPushButton* DeletePanoButton = nullptr;
    QPushButton* PreviewButton = nullptr;
    QProgressBar* GrabProgressBar = nullptr;
    QPushButton* GrabButton = nullptr;
    QLineEdit* OutputPathField = nullptr;
    QListWidget* PanoramaList = nullptr;
    QLabel* AboutLabel = nullptr;
};

// Where a frame of this extent starts so that it is centred on the screen, or at the screen's
// edge when it does not fit.
constexpr int CentredEdge(int screenExtent, int frameExtent) {
    return (screenExtent - (screenExtent < frameExtent ? screenExtent : frameExtent)) / 2;
}

// The program's one set of handles.
const MainWindowHandles& Ui();

// Builds MainWindow hidden, centred on the screen (x and y are overridden), titled "Vntro",
// with its controls wired to post their events.
void OpenMainWindow(int x, int y, int width, int height);
// Destroys MainWindow with its controls and clears the handles.
void CloseMainWindow();

void SetWindowTitle(const std::string& title);
// Shows MainWindow in its normal state and activates it.
void ShowMainWindow();

int SliderPosition();
void SetSliderPosition(int position);
// 1 when checked, 0 when not.
int IsChecked(const QCheckBox* box);
void SetChecked(QCheckBox* box, int checked);
// 1 when selected, 0 when not.
int IsSelected(const QRadioButton* option);
// Changes this option only, never its partner.
void SetSelected(QRadioButton* option, int selected);

std::string OutputFolderText();
void SetOutputFolderText(const std::string& text);
void SetAboutText(const std::string& text);
void DisablePreviewButton();

void AddListItem(const std::string& text);
int ListItemCount();
// The item's text; "" for an index outside the list.
std::string ListItemText(int index);
// The lowest selected index, or -1 when nothing is selected.
int FirstSelectedItem();
// Clears the selection, then selects and shows item index; -1 only clears.
void SelectOnlyItem(int index);
// Adds the item to the selection (on = 1) or removes it (on = 0); the others keep their state.
void SetItemSelected(int index, int on);
void RemoveListItem(int index);

// The progress bar's maximum as set, also when it is 0.
int ProgressMaximum();
void SetProgressMaximum(int maximum);
int ProgressPosition();
void SetProgressPosition(int position);

} // namespace vantaro
