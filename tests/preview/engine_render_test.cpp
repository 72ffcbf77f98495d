// The engine component loaded as the program loads it, drawing pano.mesh with Mesa's OpenGL into an
// offscreen framebuffer that the tests read back.
#include "engine_api.h"

#include <FreeImage.h>
#include <QDir>
#include <QFile>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTemporaryDir>
#include <cmath>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <numbers>
#include <set>
#include <string>
#include <vector>

namespace vantaro {
namespace {

struct Colour {
    int r, g, b;
};

// Eight bands around the panorama, band k centred on longitude k/8 of the image: band 4 is straight
// ahead. Red and blue sit side by side so that swapped channels show.
const Colour kBands[8] = { { 255, 0, 255 }, { 128, 128, 128 }, { 0, 255, 255 }, { 0, 0, 255 }, { 255, 0, 0 },
    { 0, 255, 0 }, { 255, 255, 0 }, { 255, 255, 255 } };

constexpr int kWidth = 320;
constexpr int kHeight = 160;

int BandAt(double u) {
    return int(std::floor(u * 8 + 0.5)) % 8;
}

bool SaveImage(FIBITMAP* image, const std::string& path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    const bool saved = FreeImage_Save(format, image, path.c_str(), format == FIF_JPEG ? JPEG_QUALITYSUPERB : 0);
    FreeImage_Unload(image);
    return saved;
}

FIBITMAP* Paint(int width, int height, const std::function<Colour(int x, int y)>& colourAt) {
    FIBITMAP* image = FreeImage_Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour c = colourAt(x, y);
            RGBQUAD quad = {};
            quad.rgbRed = BYTE(c.r);
            quad.rgbGreen = BYTE(c.g);
            quad.rgbBlue = BYTE(c.b);
            // FreeImage counts rows from the bottom; y here counts from the top.
            FreeImage_SetPixelColor(image, x, height - 1 - y, &quad);
        }
    }
    return image;
}

FIBITMAP* PaintBands(int width, int height) {
    return Paint(width, height, [width](int x, int) { return kBands[BandAt((x + 0.5) / width)]; });
}

