#include "platform.h"

#include "paths.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <deque>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vantaro {

namespace {
std::deque<WindowEvent> pendingEvents;

// Qt delivers a close request as a QCloseEvent; ignoring it keeps the window, the loop decides.
class CloseRequestFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close)
            return QObject::eventFilter(watched, event);
        event->ignore();
        PostWindowEvent({ EventKind::CloseRequest, watched, ControlEventType::Other });
        return true;
    }
};

WindowEvent TakeEvent() {
    if (pendingEvents.empty())
        return {};
    WindowEvent event = pendingEvents.front();
    pendingEvents.pop_front();
    return event;
}

QString ToQt(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Texts carry CR LF line ends; the toolkit wants LF alone.
QString ToDisplayText(const std::string& text) {
    return ToQt(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

QWidget* BoxOwner() {
    return QApplication::activeWindow();
}
} // namespace

void PostWindowEvent(WindowEvent event) {
    pendingEvents.push_back(event);
}

void ReportCloseRequests(QObject* window) {
    window->installEventFilter(new CloseRequestFilter(window));
}

WindowEvent WaitForEvent() {
    while (pendingEvents.empty())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return TakeEvent();
}

WindowEvent PollEvent() {
    if (pendingEvents.empty())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return TakeEvent();
}

void DiscardWindowEvents() {
    pendingEvents.clear();
}

void ShowMessage(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, ToQt(title), ToDisplayText(text), QMessageBox::Ok, BoxOwner());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool AskYesNo(const std::string& title, const std::string& text) {
    QMessageBox box(
        QMessageBox::Question, ToQt(title), ToDisplayText(text), QMessageBox::Yes | QMessageBox::No, BoxOwner());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::string AskText(const std::string& title, const std::string& prompt) {
    // QInputDialog always brings a Cancel button; this dialog has OK alone.
    QDialog dialog(BoxOwner());
    dialog.setWindowTitle(ToQt(title));
    auto* label = new QLabel(ToQt(prompt), &dialog);
    label->setTextFormat(Qt::PlainText);
    auto* field = new QLineEdit(&dialog);
    field->setObjectName("InputField");
    auto* ok = new QPushButton(QObject::tr("OK"), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    dialog.setMinimumWidth(360);
    dialog.adjustSize();
    dialog.move(QGuiApplication::primaryScreen()->geometry().center() - dialog.rect().center());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return field->text().toStdString();
}

std::string ChooseFolder(const std::string& title, const std::string& initialFolder) {
    // The toolkit's own dialog: browsing, a typed path and "Create New Folder" on every desktop.
    const QString folder = QFileDialog::getExistingDirectory(
        BoxOwner(), ToQt(title), ToQt(initialFolder), QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (folder.isEmpty())
        return {};
    return WithTrailingSeparator(QDir::cleanPath(folder).toStdString());
}

std::string ClipboardText() {
    return QGuiApplication::clipboard()->text().toStdString();
}

std::string ExecutablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

void ChooseWindowSystem() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

bool FolderWritable(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool CreateFolderWithParents(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

std::string PicturesFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString();
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::int64_t FileSize(const std::string& path) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error))
        return -1;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : std::int64_t(size);
}

} // namespace vantaro
