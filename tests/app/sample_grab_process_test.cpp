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
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// clang-format off
// GoogleTest and Qt come before Xlib, whose macros (None, Bool, Status) clash with their names.
#include <gtest/gtest.h>
#include "desktop_session.h"
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include "x_windows.h"
// clang-format on

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
    AccessibilityBus bus;
    Child program;
    Desktop desktop;
    std::vector<std::string> madeFiles;
};

// Ends whatever is left, so no child outlives a failed step.
void EndSession(Session& session) {
    EndChild(session.program);
    EndChild(session.service);
    StopAccessibilityBus(session.bus);
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
    XSetErrorHandler(IgnoreXErrors);
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
                {}, true, {} });
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
    Child addresses = Start({ { SAMPLE_SERVICE_PATH, "--addresses" }, {}, {}, true, {} });
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
    const std::string busError = StartAccessibilityBus(session.bus, DBUS_DAEMON_PATH);
    ASSERT_TRUE(busError.empty()) << busError;
    const QDBusConnection& accessibility = session.bus.accessibility;

    // Step 3: the program, from another working directory, driven by clicks and keys.
    session.program = Start({ { VNTRO_PATH }, "/",
        { "DBUS_SESSION_BUS_ADDRESS=" + session.bus.sessionAddress, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1" }, false,
        {} });
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
