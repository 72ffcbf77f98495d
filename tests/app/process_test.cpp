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
#include "x_windows.h"
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;
using namespace vantaro::test;

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
        window = ViewableWindowNamed(display, "Vantaro");
        if (!window)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!window)
        kill(child, SIGKILL);
    ASSERT_NE(window, 0u) << "no window titled Vantaro appeared";

    RequestClose(display, window);

    const int status = WaitForExit(child, std::chrono::seconds(20));
    if (status == -1)
        kill(child, SIGKILL);
    EXPECT_EQ(status, 0);
    XCloseDisplay(display);
}

} // namespace
