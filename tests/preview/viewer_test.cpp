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
#include "viewer_support.h"

#include <FreeImage.h>
#include <QDeadlineTimer>
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
#include <memory>
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
void PressEscape(QWindow* window, QEvent::Type type = QEvent::KeyPress) {
    QKeyEvent press(type, Qt::Key_Escape, Qt::NoModifier, 9, 0xff1b, 0);
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
        // A viewing that never gets going is ended by a close request rather than left to hang.
        if (deadline_.hasExpired()) {
            window->close();
            return;
        }
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
    QDeadlineTimer deadline_ { 60000 };
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

TEST_F(ViewerTest, EveryViewingStartsUnturnedAt95DegreesWhateverTheLastOneLeft) {
    CopyMesh(Out("pano.mesh"));
    SaveWelded(Out(std::string(kId) + "_welded.png"), FIF_PNG);
    ListAndSelect(kId);

    struct Seen {
        double longitude = 0;
        double fov = 0;
    };
    std::vector<Seen> starts;
    std::vector<double> afterNotches;
    auto recordStart = [&starts](QWindow* window) {
        const QImage picture = Picture(window);
        starts.push_back({ CentreLongitude(picture), VerticalFov(picture) });
        return true;
    };
    // The first viewing turns and zooms, and ends with Escape still down when its window goes.
    ViewingDriver first({ recordStart,
        [](QWindow* window) {
            MoveMouse(window, QPoint(-150, 0));
            TurnWheel(window, -240);
            return true;
        },
        EndWithEscape() });
    PreviewSelectedPanorama(PreviewTrigger::Button);
    ASSERT_TRUE(first.Finished());

    // Three notches in one frame are limited as one sum: 95 + 30 gives 120, and one back gives 110.
    ViewingDriver second({ recordStart,
        [&afterNotches](QWindow* window) {
            TurnWheel(window, 360);
            return true;
        },
        [&afterNotches](QWindow* window) {
            afterNotches.push_back(VerticalFov(Picture(window)));
            TurnWheel(window, -120);
            return true;
        },
        [&afterNotches](QWindow* window) {
            afterNotches.push_back(VerticalFov(Picture(window)));
            return true;
        },
        EndWithEscape() });
    PreviewSelectedPanorama(PreviewTrigger::ListDoubleClick);
    ASSERT_TRUE(second.Finished()) << "the second viewing ended before its steps";

    ASSERT_EQ(starts.size(), 2u);
    EXPECT_NEAR(starts[1].fov, 95, 1.5);
    EXPECT_NEAR(Turn(starts[0].longitude, starts[1].longitude), 0, 0.5);
    ExpectFovs(afterNotches, { 120, 110 });
}

TEST_F(ViewerTest, ACloseRequestFromMainWindowEndsOnlyTheViewing) {
    CopyMesh(Out("pano.mesh"));
    SaveWelded(Out(std::string(kId) + "_welded.png"), FIF_PNG);
    // Unselected: a click in the list toggles its row, so the double-click selects it.
    AddListItem(kId);
    // Only the second close request, sent after the viewing, may end the program's loop.
    auto secondCloseSent = std::make_shared<bool>(false);
    ViewingDriver driver({ [secondCloseSent](QWindow* window) {
        QObject::connect(window, &QObject::destroyed, [secondCloseSent] {
            QTimer::singleShot(300, [secondCloseSent] {
                *secondCloseSent = true;
                Ui().MainWindow->close();
            });
        });
        Ui().MainWindow->close();
        return true;
    } });
    QTimer::singleShot(50, [] { test::DoubleClickListRow(0); });
    RunEventLoop();
    EXPECT_TRUE(driver.Finished());
    EXPECT_TRUE(*secondCloseSent) << "the close request during the viewing ended the program's loop";
    EXPECT_TRUE(Ui().MainWindow->isVisible());
    EXPECT_EQ(ShownPreviewWindow(), nullptr);
}

// Which welded file a viewing showed, read from the centre of its first picture: the PNG has
// green 127 at the horizon, the JPG flat green 0.
enum class Shown { None, Png, Jpg };
enum class File { None, Good, Empty, Unreadable };

ViewingDriver::Step RecordShown(Shown& shown) {
    return [&shown](QWindow* window) {
        const QImage picture = Picture(window);
        shown = qGreen(picture.pixel(picture.width() / 2, picture.height() / 2)) > 64 ? Shown::Png : Shown::Jpg;
        return true;
    };
}
enum class MeshAt { Output, WorkingDirectory, Program, Nowhere };

TEST_F(ViewerTest, TheCandidatesAreTriedPngThenJpgAndOnlyAMissingFileMovesOn) {
    struct Case {
        const char* what;
        File png, jpg;
        MeshAt mesh;
        int windows;
        Shown shown;
        bool message;
    } cases[] = {
        { "both good", File::Good, File::Good, MeshAt::Output, 1, Shown::Png, false },
        { "PNG empty", File::Empty, File::Good, MeshAt::WorkingDirectory, 1, Shown::Jpg, false },
        { "neither", File::None, File::None, MeshAt::Output, 0, Shown::None, true },
        { "PNG unreadable", File::Unreadable, File::Good, MeshAt::Output, 1, Shown::None, false },
        { "no mesh", File::Good, File::Good, MeshAt::Nowhere, 1, Shown::None, false },
        { "mesh beside the program only", File::Good, File::None, MeshAt::Program, 1, Shown::Png, false },
    };
    ListAndSelect(kId);
    const std::string base = Out(std::string(kId) + "_welded");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name :
            { base + ".png", base + ".jpg", Out("pano.mesh"), std::string("pano.mesh"), MeshBesideProgram() })
            fs::remove(name);
        auto write = [](File kind, const std::string& path, FREE_IMAGE_FORMAT format, int flatGreen) {
            if (kind == File::Good)
                SaveWelded(path, format, flatGreen);
            else if (kind == File::Empty)
                std::ofstream { path };
            else if (kind == File::Unreadable)
                std::ofstream(path) << "not an image at all";
        };
        write(c.png, base + ".png", FIF_PNG, -1);
        write(c.jpg, base + ".jpg", FIF_JPEG, 0);
        if (c.mesh == MeshAt::Output)
            CopyMesh(Out("pano.mesh"));
        else if (c.mesh == MeshAt::WorkingDirectory)
            CopyMesh("pano.mesh");
        else if (c.mesh == MeshAt::Program)
            CopyMesh(MeshBesideProgram());

        Shown shown = Shown::None;
        ViewingDriver driver({ RecordShown(shown), EndWithEscape() });
        test::PreviewWindowWatch watch;
        auto box = test::AnswerNextModal("OK");
        PreviewSelectedPanorama(PreviewTrigger::Button);
        EXPECT_EQ(watch.shown, c.windows);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(box->seen, c.message);
        if (c.message) {
            EXPECT_EQ(box->text,
                "Could not find panorama file! Please make sure a valid pano is downloaded with the 'Weld Tiles' "
                "option enabled.");
        }
        EXPECT_EQ(ShownPreviewWindow(), nullptr);
        test::AllModalsAnswered();
    }
}