bool Near(Colour a, Colour b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

std::string Describe(Colour c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

struct Picture {
    std::vector<unsigned char> rgba;
    // y counts from the top.
    Colour At(int x, int y) const {
        const unsigned char* p = &rgba[(std::size_t(kHeight - 1 - y) * kWidth + x) * 4];
        return { p[0], p[1], p[2] };
    }
};

class EngineTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        library = dlopen(ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto entry = reinterpret_cast<VantaroEngineEntry>(dlsym(library, VANTARO_ENGINE_ENTRY_POINT));
        ASSERT_NE(entry, nullptr);
        engine = entry();
    }

    void SetUp() override {
        ASSERT_NE(engine, nullptr);
        ASSERT_TRUE(folder.isValid());
        surface.create();
        ASSERT_TRUE(context.create());
        ASSERT_TRUE(context.makeCurrent(&surface));
        gl = context.functions();
        gl->glGenRenderbuffers(2, renderbuffers);
        gl->glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
        gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        gl->glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
        gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kWidth, kHeight);
        gl->glGenFramebuffers(1, &framebuffer);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
        gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
        ASSERT_EQ(gl->glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));

        ASSERT_EQ(engine->Init(), 1);
        ASSERT_EQ(engine->AddResourceFolder(PANO_MESH_FOLDER, 0), 1);
        ASSERT_EQ(engine->AddResourceFolder(Path("").c_str(), 0), 1);
        ASSERT_TRUE(SaveImage(PaintBands(2048, 1024), Path("bands.png")));
    }

    void TearDown() override {
        if (context.makeCurrent(&surface)) {
            engine->ReleaseScene();
            gl->glDeleteFramebuffers(1, &framebuffer);
            gl->glDeleteRenderbuffers(2, renderbuffers);
        }
        engine->Shutdown();
        context.doneCurrent();
    }

    std::string Path(const std::string& name) const { return folder.path().toStdString() + "/" + name; }

    // The viewer's scene: operations 2 to 18 in its order. True when both loads succeeded.
    bool BuildScene(const char* texture, float fov = 95.0f) {
        if (!engine->LoadMesh(0, "pano.mesh") || !engine->LoadTexture(0, texture))
            return false;
        engine->CreateMaterial(0, engine->TextureHandle(0));
        engine->DisableMaterialLighting(0, 1);
        engine->SetMaterialDepthWrite(0, 0);
        engine->SetMaterialFiltering(0, 3, 8);
        engine->SetMaterialShading(0, 36);
        engine->CreateEntity(0, engine->MeshHandle(0), engine->MaterialHandle(0), 0, 0, 0);
        engine->CreateCamera(0, 0, 0, 100, 100);
        engine->SetCameraFov(0, fov);
        engine->SwitchCamera(0, 0);
        engine->CreateNode(0, 0, 0, 0);
        engine->AttachObjectToNode(0, engine->CameraHandle(0));
        return true;
    }

    Picture Render() {
        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glViewport(0, 0, kWidth, kHeight);
        engine->RenderWorld();
        Picture picture;
        picture.rgba.resize(std::size_t(kWidth) * kHeight * 4);
        gl->glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, picture.rgba.data());
        return picture;
    }

    // Checks the middle row against the bands a camera turned headingRight degrees to the right
    // should see, skipping columns within a few degrees of a band's edge; the bands seen.
    std::set<int> ExpectBandsAcross(const Picture& picture, float fov, double headingRight, int tolerance) {
        const double pi = std::numbers::pi;
        const double halfWidth = std::tan(fov * pi / 360) * kWidth / kHeight;
        std::set<int> seen;
        int wrong = 0;
        for (int x = 0; x < kWidth; ++x) {
            const double offset = std::atan((2 * (x + 0.5) / kWidth - 1) * halfWidth) * 180 / pi;
            const double u = 0.5 + (headingRight + offset) / 360;
            const double position = u * 8 + 0.5;
            const double withinBand = position - std::floor(position);
            if (withinBand < 4.0 / 45 || withinBand > 1 - 4.0 / 45)
                continue;
            const int band = (BandAt(u) + 8) % 8;
            const Colour seenColour = picture.At(x, kHeight / 2);
            if (Near(seenColour, kBands[band], tolerance))
                seen.insert(band);
            else if (++wrong <= 3)
                ADD_FAILURE() << "column " << x << " shows " << Describe(seenColour) << ", band " << band << " is "
                              << Describe(kBands[band]);
        }
        EXPECT_EQ(wrong, 0);
        return seen;
    }

    static inline void* library = nullptr;
    static inline const VantaroEngine* engine = nullptr;
    QTemporaryDir folder;
    QOffscreenSurface surface;
    QOpenGLContext context;
    QOpenGLFunctions* gl = nullptr;
    GLuint framebuffer = 0;
    GLuint renderbuffers[2] = {};
};

TEST_F(EngineTest, EntryPointOffersEveryOperationAtVersion520) {
    EXPECT_EQ(engine->interfaceVersion, 520);
    const void* operations[] = { reinterpret_cast<const void*>(engine->Init),
        reinterpret_cast<const void*>(engine->Shutdown), reinterpret_cast<const void*>(engine->ReleaseScene),
        reinterpret_cast<const void*>(engine->AddResourceFolder), reinterpret_cast<const void*>(engine->LoadMesh),
        reinterpret_cast<const void*>(engine->LoadTexture), reinterpret_cast<const void*>(engine->TextureHandle),
        reinterpret_cast<const void*>(engine->CreateMaterial),
        reinterpret_cast<const void*>(engine->DisableMaterialLighting),
        reinterpret_cast<const void*>(engine->SetMaterialDepthWrite),
        reinterpret_cast<const void*>(engine->SetMaterialFiltering),
        reinterpret_cast<const void*>(engine->SetMaterialShading),
        reinterpret_cast<const void*>(engine->MaterialHandle), reinterpret_cast<const void*>(engine->MeshHandle),
        reinterpret_cast<const void*>(engine->CreateEntity), reinterpret_cast<const void*>(engine->CreateCamera),
        reinterpret_cast<const void*>(engine->SetCameraFov), reinterpret_cast<const void*>(engine->SwitchCamera),
        reinterpret_cast<const void*>(engine->CreateNode), reinterpret_cast<const void*>(engine->CameraHandle),
        reinterpret_cast<const void*>(engine->AttachObjectToNode), reinterpret_cast<const void*>(engine->RotateNode),
        reinterpret_cast<const void*>(engine->RenderWorld) };
    for (const void* operation : operations)
        EXPECT_NE(operation, nullptr);
}

