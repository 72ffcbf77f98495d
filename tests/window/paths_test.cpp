#include "paths.h"

#include <gtest/gtest.h>

namespace vantaro {
namespace {

TEST(PathsTest, FolderAndFileParts) {
    struct Case {
        const char* path;
        const char* folder;
        const char* file;
    };
    const Case cases[] = {
        { "/out/abc_welded.png", "/out/", "abc_welded.png" },
        { "C:\\out\\x.jpg", "C:\\out\\", "x.jpg" },
        { "mixed\\a/b.png", "mixed\\a/", "b.png" },
        { "bare.mesh", "", "bare.mesh" },
        { "/folder/", "/folder/", "" },
        { "", "", "" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FolderPart(c.path), c.folder) << c.path;
        EXPECT_EQ(FilePart(c.path), c.file) << c.path;
    }
}

TEST(PathsTest, DefaultOutputFolderIsBesideAWritableProgramOtherwiseInThePictures) {
    struct Case {
        std::string program;
        bool writable;
        std::string pictures;
        std::string folder;
    };
    const Case cases[] = {
        { "/opt/vantaro/vntro", true, "/home/ann/Pictures", "/opt/vantaro/Output/" },
        { "/vntro", true, "", "/Output/" },
        { "/usr/lib/vantaro/vntro", false, "/home/ann/Pictures", "/home/ann/Pictures/Vantaro/" },
        { "/usr/lib/vantaro/vntro", false, "/home/ann/Bilder/", "/home/ann/Bilder/Vantaro/" },
        { "/usr/lib/vantaro/vntro", false, "", "/usr/lib/vantaro/Output/" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(DefaultOutputFolder(c.program, c.writable, c.pictures), c.folder) << c.program << " " << c.writable;
}

TEST(PathsTest, ChooserStartFolderDropsOneSeparatorButKeepsRoots) {
    struct Case {
        std::string text;
        std::string start;
    };
    const Case cases[] = {
        { "/home/user/Output/", "/home/user/Output" },
        { "/home/user/Output//", "/home/user/Output/" },
        { "/home/user", "/home/user" },
        { "/", "/" },
        { "C:\\", "C:\\" },
        { "C:\\Out\\", "C:\\Out" },
        { "", "" },
        { std::string(300, 'a'), std::string(259, 'a') },
        { std::string(258, 'a') + "/", std::string(258, 'a') },
        // Cut to 259 first; the separator at 260 is gone by then.
        { std::string(259, 'a') + "/", std::string(259, 'a') },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooserStartFolder(c.text), c.start) << c.text;
}

TEST(PathsTest, ChosenFolderEndsWithExactlyOneSeparator) {
    EXPECT_EQ(WithTrailingSeparator("/home/user/pics"), "/home/user/pics/");
    EXPECT_EQ(WithTrailingSeparator("/home/user/pics/"), "/home/user/pics/");
    EXPECT_EQ(WithTrailingSeparator("/"), "/");
    EXPECT_EQ(WithTrailingSeparator(""), "");
}

} // namespace
} // namespace vantaro
