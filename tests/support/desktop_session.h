#pragma once
// Running the built program from another process as a user would: child processes with an
// environment and user of their own, and a private D-Bus session whose accessibility bus shows the
// program's widgets to the test the way a screen reader sees them.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// clang-format off
// Qt comes before Xlib (x_windows.h), whose macros (None, Bool, Status) clash with its names.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QString>
// clang-format on

namespace vantaro::test {

// ---- Child processes ----

struct Child {
    pid_t pid = -1;
    int output = -1; // read end of its standard output, when captured
};

struct UserIds {
    uid_t uid = 0;
    gid_t gid = 0;
};

struct Launch {
    std::vector<std::string> arguments;
    std::string workingFolder; // empty: ours
    std::vector<std::string> extraEnvironment; // NAME=value, over ours
    bool captureOutput = false;
    std::optional<UserIds> user; // empty: ours; else the child drops to this user before exec
};

// A pid of -1 when the child could not be started.
Child Start(const Launch& launch);

// The child's exit status once it has ended, -1 while it runs; an ended child's pid is cleared.
int ExitedStatus(Child& child);

// Waits for the child to end; -1 when it did not within the time.
int WaitForExit(Child& child, std::chrono::seconds limit);

// Kills what is left of the child and closes its output.
void EndChild(Child& child);

// One line of the child's output without its line end; false when none came within the time.
bool ReadLine(int fd, std::chrono::seconds limit, std::string& line);

// ---- The accessibility bus ----

struct AccessibilityBus {
    Child daemon; // the session bus; it starts the accessibility bus on demand
    std::unique_ptr<QCoreApplication> application;
    QDBusConnection session { QString() };
    QDBusConnection accessibility { QString() };
    std::string sessionAddress; // the program's DBUS_SESSION_BUS_ADDRESS
};

// Whose the bus is. The accessibility bus runs as the session bus's user and lets in only that user
// and root, so a program started as another user needs a bus of its own user. Such a bus lets the
// test in through a configuration written to configFile, which that user must be able to read.
struct BusOwner {
    std::optional<UserIds> user; // empty: ours
    std::vector<std::string> environment; // NAME=value for the bus and the services it starts
    std::string configFile;
};

// Starts a private session bus, the accessibility bus behind it, and connects to both; an error
// message, or empty when all is up. Stop the bus whatever came back.
std::string StartAccessibilityBus(
    AccessibilityBus& bus, const std::string& daemonPath, const BusOwner& owner = BusOwner {});

// Disconnects and ends the buses; safe on a bus that never started.
void StopAccessibilityBus(AccessibilityBus& bus);

// The texts of the labels directly in every application window titled title.
std::vector<std::string> LabelTexts(const QDBusConnection& connection, const QString& title);

// The text (Text interface, whole) of every accessible with the role name at any depth in every
// application window titled windowTitle; a line edit's text is there, not in its name.
std::vector<std::string> TextsOfRole(
    const QDBusConnection& connection, const QString& windowTitle, const QString& roleName);

// Every role name at any depth in the windows titled windowTitle, for failure messages.
std::string RoleNames(const QDBusConnection& connection, const QString& windowTitle);

} // namespace vantaro::test
