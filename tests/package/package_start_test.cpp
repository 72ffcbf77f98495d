// The Debian package as a user gets it: unpacked, started through its bin/ link from another folder,
// once by a user who cannot write to the program's folder and once by root, who can. The default
// output folder is read from the window over the accessibility bus, as a screen reader reads it.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

// clang-format off
// GoogleTest and Qt come before Xlib, whose macros (None, Bool, Status) clash with their names.
#include <gtest/gtest.h>
#include "desktop_session.h"
#include <X11/Xlib.h>
#include "x_windows.h"
// clang-format on

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;
using namespace vantaro::test;

constexpr const char* kHomeMark = "{home}";
constexpr const char* kRootMark = "{root}";

struct StartCase {
    const char* user;
    const char* expectedFolder; // {home}: the user's home, {root}: where the package was unpacked
};

const StartCase kStartCases[] = {
    // The unpacked folder is root's: the user's pictures folder stands in for it.
    { "nobody", "{home}/Pictures/Vantaro/" },
    { "root", "{root}/usr/lib/vantaro/Output/" },
};

void PrintTo(const StartCase& start, std::ostream* out) {
    *out << start.user;
}

std::string Expand(std::string text, const std::string& home, const std::string& root) {
    for (const auto& [mark, value] : { std::pair { kHomeMark, home }, std::pair { kRootMark, root } }) {
        const std::size_t at = text.find(mark);
        if (at != std::string::npos)
            text.replace(at, std::string(mark).size(), value);
    }
    return text;
}

// Makes a folder owned by the user with the mode a desktop login would give it.
bool MakeOwnedFolder(const fs::path& folder, const UserIds& user, mode_t mode) {
    return mkdir(folder.c_str(), mode) == 0 && chmod(folder.c_str(), mode) == 0
        && chown(folder.c_str(), user.uid, user.gid) == 0;
}

// The X server's cookie file, empty when there is none.
std::string XAuthorityFile() {
    if (const char* file = std::getenv("XAUTHORITY"); file && *file)
        return file;
    if (const char* ourHome = std::getenv("HOME"); ourHome && fs::exists(fs::path(ourHome) / ".Xauthority"))
        return (fs::path(ourHome) / ".Xauthority").string();
    return {};
}

// A copy of the cookie the user can read, as its own login would have it.
bool CopyOwned(const std::string& source, const fs::path& copy, const UserIds& user) {
    std::error_code error;
    return fs::copy_file(source, copy, error) && chmod(copy.c_str(), 0600) == 0
        && chown(copy.c_str(), user.uid, user.gid) == 0;
}

