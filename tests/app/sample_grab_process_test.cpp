// Grabs a drawn sample panorama through the built program as a user would: the page address on the
// clipboard, clicks and keys through the X server, the sample tile service over HTTPS on loopback,
// and the welded PNG read back with FreeImage. The Done box's text is read over the accessibility bus,
// the way a screen reader reads it.
#include "scene.h"

#include <FreeImage.h>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// clang-format off
// GoogleTest and Qt come before Xlib, whose macros (None, Bool, Status) clash with their names.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include "x_windows.h"
// clang-format on

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;
using namespace vantaro::test;

constexpr int kQuality = 2; // the slider's starting level
constexpr const char* kDoneText = "Grabbing process is finished! You can examine each pano using the built-in preview.";

// Control centres in client coordinates.
constexpr int kAddPanoX = 220 + 90 / 2;
constexpr int kAddPanoY = 320 + 30 / 2;
constexpr int kGrabX = 340 + 90 / 2;
constexpr int kGrabY = 380 + 30 / 2;

// ---- Child processes ----

struct Child {
    pid_t pid = -1;
    int output = -1; // read end of its standard output, when captured
};

struct Launch {
    std::vector<std::string> arguments;
    std::string workingFolder; // empty: ours
    std::vector<std::string> extraEnvironment; // NAME=value, over ours
    bool captureOutput = false;
};

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

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The child's exit status once it has ended, -1 while it runs; an ended child's pid is cleared.
int ExitedStatus(Child& child) {
    int status = 0;
    if (child.pid <= 0 || waitpid(child.pid, &status, WNOHANG) != child.pid)
        return -1;
    child.pid = -1;
    return ExitStatus(status);
}

// Waits for the child to end; -1 when it did not within the time.
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

// One line of the child's output without its line end; false when none came within the time.
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

bool PortServed(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool served = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return served;
}

// A 22-character id of its own per run, so a grab of the same id elsewhere in the tree is not touched.
std::string UniqueId() {
    char id[32];
    const auto now = unsigned(Clock::now().time_since_epoch().count() / 1000);
    std::snprintf(id, sizeof id, "ProcessGrab-%05x%05x", unsigned(getpid()) & 0xFFFFFu, now & 0xFFFFFu);
    return id;
}

// ---- The X server ----

// Windows come and go while the tree is walked; an error about a gone window is not a failure.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

struct Desktop {
    Display* display = nullptr;
    Window clipboardOwner = 0; // the test's own unmapped window, owning CLIPBOARD
    std::string clipboardText;
};

// Answers pending requests for the clipboard's text, as the application that copied it would.
void ServeClipboard(Desktop& desktop) {
    Display* display = desktop.display;
    const Atom targets = XInternAtom(display, "TARGETS", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom plainUtf8 = XInternAtom(display, "text/plain;charset=utf-8", False);
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != SelectionRequest)
            continue;
        const XSelectionRequestEvent& request = event.xselectionrequest;
        const Atom property = request.property != 0 ? request.property : request.target;
        XSelectionEvent reply {};
        reply.type = SelectionNotify;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.time = request.time;
        reply.property = property;
        if (request.target == targets) {
            const Atom offered[] = { targets, utf8, plainUtf8, XA_STRING };
            XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(offered), int(std::size(offered)));
        } else if (request.target == utf8 || request.target == plainUtf8 || request.target == XA_STRING) {
            XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                reinterpret_cast<const unsigned char*>(desktop.clipboardText.data()),
                int(desktop.clipboardText.size()));
        } else {
            reply.property = 0;
        }
        XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    }
    XFlush(display);
}

bool CopyToClipboard(Desktop& desktop, const std::string& text) {
    Display* display = desktop.display;
    desktop.clipboardOwner = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    desktop.clipboardText = text;
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    XSetSelectionOwner(display, clipboard, desktop.clipboardOwner, CurrentTime);
    return XGetSelectionOwner(display, clipboard) == desktop.clipboardOwner;
}

bool HoldsFocus(Display* display, Window window) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // The focus may rest on a child of the window.
    while (focus > PointerRoot) {
        if (focus == window)
            return true;
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, focus, &root, &parent, &children, &count))
            return false;
        if (children)
            XFree(children);
        focus = parent == root ? 0 : parent;
    }
    return false;
}

void ClickAt(Display* display, Window window, int x, int y) {
    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
}

void PressReturn(Display* display) {
    const KeyCode key = XKeysymToKeycode(display, XK_Return);
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    XFlush(display);
}

// ---- The accessibility bus ----

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

