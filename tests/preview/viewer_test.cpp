// Real viewings: the engine component beside this program, Mesa's software OpenGL, welded images
// made with FreeImage. A driver runs at each poll of the frame loop, sends input to PreviewWindow
// and reads the rendered picture back from the X server.
#include "main_window.h"
#include "modal_box.h"
#include "paths.h"
#include "platform.h"
#include "preview.h"
#include "preview_window.h"
#include "startup.h"
#include "viewer_watch.h"

#include <FreeImage.h>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace vantaro {
namespace {

namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;
const char* const kId = "AbCdEfGhIjKlMnOpQrStUv";
const char* const kOtherId = "ZyXwVuTsRqPoNmLkJiHgFe";

// The welded test image: longitude as a colour wheel in red and blue (no seam to wrap around),
// latitude as green, 0 at the top to 255 at the bottom. `flatGreen` >= 0 marks a second image.
void SaveWelded(const std::string& path, FREE_IMAGE_FORMAT format, int flatGreen = -1) {
    const int width = 1664, height = 832;
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        // FreeImage keeps its rows bottom-up.
        BYTE* row = FreeImage_GetScanLine(bitmap, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const double longitude = (x + 0.5) / width * 2 * kPi;
            row[x * 3 + FI_RGBA_RED] = BYTE(std::lround(128 + 127 * std::cos(longitude)));
            row[x * 3 + FI_RGBA_BLUE] = BYTE(std::lround(128 + 127 * std::sin(longitude)));
            row[x * 3 + FI_RGBA_GREEN] = BYTE(flatGreen >= 0 ? flatGreen : std::lround(255.0 * y / (height - 1)));
        }
    }
    ASSERT_TRUE(FreeImage_Save(format, bitmap, path.c_str(), 0)) << path;
    FreeImage_Unload(bitmap);
}

// Reading the picture back: the longitude and latitude a pixel shows, in degrees.
double Longitude(const QImage& image, int x, int y) {
    double red = 0, blue = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            red += qRed(image.pixel(x + dx, y + dy)) - 128;
            blue += qBlue(image.pixel(x + dx, y + dy)) - 128;
        }
    }
    return std::atan2(blue, red) * 180 / kPi;
}
double Latitude(const QImage& image, int x, int y) {
    return 90 - 180.0 * qGreen(image.pixel(x, y)) / 255;
}
double Turn(double from, double to) {
    return std::remainder(to - from, 360.0);
}
double CentreLongitude(const QImage& image) {
    return Longitude(image, image.width() / 2, image.height() / 2);
}
// The vertical field of view: the top edge's centre looks up by half of it.
double VerticalFov(const QImage& image) {
    return 2 * std::abs(Latitude(image, image.width() / 2, 0));
}

// Read from the picture to within a degree; the limits are five degrees from the next wrong value.
void ExpectFovs(const std::vector<double>& measured, const std::vector<int>& expected) {
    ASSERT_EQ(measured.size(), expected.size());
    for (std::size_t i = 0; i < measured.size(); ++i)
        EXPECT_NEAR(measured[i], expected[i], 1.5) << "step " << i;
}

QImage Picture(QWindow* window) {
    return window->screen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

QPoint GlobalCentre(QWindow* window) {
    return window->mapToGlobal(QPoint(window->width() / 2, window->height() / 2));
}

void MoveMouse(QWindow* window, QPoint by) {
    const QPoint global = GlobalCentre(window) + by;
    QMouseEvent move(
        QEvent::MouseMove, window->mapFromGlobal(global), global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
}

void TurnWheel(QWindow* window, int eighths) {
    const QPoint global = GlobalCentre(window);
    QWheelEvent wheel(window->mapFromGlobal(global), global, QPoint(), QPoint(0, eighths), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window, &wheel);
}

// Escape as X11 reports it: key code 9.
void PressEscape(QWindow* window) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 9, 0xff1b, 0);
    QCoreApplication::sendEvent(window, &press);
}

QWindow* ShownPreviewWindow() {
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->title() == QString::fromUtf8(kPreviewWindowTitle))
            return window;
    }
    return nullptr;
}

// Runs steps at the frame loop's polls, one poll apart or more. A step returns false to be run
// again at the next poll. Waits until PreviewWindow is active and its pointer held first.
class ViewingDriver {
public:
    using Step = std::function<bool(QWindow*)>;
    explicit ViewingDriver(std::vector<Step> steps)
        : steps_(std::move(steps)) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    bool Finished() const { return next_ == steps_.size(); }

private:
    void Tick() {
        QWindow* window = ShownPreviewWindow();
        if (!window || Finished())
            return;
        if (window != window_) {
            window_ = window;
            activeTicks_ = 0;
        }
        // The pointer is taken at the first examination in the foreground; give it two frames.
        if (activeTicks_ < 3) {
            activeTicks_ = window->isActive() ? activeTicks_ + 1 : 0;
            return;
        }
        if (wait_ > 0) {
            --wait_;
            return;
        }
        if (steps_[next_](window)) {
            ++next_;
            wait_ = 1;
        }
    }
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    int wait_ = 0;
    int activeTicks_ = 0;
    QPointer<QWindow> window_;
    QTimer timer_;
};