class PackageStartTest : public testing::TestWithParam<StartCase> {
protected:
    void TearDown() override {
        EndChild(program);
        StopAccessibilityBus(bus);
        if (display)
            XCloseDisplay(display);
        if (!folder.empty()) {
            // The bus's helpers may still be leaving their runtime folder.
            std::error_code error;
            const auto deadline = Clock::now() + seconds(10);
            while (fs::remove_all(folder, error) == static_cast<std::uintmax_t>(-1) && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_FALSE(fs::exists(folder)) << "left behind: " << folder;
        }
    }

    // Polls until the condition holds; false when the time ran out or the program ended (then
    // programStatus holds its exit status).
    template <typename Condition> bool WaitUntil(seconds limit, Condition condition) {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            if (condition())
                return true;
            programStatus = ExitedStatus(program);
            if (programStatus != -1 || Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::string WhyNot() const {
        if (programStatus != -1)
            return "vntro ended with status " + std::to_string(programStatus);
        return "timed out; shown: " + ShownTitles(display);
    }

    fs::path folder; // everything this test made
    Display* display = nullptr;
    AccessibilityBus bus;
    Child program;
    int programStatus = -1;
};

TEST_P(PackageStartTest, UnpackedProgramStartsWithItsEngineAndADefaultOutputFolderItsUserCanWrite) {
    const StartCase& start = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to unpack the package as root's and start it as " << start.user;
    ASSERT_TRUE(fs::exists(VANTARO_DEB)) << "no package at " << VANTARO_DEB << "; run cpack -G DEB -B package";
    display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "needs an X server";
    XSetErrorHandler(IgnoreXErrors);

    const passwd* account = getpwnam(start.user);
    ASSERT_NE(account, nullptr) << "no user " << start.user;
    const UserIds user = { account->pw_uid, account->pw_gid };

    // One folder for all; traversable, so the user reaches the unpacked program and its home.
    std::string pattern = (fs::temp_directory_path() / "vantaro-package-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = fs::canonical(pattern);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);

    const fs::path root = folder / "root";
    Child unpack = Start({ { DPKG_DEB_PATH, "-x", VANTARO_DEB, root.string() }, {}, {}, false, {} });
    ASSERT_GT(unpack.pid, 0) << "could not start dpkg-deb";
    const int unpacked = WaitForExit(unpack, seconds(60));
    EndChild(unpack);
    ASSERT_EQ(unpacked, 0) << "dpkg-deb -x " << VANTARO_DEB;
    const fs::path link = root / "usr/bin/vntro";
    ASSERT_TRUE(fs::is_symlink(link)) << link << " is not a link";

    // A home as a desktop login leaves it.
    const fs::path home = folder / "home";
    const fs::path runtime = home / "runtime";
    ASSERT_TRUE(MakeOwnedFolder(home, user, 0700));
    ASSERT_TRUE(MakeOwnedFolder(home / "Pictures", user, 0755));
    ASSERT_TRUE(MakeOwnedFolder(home / ".config", user, 0700));
    ASSERT_TRUE(MakeOwnedFolder(home / ".cache", user, 0700));
    ASSERT_TRUE(MakeOwnedFolder(runtime, user, 0700));
    std::vector<std::string> environment = {
        "HOME=" + home.string(),
        "USER=" + std::string(start.user),
        "LOGNAME=" + std::string(start.user),
        "XDG_CONFIG_HOME=" + (home / ".config").string(),
        "XDG_CACHE_HOME=" + (home / ".cache").string(),
        "XDG_DATA_HOME=" + (home / ".local/share").string(),
        "XDG_STATE_HOME=" + (home / ".local/state").string(),
        "XDG_RUNTIME_DIR=" + runtime.string(),
    };
    if (const std::string cookie = XAuthorityFile(); !cookie.empty()) {
        ASSERT_TRUE(CopyOwned(cookie, home / ".Xauthority", user)) << "could not copy " << cookie;
        environment.push_back("XAUTHORITY=" + (home / ".Xauthority").string());
    }

    const std::string busError
        = StartAccessibilityBus(bus, DBUS_DAEMON_PATH, { user, environment, (home / "bus.conf").string() });
    ASSERT_TRUE(busError.empty()) << busError;

    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.sessionAddress);
    environment.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    program = Start({ { link.string() }, home.string(), environment, false, user });
    ASSERT_GT(program.pid, 0) << "could not start " << link;

    Window window = 0;
    ASSERT_TRUE(WaitUntil(seconds(30), [&] { return (window = ViewableWindowNamed(display, "Vantaro")) != 0; }))
        << "no window titled Vantaro: " << WhyNot();

    // The engine beside the program loaded: no Error box follows the window.
    const bool errorShown = WaitUntil(seconds(3), [&] { return ViewableWindowNamed(display, "Error") != 0; });
    EXPECT_FALSE(errorShown) << "an Error box came up: the engine did not load from " << root / "usr/lib/vantaro";
    ASSERT_EQ(programStatus, -1) << WhyNot();

    const std::string expected = Expand(start.expectedFolder, home.string(), root.string());
    std::vector<std::string> texts;
    const bool read = WaitUntil(seconds(15), [&] {
        texts = TextsOfRole(bus.accessibility, QStringLiteral("Vantaro"), QStringLiteral("text"));
        return !texts.empty() && !texts.front().empty();
    });
    ASSERT_TRUE(read) << "the output folder did not reach the accessibility bus: " << WhyNot()
                      << "; roles: " << RoleNames(bus.accessibility, QStringLiteral("Vantaro"));
    EXPECT_EQ(texts, std::vector<std::string> { expected });

    RequestClose(display, window);
    const int status = WaitForExit(program, seconds(20));
    EXPECT_EQ(status, 0) << "vntro " << (status == -1 ? "did not end within 20 s" : "ended badly");
}

std::string CaseName(const testing::TestParamInfo<StartCase>& param) {
    return param.param.user;
}

INSTANTIATE_TEST_SUITE_P(Users, PackageStartTest, testing::ValuesIn(kStartCases), CaseName);

} // namespace
