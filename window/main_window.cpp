#include "main_window.h"

#include "platform.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

namespace vantaro {

namespace {
MainWindowHandles handles;
// Qt shows a 0..0 range as a busy animation; the bar keeps 0..1 at position 0 instead.
int progressMaximum = 0;

template <typename Control> Control* Place(Control* control, const char* name, int x, int y, int width, int height) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(x, y, width, height);
    return control;
}

// Only the user's actions make events: the program's own changes to a control make none, so a
// grab run's marks do not crowd its one-event polls.
void PostControlEvent(const QObject* control, ControlEventType type) {
    PostWindowEvent({ EventKind::Control, control, type });
}

template <typename Control>
Control* MakeButton(const char* name, const char* text, int x, int y, int width, int height) {
    auto* button = Place(new Control(QString::fromLatin1(text), handles.MainWindow), name, x, y, width, height);
    QObject::connect(
        button, &QAbstractButton::clicked, [button] { PostControlEvent(button, ControlEventType::Click); });
    return button;
}

QLabel* MakeLabel(const char* name, const char* text, Qt::Alignment alignment, int x, int y, int width, int height) {
    auto* label = Place(new QLabel(QString::fromLatin1(text), handles.MainWindow), name, x, y, width, height);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

// The two options are one group, but a program write must touch one option only, which Qt's
// auto-exclusive buttons cannot do; so the group's rule is kept here, for clicks alone.
void PairOptions(QRadioButton* option, QRadioButton* partner) {
    option->setAutoExclusive(false);
    QObject::connect(option, &QAbstractButton::clicked, [option, partner] {
        option->setChecked(true);
        partner->setChecked(false);
        PostControlEvent(option, ControlEventType::Other);
    });
}

QPoint CentredFramePosition(QSize frame) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return { screen.x() + CentredEdge(screen.width(), frame.width()),
        screen.y() + CentredEdge(screen.height(), frame.height()) };
}

// The title sits in the frame's top border, as on the classic desktop group box.
QGroupBox* MakeFrame(const char* name, const char* title, int x, int y, int width, int height) {
    auto* frame = Place(new QGroupBox(QString::fromLatin1(title), handles.MainWindow), name, x, y, width, height);
    frame->setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 7px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }"));
    return frame;
}

QListWidgetItem* Item(int index) {
    return handles.PanoramaList->item(index);
}
} // namespace

const MainWindowHandles& Ui() {
    return handles;
}

void OpenMainWindow(int x, int y, int width, int height) {
    auto* window = new QWidget(nullptr,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    handles.MainWindow = window;
    window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowTitle(QStringLiteral("Vntro"));
    window->setFixedSize(width, height);
    window->move(x, y);
    window->move(CentredFramePosition(window->frameGeometry().size()));
    ReportCloseRequests(window);

    handles.PreferencesFrame = MakeFrame("PreferencesFrame", "Preferences", 10, 10, 420, 160);
    handles.PanoramasFrame = MakeFrame("PanoramasFrame", "Panoramas", 10, 180, 420, 190);
    handles.QualityLabel = MakeLabel("QualityLabel", "Quality:", Qt::AlignRight, 30, 40, 60, 20);

    auto* slider = Place(new QSlider(Qt::Horizontal, window), "QualitySlider", 100, 40, 290, 20);
    slider->setRange(0, 5);
    slider->setPageStep(1);
    slider->setTickInterval(1);
    slider->setTickPosition(QSlider::TicksBelow);
    QObject::connect(slider, &QSlider::actionTriggered, [slider] { PostControlEvent(slider, ControlEventType::Other); });
    handles.QualitySlider = slider;

    handles.OutputLabel = MakeLabel("OutputLabel", "Output:", Qt::AlignRight, 30, 70, 60, 20);
    handles.WeldTilesCheck = MakeButton<QCheckBox>("WeldTilesCheck", "Weld Tiles", 100, 100, 160, 20);
    handles.WeldTilesCheck->setChecked(true);
    handles.CropPanoramaCheck = MakeButton<QCheckBox>("CropPanoramaCheck", "Crop Panorama", 100, 130, 160, 20);
    handles.CropPanoramaCheck->setChecked(true);
    handles.BrowseButton = MakeButton<QPushButton>("BrowseButton", "...", 330, 70, 60, 20);

    handles.OutputJpegOption
        = Place(new QRadioButton(QStringLiteral("Output JPEG"), window), "OutputJpegOption", 270, 100, 120, 20);
    handles.OutputPngOption
        = Place(new QRadioButton(QStringLiteral("Output PNG"), window), "OutputPngOption", 270, 130, 120, 20);
    PairOptions(handles.OutputJpegOption, handles.OutputPngOption);
    PairOptions(handles.OutputPngOption, handles.OutputJpegOption);
    handles.OutputPngOption->setChecked(true);

    handles.AddPanoButton = MakeButton<QPushButton>("AddPanoButton", "Add Pano", 220, 320, 90, 30);
    handles.DeletePanoButton = MakeButton<QPushButton>("DeletePanoButton", "Delete Pano", 320, 320, 90, 30);
    handles.PreviewButton = MakeButton<QPushButton>("PreviewButton", "Preview", 30, 320, 90, 30);

    auto* progress = Place(new QProgressBar(window), "GrabProgressBar", 10, 380, 320, 30);
    progress->setTextVisible(false);
    progress->setFocusPolicy(Qt::NoFocus);
    handles.GrabProgressBar = progress;
    SetProgressMaximum(0);
    SetProgressPosition(0);

    handles.GrabButton = MakeButton<QPushButton>("GrabButton", "Grab!", 340, 380, 90, 30);

    auto* field = Place(new QLineEdit(window), "OutputPathField", 100, 70, 220, 20);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(field, &QLineEdit::textEdited, [field] { PostControlEvent(field, ControlEventType::Other); });
    handles.OutputPathField = field;

    auto* list = Place(new QListWidget(window), "PanoramaList", 30, 210, 380, 100);
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    list->setSortingEnabled(false);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        list, &QListWidget::itemDoubleClicked, [list] { PostControlEvent(list, ControlEventType::DoubleClick); });
    QObject::connect(
        list, &QListWidget::itemSelectionChanged, [list] { PostControlEvent(list, ControlEventType::Other); });
    QObject::connect(
        list, &QWidget::customContextMenuRequested, [list] { PostControlEvent(list, ControlEventType::Other); });
    handles.PanoramaList = list;

    handles.AboutLabel = MakeLabel("AboutLabel", "About", Qt::AlignHCenter, 10, 420, 420, 20);
}