ViewingDriver::Step EndWithEscape() {
    return [](QWindow* window) {
        PressEscape(window);
        return true;
    };
}

class ViewerTest : public testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("viewer_test_" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "out");
        fs::create_directories(root / "cwd");
        oldDirectory = fs::current_path();
        fs::current_path(root / "cwd");
        ASSERT_TRUE(StartUp());
        ASSERT_TRUE(PreviewAvailable) << "the engine component should lie beside the test program";
        SetOutputFolderText((root / "out").string() + "/");
    }
    void TearDown() override {
        test::AllModalsAnswered();
        ShutDown();
        fs::current_path(oldDirectory);
        fs::remove_all(root);
        fs::remove(MeshBesideProgram());
    }
    std::string Out(const std::string& name) const { return (root / "out" / name).string(); }
    static std::string MeshBesideProgram() { return FolderPart(ExecutablePath()) + "pano.mesh"; }
    static void CopyMesh(const std::string& to) {
        fs::copy_file(VIEWER_MESH, to, fs::copy_options::overwrite_existing);
    }
    void ListAndSelect(const char* id) {
        AddListItem(id);
        SelectOnlyItem(ListItemCount() - 1);
    }

    fs::path root;
    fs::path oldDirectory;
};

TEST_F(ViewerTest, TheMouseTurnsTheViewRightOnlyAcrossAndTheWheelZoomsWithinItsLimits) {
    CopyMesh(Out("pano.mesh"));
    SaveWelded(Out(std::string(kId) + "_welded.png"), FIF_PNG);
    ListAndSelect(kId);

    QImage start, turned, tilted;
    double rightwards = 0;
    std::vector<double> fovs;
    auto measureFov = [&fovs](QWindow* window) {
        fovs.push_back(VerticalFov(Picture(window)));
        return true;
    };
    auto notches = [](int count) {
        return [count](QWindow* window) {
            TurnWheel(window, 120 * count);
            return true;
        };
    };
    std::vector<ViewingDriver::Step> steps;
    steps.push_back([&](QWindow* window) {
        EXPECT_EQ(window->title(), "Vantaro (Hit Escape to exit)");
        EXPECT_EQ(window->windowStates(), Qt::WindowMaximized);
        EXPECT_TRUE(window->geometry().contains(window->screen()->availableGeometry()))
            << window->geometry().width() << "x" << window->geometry().height();
        EXPECT_TRUE(window->flags().testFlag(Qt::WindowMinimizeButtonHint));
        EXPECT_TRUE(window->flags().testFlag(Qt::WindowCloseButtonHint));
        EXPECT_FALSE(window->flags().testFlag(Qt::WindowMaximizeButtonHint));
        EXPECT_EQ(window->cursor().shape(), Qt::BlankCursor) << "the pointer is hidden while held";
        start = Picture(window);
        const int x = start.width() / 2, y = start.height() / 2;
        rightwards = Turn(Longitude(start, x, y), Longitude(start, x + start.width() / 8, y)) > 0 ? 1 : -1;
        MoveMouse(window, QPoint(50, 0));
        return true;
    });
    steps.push_back([&](QWindow* window) {
        turned = Picture(window);
        MoveMouse(window, QPoint(0, 80));
        return true;
    });
    steps.push_back([&](QWindow* window) {
        tilted = Picture(window);
        return true;
    });
    steps.push_back(measureFov);
    for (int i = 0; i < 4; ++i) {
        steps.push_back(notches(1));
        steps.push_back(measureFov);
    }
    for (int i = 0; i < 11; ++i) {
        steps.push_back(notches(-1));
        steps.push_back(measureFov);
    }
    steps.push_back(EndWithEscape());
    ViewingDriver driver(steps);
    PreviewSelectedPanorama(PreviewTrigger::Button);
    ASSERT_TRUE(driver.Finished());

    // 50 counts to the right at -0.2 degrees a count: 10 degrees toward what was on the right.
    EXPECT_NEAR(Turn(CentreLongitude(start), CentreLongitude(turned)), 10 * rightwards, 1.0);
    EXPECT_NEAR(Turn(CentreLongitude(turned), CentreLongitude(tilted)), 0, 0.5);
    EXPECT_NEAR(VerticalFov(tilted), VerticalFov(turned), 1.0) << "vertical movement tilted the view";
    EXPECT_NEAR(Latitude(tilted, tilted.width() / 2, tilted.height() / 2), 0, 1.5);
    ExpectFovs(fovs, { 95, 105, 115, 120, 120, 110, 100, 90, 80, 70, 60, 50, 40, 30, 20, 20 });
    EXPECT_EQ(ShownPreviewWindow(), nullptr);
}
} // namespace
} // namespace vantaro