TEST_F(ViewerTest, EachTriggerTestsItsOwnPreconditions) {
    CopyMesh(Out("pano.mesh"));
    SaveWelded(Out(std::string(kId) + "_welded.png"), FIF_PNG);
    AddListItem(kId);
    struct Case {
        PreviewTrigger trigger;
        bool selected, available;
        const char* message; // nullptr: nothing at all
    } cases[] = {
        { PreviewTrigger::Button, false, true, "Select panorama ID from the list." },
        { PreviewTrigger::Button, true, false, "Select panorama ID from the list." },
        { PreviewTrigger::ListDoubleClick, false, true, nullptr },
        { PreviewTrigger::ListDoubleClick, true, false, nullptr },
        { PreviewTrigger::ListOther, true, true, nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            testing::Message() << int(c.trigger) << " selected " << c.selected << " available " << c.available);
        SelectOnlyItem(c.selected ? 0 : -1);
        PreviewAvailable = c.available;
        test::PreviewWindowWatch watch;
        auto box = test::AnswerNextModal("OK");
        PreviewSelectedPanorama(c.trigger);
        EXPECT_EQ(watch.shown, 0);
        EXPECT_EQ(box->seen, c.message != nullptr);
        if (c.message) {
            EXPECT_EQ(box->title, "Error");
            EXPECT_EQ(box->text, c.message);
            EXPECT_EQ(box->buttons, QStringList { "OK" });
        }
        EXPECT_EQ(FirstSelectedItem(), c.selected ? 0 : -1) << "the command changed the selection";
        test::AllModalsAnswered();
    }
    PreviewAvailable = true;
}