// The texts of the labels in every application window titled title, as a screen reader reads them.
std::vector<std::string> LabelTexts(const QDBusConnection& connection, const QString& title) {
    const Accessible registry
        = { QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root") };
    std::vector<std::string> texts;
    for (const Accessible& application : ChildrenOf(connection, registry)) {
        for (const Accessible& window : ChildrenOf(connection, application)) {
            if (NameOf(connection, window) != title)
                continue;
            for (const Accessible& part : ChildrenOf(connection, window)) {
                const QString text = NameOf(connection, part);
                if (RoleNameOf(connection, part) == QLatin1String("label") && !text.isEmpty())
                    texts.push_back(text.toStdString());
            }
        }
    }
    return texts;
}

// ---- The welded image ----

struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};

// The mean colour of the 5 x 5 pixels around a heading and elevation; headings wrap at the seam.
Rgb MeanAround(FIBITMAP* image, double heading, double elevation) {
    const int width = int(FreeImage_GetWidth(image));
    const int height = int(FreeImage_GetHeight(image));
    const double u = std::fmod(0.5 + heading / 360.0, 1.0);
    const int centreX = int(std::lround(u * width));
    const int centreY = int(std::lround((0.5 - elevation / 180.0) * height));
    Rgb sum;
    int count = 0;
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            const int x = ((centreX + dx) % width + width) % width;
            const int y = std::clamp(centreY + dy, 0, height - 1);
            RGBQUAD pixel {};
            // FreeImage counts rows from the bottom.
            FreeImage_GetPixelColor(image, unsigned(x), unsigned(height - 1 - y), &pixel);
            sum.r += pixel.rgbRed;
            sum.g += pixel.rgbGreen;
            sum.b += pixel.rgbBlue;
            ++count;
        }
    }
    return { sum.r / count, sum.g / count, sum.b / count };
}

// The tiles that cover the panorama at a level.
int TileCount(int zoom) {
    const auto across
        = [](int pixels) { return (pixels + vantaro::sample::kTileSize - 1) / vantaro::sample::kTileSize; };
    return across(vantaro::sample::PanoramaWidth(zoom)) * across(vantaro::sample::PanoramaHeight(zoom));
}

std::string Describe(Rgb colour) {
    char text[64];
    std::snprintf(text, sizeof text, "(%.0f, %.0f, %.0f)", colour.r, colour.g, colour.b);
    return text;
}

// ---- The run ----

struct Session {
    Child service; // only when this test started it
    Child bus;
    Child program;
    Desktop desktop;
    std::unique_ptr<QCoreApplication> application;
    QString sessionBusName;
    QString accessibilityBusName;
    std::vector<std::string> madeFiles;
};

// Ends whatever is left, so no child outlives a failed step.
void EndSession(Session& session) {
    EndChild(session.program);
    EndChild(session.service);
    if (!session.accessibilityBusName.isEmpty())
        QDBusConnection::disconnectFromBus(session.accessibilityBusName);
    if (!session.sessionBusName.isEmpty())
        QDBusConnection::disconnectFromBus(session.sessionBusName);
    // The accessibility bus and its registry end by themselves once the session bus is gone.
    if (session.bus.pid > 0)
        kill(session.bus.pid, SIGTERM);
    WaitForExit(session.bus, seconds(10));
    EndChild(session.bus);
    session.application.reset();
    if (session.desktop.display)
        XCloseDisplay(session.desktop.display);
    session.desktop.display = nullptr;
    std::error_code error;
    for (const std::string& file : session.madeFiles)
        std::filesystem::remove(file, error);
}

class SampleGrabProcessTest : public testing::Test {
protected:
    void TearDown() override { EndSession(session); }
    Session session;
};

