#include "engine_library.h"
#include "preview_core.h"

#include <cmath>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace vantaro {
namespace {

TEST(ViewerCoreTest, ClampKeepsValuesWithinTheLimitsAndTakesNanAsMax) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float value, expected;
    } cases[] = { { 95, 95 }, { 20, 20 }, { 120, 120 }, { 19.5f, 20 }, { 125, 120 }, { -inf, 20 }, { inf, 120 },
        { nan, 120 } };
    for (const Case& c : cases)
        EXPECT_EQ(Clamp(c.value, 20, 120), c.expected) << c.value;
}

TEST(ViewerCoreTest, FieldOfViewFollowsTheWheelWithinItsLimits) {
    // One notch a frame from the start value, then back down; several notches at once are limited
    // as one sum.
    int fov = 95;
    std::vector<int> seen;
    for (int frame = 0; frame < 4; ++frame)
        seen.push_back(fov = NextFieldOfView(fov, 1));
    EXPECT_EQ(seen, (std::vector<int> { 105, 115, 120, 120 }));
    seen.clear();
    for (int frame = 0; frame < 12; ++frame)
        seen.push_back(fov = NextFieldOfView(fov, -1));
    EXPECT_EQ(seen, (std::vector<int> { 110, 100, 90, 80, 70, 60, 50, 40, 30, 20, 20, 20 }));
    EXPECT_EQ(NextFieldOfView(95, 3), 120);
    EXPECT_EQ(NextFieldOfView(95, -30), 20);
    EXPECT_EQ(NextFieldOfView(95, std::numeric_limits<int>::max()), 120);
}

TEST(ViewerCoreTest, WheelAnglesBecomeWholeNotchesAndKeepTheirRest) {
    struct Case {
        int eighths, notches, rest;
    } cases[] = { { 0, 0, 0 }, { 120, 1, 0 }, { 119, 0, 119 }, { 360, 3, 0 }, { 250, 2, 10 }, { -120, -1, 0 },
        { -130, -1, -10 } };
    for (const Case& c : cases) {
        int eighths = c.eighths;
        EXPECT_EQ(TakeWholeNotches(eighths), c.notches) << c.eighths;
        EXPECT_EQ(eighths, c.rest) << c.eighths;
    }
    // Half notches from a fine wheel add up.
    int eighths = 60;
    EXPECT_EQ(TakeWholeNotches(eighths), 0);
    eighths += 60;
    EXPECT_EQ(TakeWholeNotches(eighths), 1);
}

TEST(ViewerCoreTest, X11KeyCodesMapToSet1ScanCodes) {
    struct Case {
        unsigned native;
        int code;
    } cases[] = { { 9, 1 } /* Escape */, { 65, 57 } /* space */, { 8, 0 }, { 263, 255 }, { 7, -1 }, { 0, -1 },
        { 264, -1 }, { 0xffffffffu, -1 } };
    for (const Case& c : cases)
        EXPECT_EQ(Set1ScanCode(c.native), c.code) << c.native;
}

class ViewerCandidateFileTest : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path()
            / ("viewer_core_" + std::to_string(::getpid()) + "_"
                + testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string Touch(const std::string& name) {
        const std::string path = (folder / name).string();
        std::ofstream(path) << "x";
        return path;
    }
    std::string In(const std::string& name) const { return (folder / name).string(); }
    std::filesystem::path folder;
};

TEST_F(ViewerCandidateFileTest, ExtensionsMatchWithoutRegardToCaseButTheIdDoesNot) {
    const std::string png = Touch("AbC_welded.png");
    EXPECT_EQ(ResolveCandidateFile(In("AbC_welded.PNG")), png);
    EXPECT_EQ(ResolveCandidateFile(In("AbC_welded.png")), png);
    EXPECT_EQ(ResolveCandidateFile(In("abc_welded.PNG")), In("abc_welded.PNG")) << "the id's case is significant";
    EXPECT_EQ(ResolveCandidateFile(In("AbC_welded.JPG")), In("AbC_welded.JPG"));
    EXPECT_EQ(ResolveCandidateFile(In("AbC_welded.PN")), In("AbC_welded.PN"));
    EXPECT_EQ(ResolveCandidateFile(In("AbC_welded")), In("AbC_welded"));
    EXPECT_EQ(ResolveCandidateFile(In("missing_folder/AbC_welded.PNG")), In("missing_folder/AbC_welded.PNG"));
}

TEST_F(ViewerCandidateFileTest, AnExactMatchComesFirstThenTheFirstInNameOrder) {
    Touch("id_welded.png");
    Touch("id_welded.Png");
    EXPECT_EQ(ResolveCandidateFile(In("id_welded.PNG")), In("id_welded.Png"));
    const std::string exact = Touch("id_welded.PNG");
    EXPECT_EQ(ResolveCandidateFile(In("id_welded.PNG")), exact);
}

// The stand-in components lie in folders of their own (VIEWER_FAKE_ENGINES).
TEST(ViewerEngineLibraryTest, OnlyAStartedComponentOfVersion520IsKept) {
    const std::string root = VIEWER_FAKE_ENGINES;
    const std::string garbage = std::filesystem::temp_directory_path() / "viewer_not_a_library.so";
    std::ofstream(garbage) << "not a shared library";
    struct Case {
        std::string path;
        EngineLoadFailure failure;
    } cases[] = {
        { root + "/missing/" VANTARO_ENGINE_LIBRARY_NAME, EngineLoadFailure::NotLoadable },
        { garbage, EngineLoadFailure::NotLoadable },
        { root + "/no_entry/" VANTARO_ENGINE_LIBRARY_NAME, EngineLoadFailure::NoEntryPoint },
        { root + "/other_version/" VANTARO_ENGINE_LIBRARY_NAME, EngineLoadFailure::OtherVersion },
        { root + "/init_fails/" VANTARO_ENGINE_LIBRARY_NAME, EngineLoadFailure::InitFailed },
        { root + "/good/" VANTARO_ENGINE_LIBRARY_NAME, EngineLoadFailure::None },
    };
    for (const Case& c : cases) {
        EngineLibrary loaded = LoadEngineLibrary(c.path);
        EXPECT_EQ(loaded.failure, c.failure) << c.path;
        EXPECT_EQ(loaded.engine != nullptr, c.failure == EngineLoadFailure::None) << c.path;
        if (c.failure != EngineLoadFailure::None) {
            EXPECT_EQ(dlopen(c.path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "left loaded: " << c.path;
        }
        UnloadEngineLibrary(loaded);
        EXPECT_EQ(loaded.library, nullptr);
        EXPECT_EQ(dlopen(c.path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "not unloaded: " << c.path;
    }
    std::filesystem::remove(garbage);
}

} // namespace
} // namespace vantaro
