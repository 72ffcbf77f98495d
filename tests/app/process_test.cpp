// Starts the built program on the X server, finds its window by title and closes it the way a
// window manager does, with a WM_DELETE_WINDOW message.
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// clang-format off
// GoogleTest comes before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;

std::string WindowName(Display* display, Window window) {
    char* name = nullptr;
    std::string result;
    if (XFetchName(display, window, &name) && name)
        result = name;
    if (name)
        XFree(name);
    return result;
}

Window FindWindowNamed(Display* display, Window parent, const std::string& title) {
    Window root = 0;
    Window parentOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        if (WindowName(display, children[i]) == title)
            found = children[i];
        else
            found = FindWindowNamed(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

// Waits for the child to end; -1 when it did not within the time.
int WaitForExit(pid_t child, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

TEST(ProcessTest, WindowManagerCloseEndsTheProgramWithStatusZero) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "needs an X server";

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Another working directory than the program's own, as a user would start it.
        if (chdir("/") != 0)
            _exit(126);
        execl(VNTRO_PATH, VNTRO_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }

    Window window = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!window && Clock::now() < deadline) {
        window = FindWindowNamed(display, DefaultRootWindow(display), "Vantaro");
        if (!window)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!window)
        kill(child, SIGKILL);
    ASSERT_NE(window, 0u) << "no window titled Vantaro appeared";

    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);

    const int status = WaitForExit(child, std::chrono::seconds(20));
    if (status == -1)
        kill(child, SIGKILL);
    EXPECT_EQ(status, 0);
    XCloseDisplay(display);
}

} // namespace
