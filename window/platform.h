#pragma once
// The thin layer between the commands and the window system: event wait and poll, message boxes,
// dialogs, clipboard and file helpers. Commands call these and never touch Qt's event machinery.

#include <cstdint>
#include <string>

class QObject;
class QWidget;

namespace vantaro {

enum class EventKind { None, Control, CloseRequest };
enum class ControlEventType { Click, DoubleClick, Other };

struct WindowEvent {
    EventKind kind = EventKind::None;
    const QObject* control = nullptr; // the control the event came from, for Control events
    ControlEventType type = ControlEventType::Other;
};

// Queues an event for the program; the wiring of the controls calls this.
void PostWindowEvent(WindowEvent event);
// Makes the window's close requests (close box, system menu, WM_DELETE_WINDOW) into events;
// the window itself is never closed by them.
void ReportCloseRequests(QObject* window);
// Blocks until the program has an event and returns it.
WindowEvent WaitForEvent();
// Handles pending window-system work without waiting; returns one event or a None event.
WindowEvent PollEvent();
// Drops every queued event (used when the window that owned them goes away).
void DiscardWindowEvents();

// Modal box with one OK button and no icon, owned by the active window when there is one.
void ShowMessage(const std::string& title, const std::string& text);
// Modal Yes/No box with a question icon, Yes the default; true only for Yes.
bool AskYesNo(const std::string& title, const std::string& text);
// Modal single-line input dialog with one OK button; the text on OK or Enter, "" on Escape or close.
std::string AskText(const std::string& title, const std::string& prompt);
// Modal folder chooser; the chosen folder's path ending with one '/', or "" when cancelled.
std::string ChooseFolder(const std::string& title, const std::string& initialFolder);
// The clipboard's plain text, "" when it holds none.
std::string ClipboardText();

// Chooses the window system before the application starts: X11 (through XWayland) on a Wayland
// session that has it, since a Wayland client may not move the pointer as the viewer does.
void ChooseWindowSystem();

// Full path of the running program, its links resolved.
std::string ExecutablePath();
// True when the path is a folder and this user may create files in it.
bool FolderWritable(const std::string& path);
// The user's pictures folder as the desktop names it; "" when there is none.
std::string PicturesFolder();
// Creates the folder and any missing parents; true when it is a folder afterwards.
bool CreateFolderWithParents(const std::string& path);
// Deletes a file; true when it was deleted.
bool DeleteFile(const std::string& path);
// Size in bytes; negative when the path is empty, missing or a folder.
std::int64_t FileSize(const std::string& path);

} // namespace vantaro