void CloseMainWindow() {
    delete handles.MainWindow;
    handles = {};
    progressMaximum = 0;
}

void SetWindowTitle(const std::string& title) {
    handles.MainWindow->setWindowTitle(QString::fromStdString(title));
}

void ShowMainWindow() {
    handles.MainWindow->showNormal();
    handles.MainWindow->raise();
    handles.MainWindow->activateWindow();
}

int SliderPosition() {
    return handles.QualitySlider->value();
}
void SetSliderPosition(int position) {
    handles.QualitySlider->setValue(position);
}

int IsChecked(const QCheckBox* box) {
    return box->isChecked() ? 1 : 0;
}
void SetChecked(QCheckBox* box, int checked) {
    box->setChecked(checked != 0);
}

int IsSelected(const QRadioButton* option) {
    return option->isChecked() ? 1 : 0;
}
void SetSelected(QRadioButton* option, int selected) {
    option->setChecked(selected != 0);
}

std::string OutputFolderText() {
    return handles.OutputPathField->text().toStdString();
}
void SetOutputFolderText(const std::string& text) {
    handles.OutputPathField->setText(QString::fromStdString(text));
}

void SetAboutText(const std::string& text) {
    handles.AboutLabel->setText(QString::fromStdString(text));
}

void DisablePreviewButton() {
    handles.PreviewButton->setEnabled(false);
}

void AddListItem(const std::string& text) {
    handles.PanoramaList->addItem(QString::fromStdString(text));
}

int ListItemCount() {
    return handles.PanoramaList->count();
}

std::string ListItemText(int index) {
    const QListWidgetItem* item = Item(index);
    return item ? item->text().toStdString() : std::string();
}

int FirstSelectedItem() {
    for (int index = 0; index < ListItemCount(); ++index) {
        if (Item(index)->isSelected())
            return index;
    }
    return -1;
}

void SelectOnlyItem(int index) {
    const QSignalBlocker userEventsOnly(handles.PanoramaList);
    handles.PanoramaList->clearSelection();
    if (QListWidgetItem* item = Item(index)) {
        item->setSelected(true);
        handles.PanoramaList->scrollToItem(item);
    }
}

void SetItemSelected(int index, int on) {
    const QSignalBlocker userEventsOnly(handles.PanoramaList);
    if (QListWidgetItem* item = Item(index))
        item->setSelected(on != 0);
}

void RemoveListItem(int index) {
    const QSignalBlocker userEventsOnly(handles.PanoramaList);
    delete handles.PanoramaList->takeItem(index);
}

int ProgressMaximum() {
    return progressMaximum;
}

void SetProgressMaximum(int maximum) {
    progressMaximum = maximum;
    handles.GrabProgressBar->setRange(0, std::max(maximum, 1));
}

int ProgressPosition() {
    return handles.GrabProgressBar->value();
}

void SetProgressPosition(int position) {
    handles.GrabProgressBar->setValue(position);
}

} // namespace vantaro