TEST_F(ViewerTest, OfSeveralSelectedRowsTheLowestIsShownFromTheCurrentOutputFolder) {
    // The row above has its PNG in the old folder only; the chosen folder holds its JPG.
    SaveWelded(Out(std::string(kId) + "_welded.png"), FIF_PNG);
    fs::create_directories(root / "new");
    CopyMesh((root / "new" / "pano.mesh").string());
    SaveWelded((root / "new" / (std::string(kId) + "_welded.jpg")).string(), FIF_JPEG, 0);
    SaveWelded((root / "new" / (std::string(kOtherId) + "_welded.png")).string(), FIF_PNG);
    SetOutputFolderText((root / "new").string() + "/");
    AddListItem("the first row, unselected");
    AddListItem(kId);
    AddListItem(kOtherId);
    SetItemSelected(2, 1);
    SetItemSelected(1, 1);

    Shown shown = Shown::None;
    // Ended by PreviewWindow's own close box this time.
    ViewingDriver driver({ RecordShown(shown), [](QWindow* window) {
                              window->close();
                              return true;
                          } });
    PreviewSelectedPanorama(PreviewTrigger::ListDoubleClick);
    EXPECT_EQ(shown, Shown::Jpg);
    EXPECT_TRUE(driver.Finished());
    EXPECT_EQ(ShownPreviewWindow(), nullptr);
}

TEST_F(ViewerTest, InTheBackgroundThePointerIsFreeAndEscapeWaitsForTheForeground) {
    CopyMesh(Out("pano.mesh"));
    SaveWelded(Out(std::string(kId) + "_welded.png"), FIF_PNG);
    ListAndSelect(kId);
    int backgroundFrames = 0;
    bool freedInBackground = false, escapeIgnored = false;
    ViewingDriver driver({ [](QWindow*) {
                              Ui().MainWindow->activateWindow();
                              return true;
                          },
        [&](QWindow* window) {
            if (window->isActive() || ++backgroundFrames < 3)
                return false;
            freedInBackground = window->cursor().shape() != Qt::BlankCursor;
            PressEscape(window);
            return true;
        },
        [&](QWindow* window) {
            // Still running a few frames after Escape went down in the background.
            escapeIgnored = true;
            window->requestActivate();
            return true;
        } });
    PreviewSelectedPanorama(PreviewTrigger::Button);
    EXPECT_TRUE(driver.Finished());
    EXPECT_TRUE(freedInBackground);
    EXPECT_TRUE(escapeIgnored);
    EXPECT_EQ(ShownPreviewWindow(), nullptr) << "Escape, still down, ends the viewing once in the foreground";
}

TEST_F(ViewerTest, EscapeTappedBetweenTwoFramesEndsTheViewing) {
    CopyMesh(Out("pano.mesh"));
    SaveWelded(Out(std::string(kId) + "_welded.png"), FIF_PNG);
    ListAndSelect(kId);
    bool stillRunning = false;
    ViewingDriver driver({ [](QWindow* window) {
                              // Down and up again before the next examination, as a brisk tap on a slow frame.
                              PressEscape(window, QEvent::KeyPress);
                              PressEscape(window, QEvent::KeyRelease);
                              return true;
                          },
        [&stillRunning](QWindow* window) {
            stillRunning = true;
            window->close();
            return true;
        } });
    PreviewSelectedPanorama(PreviewTrigger::Button);
    EXPECT_FALSE(stillRunning) << "the tap was missed";
    EXPECT_EQ(ShownPreviewWindow(), nullptr);
}
} // namespace
} // namespace vantaro