// Positive yaw turns the view left; the turns add up; the field of view is vertical.
TEST_F(EngineTest, ViewFollowsTurnsAndFieldOfView) {
    struct Case {
        const char* name;
        float fov;
        std::vector<float> turns;
        int centreBand;
        std::size_t bandsAcross;
    };
    const Case cases[] = {
        { "ahead", 95, {}, 4, 3 },
        { "turned left", 95, { 45 }, 3, 3 },
        { "then right", 95, { 45, -90 }, 5, 3 },
        { "small turns add up", 95, std::vector<float>(90, 1.0f), 2, 3 },
        { "narrow", 20, {}, 4, 1 },
        { "wide, behind, across the seam", 120, { 180 }, 0, 5 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(BuildScene("bands.png", c.fov));
        float yaw = 0;
        for (float turn : c.turns) {
            engine->RotateNode(0, 0.0f, turn, 0.0f, 1);
            yaw += turn;
        }
        const Picture picture = Render();
        const Colour centre = picture.At(kWidth / 2, kHeight / 2);
        EXPECT_TRUE(Near(centre, kBands[c.centreBand], 8)) << Describe(centre);
        EXPECT_EQ(ExpectBandsAcross(picture, c.fov, -yaw, 8).size(), c.bandsAcross);
    }
}

// The image's top half is above the horizon and stays level when the view turns.
TEST_F(EngineTest, ImageTopIsUpAndTheHorizonStaysLevel) {
    const Colour sky = { 255, 0, 0 }, ground = { 0, 0, 255 };
    ASSERT_TRUE(SaveImage(Paint(512, 256, [&](int, int y) { return y < 128 ? sky : ground; }), Path("halves.png")));
    ASSERT_TRUE(BuildScene("halves.png"));
    for (float turn : { 0.0f, 37.0f, 120.0f }) {
        engine->RotateNode(0, 0.0f, turn, 0.0f, 1);
        const Picture picture = Render();
        for (int x : { 2, kWidth / 2, kWidth - 3 }) {
            EXPECT_TRUE(Near(picture.At(x, kHeight / 2 - 3), sky, 8)) << turn << " " << x;
            EXPECT_TRUE(Near(picture.At(x, kHeight / 2 + 3), ground, 8)) << turn << " " << x;
        }
    }
}

// Welded files are PNG or JPEG; FreeImage hands over BGR(A) rows from the bottom up.
TEST_F(EngineTest, TextureFormatsShowTheirOwnColours) {
    struct Case {
        const char* file;
        int bits;
        int tolerance;
    };
    const Case cases[] = { { "bands24.png", 24, 8 }, { "bands32.png", 32, 8 }, { "bands.jpg", 24, 40 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        FIBITMAP* image = PaintBands(2048, 1024);
        if (c.bits == 32) {
            FIBITMAP* converted = FreeImage_ConvertTo32Bits(image);
            FreeImage_Unload(image);
            image = converted;
        }
        ASSERT_TRUE(SaveImage(image, Path(c.file)));
        ASSERT_TRUE(BuildScene(c.file));
        ExpectBandsAcross(Render(), 95, 0, c.tolerance);
    }
}

TEST_F(EngineTest, TextureLargerThanTheGpuTakesIsScaledDown) {
    GLint maxSize = 0;
    gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    ASSERT_GT(maxSize, 0);
    ASSERT_TRUE(SaveImage(PaintBands(maxSize + 256, 16), Path("wide.png")));
    ASSERT_TRUE(BuildScene("wide.png"));
    ExpectBandsAcross(Render(), 95, 0, 8);
}

TEST_F(EngineTest, LoadsThatFailReturnZero) {
    QFile garbage(QString::fromStdString(Path("garbage.bin")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("this is neither a mesh nor an image, but it is long enough to be read as one");
    garbage.close();
    ASSERT_TRUE(QFile::copy(garbage.fileName(), QString::fromStdString(Path("garbage.mesh"))));
    ASSERT_TRUE(QFile::copy(garbage.fileName(), QString::fromStdString(Path("garbage.png"))));
    QFile(QString::fromStdString(Path("empty.jpg"))).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder.png"));
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder.mesh"));

    struct Case {
        bool mesh;
        const char* name;
    };
    const Case cases[] = {
        { true, "missing.mesh" },
        { true, "garbage.mesh" },
        { true, "folder.mesh" },
        { true, "" },
        { true, nullptr },
        { false, "missing.png" },
        { false, "garbage.png" },
        { false, "empty.jpg" },
        { false, "folder.png" },
        { false, "" },
        { false, nullptr },
    };
    for (const Case& c : cases) {
        const char* shown = c.name ? c.name : "(null)";
        if (c.mesh) {
            EXPECT_EQ(engine->LoadMesh(0, c.name), 0) << shown;
            EXPECT_EQ(engine->MeshHandle(0), nullptr) << shown;
        } else {
            EXPECT_EQ(engine->LoadTexture(0, c.name), 0) << shown;
            EXPECT_EQ(engine->TextureHandle(0), nullptr) << shown;
        }
    }
}

// Every viewing makes its objects again under number 0 and must start alike.
TEST_F(EngineTest, MakingObjectsAgainReplacesThem) {
    ASSERT_TRUE(BuildScene("bands.png"));
    engine->RotateNode(0, 0.0f, 90.0f, 0.0f, 1);
    engine->SetCameraFov(0, 30.0f);
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), kBands[2], 8));

    // A new node 0 is unturned and holds nothing until the camera is attached again.
    engine->CreateNode(0, 0, 0, 0);
    engine->RotateNode(0, 0.0f, 45.0f, 0.0f, 1);
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), kBands[4], 8));
    engine->AttachObjectToNode(0, engine->CameraHandle(0));
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), kBands[3], 8));

    // The next viewing's scene: unturned, at its own field of view.
    ASSERT_TRUE(BuildScene("bands.png"));
    const Picture again = Render();
    EXPECT_TRUE(Near(again.At(kWidth / 2, kHeight / 2), kBands[4], 8));
    EXPECT_EQ(ExpectBandsAcross(again, 95, 0, 8).size(), 3u);

    // A failed load leaves nothing of the earlier texture to draw.
    EXPECT_EQ(engine->LoadTexture(0, "missing.png"), 0);
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), { 0, 0, 0 }, 0));
}