// Polls the condition, answering clipboard requests meanwhile; false when the time ran out or the
// program ended (then programStatus holds its exit status).
template <typename Condition> bool WaitUntil(Session& session, seconds limit, int& programStatus, Condition condition) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        ServeClipboard(session.desktop);
        if (condition())
            return true;
        programStatus = ExitedStatus(session.program);
        if (programStatus != -1 || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string WhyNot(Session& session, int programStatus) {
    if (programStatus != -1)
        return "vntro ended with status " + std::to_string(programStatus);
    return "timed out; shown: " + ShownTitles(session.desktop.display);
}

TEST_F(SampleGrabProcessTest, GrabOfAClipboardAddressSavesTheDrawnPanorama) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "needs an X server";
    session.desktop.display = display;
    XSetErrorHandler(IgnoreXError);
    int xtestEvent = 0;
    int xtestError = 0;
    int major = 0;
    int minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display, &xtestEvent, &xtestError, &major, &minor)) << "needs XTest";

    // Step 1: the sample service, or the one already serving the port.
    const int port = VANTARO_SAMPLE_PORT;
    if (!PortServed(port)) {
        session.service
            = Start({ { SAMPLE_SERVICE_PATH, "--folder", VANTARO_SAMPLE_FOLDER, "--port", std::to_string(port) }, {},
                {}, true });
        ASSERT_GT(session.service.pid, 0) << "could not start the sample service";
        std::string ready;
        if (!ReadLine(session.service.output, seconds(30), ready)) {
            // Lost a race for the port to another service: that one serves as well.
            const int status = WaitForExit(session.service, seconds(2));
            ASSERT_TRUE(status == 1 && PortServed(port))
                << "step 1: the sample service printed no ready line within 30 s (status " << status << ")";
        }
    }
    ASSERT_TRUE(PortServed(port)) << "step 1: nothing serves port " << port;

    // Step 2: a sample page address with an id of this run on the clipboard.
    Child addresses = Start({ { SAMPLE_SERVICE_PATH, "--addresses" }, {}, {}, true });
    std::string address;
    const bool gotAddress = ReadLine(addresses.output, seconds(10), address);
    WaitForExit(addresses, seconds(10));
    EndChild(addresses);
    const std::size_t idAt = address.find("panoid=");
    ASSERT_TRUE(gotAddress && idAt != std::string::npos && address.size() >= idAt + 7 + 22)
        << "step 2: no sample address: " << address;
    const std::string id = UniqueId();
    address.replace(idAt + 7, 22, id);
    ASSERT_TRUE(CopyToClipboard(session.desktop, address)) << "step 2: could not own the clipboard";

    const std::string outputFolder = std::filesystem::path(VNTRO_PATH).parent_path().string() + "/Output/";
    const std::string weldedFile = outputFolder + id + "_welded.png";
    session.madeFiles.push_back(weldedFile);
    for (int tile = 1; tile <= TileCount(kQuality); ++tile)
        session.madeFiles.push_back(outputFolder + id + "_tile" + std::to_string(tile) + ".jpg");

    // A private session bus whose accessibility bus carries the program's windows to the test.
    session.bus = Start({ { DBUS_DAEMON_PATH, "--session", "--nofork", "--print-address" }, {}, {}, true });
    ASSERT_GT(session.bus.pid, 0) << "could not start dbus-daemon";
    std::string sessionAddress;
    ASSERT_TRUE(ReadLine(session.bus.output, seconds(10), sessionAddress)) << "dbus-daemon printed no address";
    static int argc = 1;
    static char name[] = "sample_grab_process_test";
    static char* argv[] = { name, nullptr };
    session.application = std::make_unique<QCoreApplication>(argc, argv);
    session.sessionBusName = QStringLiteral("vantaro-session");
    const QDBusConnection sessionBus
        = QDBusConnection::connectToBus(QString::fromStdString(sessionAddress), session.sessionBusName);
    ASSERT_TRUE(sessionBus.isConnected()) << sessionBus.lastError().message().toStdString();
    // Asking for its address starts the accessibility bus; the program joins it once it is there.
    const QDBusMessage busReply
        = sessionBus.call(QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"),
            QDBus::Block, 30000);
    ASSERT_TRUE(busReply.type() == QDBusMessage::ReplyMessage && !busReply.arguments().isEmpty())
        << "no accessibility bus: " << busReply.errorMessage().toStdString();
    session.accessibilityBusName = QStringLiteral("vantaro-accessibility");
    const QDBusConnection accessibility
        = QDBusConnection::connectToBus(busReply.arguments().at(0).toString(), session.accessibilityBusName);
    ASSERT_TRUE(accessibility.isConnected()) << accessibility.lastError().message().toStdString();

    // Step 3: the program, from another working directory, driven by clicks and keys.
    session.program = Start({ { VNTRO_PATH }, "/",
        { "DBUS_SESSION_BUS_ADDRESS=" + sessionAddress, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1" }, false });
    ASSERT_GT(session.program.pid, 0) << "could not start vntro";
    int programStatus = -1;

    Window window = 0;
    const bool started = WaitUntil(
        session, seconds(30), programStatus, [&] { return (window = ViewableWindowNamed(display, "Vantaro")) != 0; });
    ASSERT_TRUE(started) << "step 3: no window titled Vantaro: " << WhyNot(session, programStatus);

    ClickAt(display, window, kAddPanoX, kAddPanoY);
    Window askBox = 0;
    const bool asked = WaitUntil(session, seconds(15), programStatus, [&] {
        askBox = ViewableWindowNamed(display, "Use clipboard?");
        return askBox && HoldsFocus(display, askBox);
    });
    ASSERT_TRUE(asked) << "step 3: Add Pano brought no focused \"Use clipboard?\" box: "
                       << WhyNot(session, programStatus);
    PressReturn(display);
    const bool answered = WaitUntil(
        session, seconds(15), programStatus, [&] { return !ViewableWindowNamed(display, "Use clipboard?"); });
    ASSERT_TRUE(answered) << "step 3: Return left the \"Use clipboard?\" box open: " << WhyNot(session, programStatus);

    ClickAt(display, window, kGrabX, kGrabY);
    Window doneBox = 0;
    const bool done = WaitUntil(session, seconds(60), programStatus, [&] {
        doneBox = ViewableWindowNamed(display, "Done");
        return doneBox && HoldsFocus(display, doneBox);
    });
    ASSERT_TRUE(done) << "step 3: Grab! brought no focused \"Done\" box within 60 s: "
                      << WhyNot(session, programStatus);

    std::vector<std::string> texts;
    const bool read = WaitUntil(session, seconds(15), programStatus, [&] {
        texts = LabelTexts(accessibility, QStringLiteral("Done"));
        return !texts.empty();
    });
    EXPECT_TRUE(read) << "step 3: the Done box's text did not reach the accessibility bus: "
                      << WhyNot(session, programStatus);
    if (read) {
        EXPECT_EQ(texts, std::vector<std::string> { kDoneText });
    }

    PressReturn(display);
    const bool closed
        = WaitUntil(session, seconds(15), programStatus, [&] { return !ViewableWindowNamed(display, "Done"); });
    ASSERT_TRUE(closed) << "step 3: Return left the Done box open: " << WhyNot(session, programStatus);

    // Step 4: the welded panorama shows the drawn scene, and every tile went into it.
    for (int tile = 1; tile <= TileCount(kQuality); ++tile) {
        const std::string tileFile = outputFolder + id + "_tile" + std::to_string(tile) + ".jpg";
        EXPECT_FALSE(std::filesystem::exists(tileFile)) << "not welded: " << tileFile;
    }
    FIBITMAP* loaded = FreeImage_Load(FIF_PNG, weldedFile.c_str(), 0);
    ASSERT_NE(loaded, nullptr) << "step 4: no readable " << weldedFile;
    FIBITMAP* image = FreeImage_ConvertTo24Bits(loaded);
    FreeImage_Unload(loaded);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(int(FreeImage_GetWidth(image)), vantaro::sample::PanoramaWidth(kQuality));
    EXPECT_EQ(int(FreeImage_GetHeight(image)), vantaro::sample::PanoramaHeight(kQuality));

    constexpr double kTolerance = 40; // per channel, for the tiles' JPEG noise
    for (const vantaro::sample::CompassPoint& point : vantaro::sample::kCompassPoints) {
        SCOPED_TRACE(point.label);
        const Rgb seen = MeanAround(image, point.heading, 10.0);
        const Rgb drawn
            = { double((point.colour >> 16) & 0xFF), double((point.colour >> 8) & 0xFF), double(point.colour & 0xFF) };
        EXPECT_TRUE(std::fabs(seen.r - drawn.r) <= kTolerance && std::fabs(seen.g - drawn.g) <= kTolerance
            && std::fabs(seen.b - drawn.b) <= kTolerance)
            << "pole " << Describe(seen) << ", drawn " << Describe(drawn);
    }
    // Between the poles and away from the lines, the letters and the id.
    const Rgb sky = MeanAround(image, 52.5, 45.0);
    const Rgb ground = MeanAround(image, 52.5, -45.0);
    EXPECT_GT(std::fabs(sky.r - ground.r) + std::fabs(sky.g - ground.g) + std::fabs(sky.b - ground.b), 60.0)
        << "sky " << Describe(sky) << ", ground " << Describe(ground);
    FreeImage_Unload(image);

    // Step 5: the program and the service it used end cleanly.
    RequestClose(display, window);
    const int status = WaitForExit(session.program, seconds(20));
    EXPECT_EQ(status, 0) << "step 5: vntro " << (status == -1 ? "did not end within 20 s" : "ended badly");
    if (session.service.pid > 0) {
        kill(session.service.pid, SIGTERM);
        const int serviceStatus = WaitForExit(session.service, seconds(20));
        EXPECT_EQ(serviceStatus, 0) << "step 5: the sample service "
                                    << (serviceStatus == -1 ? "did not end within 20 s" : "ended badly");
    }
}

} // namespace
