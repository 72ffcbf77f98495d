#include "desktop_session.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vantaro::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

// ---- Child processes ----

// Everything the child needs is built before the fork: after it only async-signal-safe calls run,
// since the D-Bus client's thread may hold the allocator's lock.
Child Start(const Launch& launch) {
    std::vector<char*> argv;
    for (const std::string& argument : launch.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('=') + 1);
        const bool replaced = std::any_of(launch.extraEnvironment.begin(), launch.extraEnvironment.end(),
            [&](const std::string& extra) { return extra.compare(0, name.size(), name) == 0; });
        if (!replaced)
            environment.push_back(variable);
    }
    environment.insert(environment.end(), launch.extraEnvironment.begin(), launch.extraEnvironment.end());
    std::vector<char*> envp;
    for (const std::string& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    int pipeEnds[2] = { -1, -1 };
    if (launch.captureOutput && pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        if (launch.captureOutput && dup2(pipeEnds[1], STDOUT_FILENO) < 0)
            _exit(126);
        // Groups first: once the user is dropped they can no longer be changed.
        if (launch.user) {
            const gid_t group = launch.user->gid;
            if (setgroups(1, &group) != 0 || setgid(group) != 0 || setuid(launch.user->uid) != 0)
                _exit(126);
        }
        if (!launch.workingFolder.empty() && chdir(launch.workingFolder.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (launch.captureOutput)
        close(pipeEnds[1]);
    if (pid < 0) {
        if (launch.captureOutput)
            close(pipeEnds[0]);
        return {};
    }
    return { pid, launch.captureOutput ? pipeEnds[0] : -1 };
}

int ExitedStatus(Child& child) {
    int status = 0;
    if (child.pid <= 0 || waitpid(child.pid, &status, WNOHANG) != child.pid)
        return -1;
    child.pid = -1;
    return ExitStatus(status);
}

int WaitForExit(Child& child, seconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const int status = ExitedStatus(child);
        if (status != -1 || Clock::now() >= deadline)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void EndChild(Child& child) {
    if (child.pid > 0) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
        child.pid = -1;
    }
    if (child.output >= 0)
        close(child.output);
    child.output = -1;
}

bool ReadLine(int fd, seconds limit, std::string& line) {
    const auto deadline = Clock::now() + limit;
    line.clear();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd waiting = { fd, POLLIN, 0 };
        if (poll(&waiting, 1, int(left)) <= 0)
            continue;
        char c = 0;
        if (read(fd, &c, 1) != 1)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
}

// ---- The accessibility bus ----

std::string StartAccessibilityBus(AccessibilityBus& bus, const std::string& daemonPath, const BusOwner& owner) {
    Launch launch { { daemonPath, "--session", "--nofork", "--print-address" }, {}, owner.environment, true,
        owner.user };
    // Our working folder may be closed to another user.
    if (owner.user)
        launch.workingFolder = "/";
    if (owner.user && owner.user->uid != geteuid()) {
        // The session configuration and one rule more: we may connect too.
        std::ofstream config(owner.configFile);
        config << "<busconfig>\n  <include>/usr/share/dbus-1/session.conf</include>\n"
               << "  <policy context=\"default\"><allow user=\"" << geteuid() << "\"/></policy>\n</busconfig>\n";
        config.close();
        if (!config || chown(owner.configFile.c_str(), owner.user->uid, owner.user->gid) != 0)
            return "could not write the bus configuration " + owner.configFile;
        launch.arguments[1] = "--config-file=" + owner.configFile;
    }
    bus.daemon = Start(launch);
    if (bus.daemon.pid <= 0)
        return "could not start " + daemonPath;
    if (!ReadLine(bus.daemon.output, seconds(10), bus.sessionAddress))
        return "dbus-daemon printed no address";

    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "vantaro_desktop_session";
        static char* argv[] = { name, nullptr };
        bus.application = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Names of their own, so a bus started after a stopped one is not mistaken for it.
    static int started = 0;
    ++started;
    bus.session = QDBusConnection::connectToBus(
        QString::fromStdString(bus.sessionAddress), QStringLiteral("vantaro-session-%1").arg(started));
    if (!bus.session.isConnected())
        return "no session bus: " + bus.session.lastError().message().toStdString();
    // Asking for its address starts the accessibility bus; the program joins it once it is there.
    const QDBusMessage reply = bus.session.call(
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"), QDBus::Block,
        30000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return "no accessibility bus: " + reply.errorMessage().toStdString();
    bus.accessibility = QDBusConnection::connectToBus(
        reply.arguments().at(0).toString(), QStringLiteral("vantaro-accessibility-%1").arg(started));
    if (!bus.accessibility.isConnected())
        return "could not join the accessibility bus: " + bus.accessibility.lastError().message().toStdString();
    return {};
}

void StopAccessibilityBus(AccessibilityBus& bus) {
    for (QDBusConnection* connection : { &bus.accessibility, &bus.session }) {
        if (!connection->name().isEmpty())
            QDBusConnection::disconnectFromBus(connection->name());
        *connection = QDBusConnection(QString());
    }
    // The accessibility bus and its registry end by themselves once the session bus is gone.
    if (bus.daemon.pid > 0) {
        kill(bus.daemon.pid, SIGTERM);
        WaitForExit(bus.daemon, seconds(10));
    }
    EndChild(bus.daemon);
    bus.application.reset();
    bus.sessionAddress.clear();
}

namespace {

struct Accessible {
    QString bus;
    QString path;
};

QDBusMessage CallAccessible(const QDBusConnection& connection, const Accessible& node, const QString& interface,
    const QString& method, const QList<QVariant>& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(node.bus, node.path, interface, method);
    call.setArguments(arguments);
    return connection.call(call, QDBus::Block, 5000);
}

std::vector<Accessible> ChildrenOf(const QDBusConnection& connection, const Accessible& node) {
    const QDBusMessage reply = CallAccessible(connection, node, "org.a11y.atspi.Accessible", "GetChildren");
    std::vector<Accessible> children;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return children;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        Accessible child;
        QDBusObjectPath path;
        list.beginStructure();
        list >> child.bus >> path;
        list.endStructure();
        child.path = path.path();
        children.push_back(child);
    }
    list.endArray();
    return children;
}

QString NameOf(const QDBusConnection& connection, const Accessible& node) {
    const QDBusMessage reply = CallAccessible(connection, node, "org.freedesktop.DBus.Properties", "Get",
        { QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name") });
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().at(0).value<QDBusVariant>().variant().toString();
}

QString RoleNameOf(const QDBusConnection& connection, const Accessible& node) {
    const QDBusMessage reply = CallAccessible(connection, node, "org.a11y.atspi.Accessible", "GetRoleName");
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().at(0).toString();
}

QString TextOf(const QDBusConnection& connection, const Accessible& node) {
    const QDBusMessage reply = CallAccessible(connection, node, "org.a11y.atspi.Text", "GetText", { 0, -1 });
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().at(0).toString();
}

// The application windows titled title, as a screen reader finds them from the registry.
std::vector<Accessible> WindowsTitled(const QDBusConnection& connection, const QString& title) {
    const Accessible registry
        = { QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root") };
    std::vector<Accessible> windows;
    for (const Accessible& application : ChildrenOf(connection, registry)) {
        for (const Accessible& window : ChildrenOf(connection, application)) {
            if (NameOf(connection, window) == title)
                windows.push_back(window);
        }
    }
    return windows;
}

// Visits every descendant of node; the depth bound keeps a broken tree from looping.
void VisitDescendants(const QDBusConnection& connection, const Accessible& node,
    const std::function<void(const Accessible&)>& visit, int depth = 0) {
    if (depth > 64)
        return;
    for (const Accessible& child : ChildrenOf(connection, node)) {
        visit(child);
        VisitDescendants(connection, child, visit, depth + 1);
    }
}

} // namespace

std::vector<std::string> LabelTexts(const QDBusConnection& connection, const QString& title) {
    std::vector<std::string> texts;
    for (const Accessible& window : WindowsTitled(connection, title)) {
        for (const Accessible& part : ChildrenOf(connection, window)) {
            const QString text = NameOf(connection, part);
            if (RoleNameOf(connection, part) == QLatin1String("label") && !text.isEmpty())
                texts.push_back(text.toStdString());
        }
    }
    return texts;
}

std::vector<std::string> TextsOfRole(
    const QDBusConnection& connection, const QString& windowTitle, const QString& roleName) {
    std::vector<std::string> texts;
    for (const Accessible& window : WindowsTitled(connection, windowTitle)) {
        VisitDescendants(connection, window, [&](const Accessible& node) {
            if (RoleNameOf(connection, node) == roleName)
                texts.push_back(TextOf(connection, node).toStdString());
        });
    }
    return texts;
}

std::string RoleNames(const QDBusConnection& connection, const QString& windowTitle) {
    std::string names;
    for (const Accessible& window : WindowsTitled(connection, windowTitle)) {
        VisitDescendants(connection, window, [&](const Accessible& node) {
            names += (names.empty() ? "" : ", ") + RoleNameOf(connection, node).toStdString();
        });
    }
    return names.empty() ? "none" : names;
}

} // namespace vantaro::test