TEST_F(EngineTest, BareNamesAreFoundInTheFirstRegisteredFolder) {
    QDir root(folder.path());
    ASSERT_TRUE(root.mkdir("first") && root.mkdir("second"));
    const auto plain = [](Colour c) { return Paint(64, 32, [c](int, int) { return c; }); };
    const Colour red = { 255, 0, 0 }, green = { 0, 255, 0 }, blue = { 0, 0, 255 };
    ASSERT_TRUE(SaveImage(plain(red), Path("first/both.png")));
    ASSERT_TRUE(SaveImage(plain(green), Path("second/both.png")));
    ASSERT_TRUE(SaveImage(plain(blue), Path("second/only_second.png")));

    // Registering again keeps the first place.
    for (const char* name : { "first", "second", "first", "second" })
        EXPECT_EQ(engine->AddResourceFolder(Path(name).c_str(), 0), 1) << name;
    EXPECT_EQ(engine->AddResourceFolder(Path("missing").c_str(), 0), 0);
    EXPECT_EQ(engine->AddResourceFolder(Path("first").c_str(), 1), 0);

    ASSERT_TRUE(BuildScene("both.png"));
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), red, 8));
    ASSERT_TRUE(BuildScene("only_second.png"));
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), blue, 8));
}

TEST_F(EngineTest, ReleaseAndShutdownLeaveAnEngineThatStartsAgain) {
    ASSERT_TRUE(BuildScene("bands.png"));
    engine->ReleaseScene();
    EXPECT_EQ(engine->TextureHandle(0), nullptr);
    EXPECT_EQ(engine->MeshHandle(0), nullptr);
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), { 0, 0, 0 }, 0));
    ASSERT_TRUE(BuildScene("bands.png"));
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), kBands[4], 8));

    // Shut down with no context current: the GL names are dropped, not freed through a missing context.
    context.doneCurrent();
    engine->Shutdown();
    ASSERT_TRUE(context.makeCurrent(&surface));
    ASSERT_EQ(engine->Init(), 1);
    EXPECT_EQ(engine->LoadMesh(0, "pano.mesh"), 0) << "the folders went with the shutdown";
    ASSERT_EQ(engine->AddResourceFolder(PANO_MESH_FOLDER, 0), 1);
    ASSERT_EQ(engine->AddResourceFolder(Path("").c_str(), 0), 1);
    ASSERT_TRUE(BuildScene("bands.png"));
    EXPECT_TRUE(Near(Render().At(kWidth / 2, kHeight / 2), kBands[4], 8));
}

} // namespace
} // namespace vantaro
