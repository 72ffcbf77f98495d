#include "tiles.h"

#include <gtest/gtest.h>

namespace vantaro {
namespace {

TEST(TilesTest, TileFileNameJoinsThePartsAsTheyStand) {
    EXPECT_EQ(TileFileName("/out/", "AbCdEfGhIjKlMnOpQrStUv", 7), "/out/AbCdEfGhIjKlMnOpQrStUv_tile7.jpg");
    EXPECT_EQ(TileFileName("/out/", "id", 338), "/out/id_tile338.jpg");
    // No separator is added: the folder text always brings its own.
    EXPECT_EQ(TileFileName("out", "id", 1), "outid_tile1.jpg");
}

TEST(TilesTest, PercentEncodingKeepsUnreservedCharactersOnly) {
    struct Case {
        std::string text;
        std::string encoded;
    };
    const Case cases[] = {
        { "AbCdEfGhIjKlMnOpQrSt-_", "AbCdEfGhIjKlMnOpQrSt-_" },
        { "a.b~c09", "a.b~c09" },
        { "a b", "a%20b" },
        { "x&zoom=5", "x%26zoom%3D5" },
        { "100%", "100%25" },
        { "a+b/c?d#e", "a%2Bb%2Fc%3Fd%23e" },
        { "\xC3\xA9", "%C3%A9" },
        { std::string("a\0b", 3), "a%00b" },
        { "", "" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(PercentEncode(c.text), c.encoded) << c.text;
}

TEST(TilesTest, MirrorHostPutsTheNumberForEveryMark) {
    EXPECT_EQ(MirrorHost("cbk{N}.tiles.invalid", 2), "cbk2.tiles.invalid");
    EXPECT_EQ(MirrorHost("127.0.0.{N}:8443", 3), "127.0.0.3:8443");
    EXPECT_EQ(MirrorHost("m{N}.example:44{N}", 1), "m1.example:441");
    EXPECT_EQ(MirrorHost("fixed.example", 1), "fixed.example");
    EXPECT_EQ(MirrorHost("{N}", 2), "2");
}

TEST(TilesTest, HostPatternOverrideIsForgottenWhenCleared) {
    const std::string built = TileHostPattern();
    SetTileHostPatternForTesting("127.0.0.{N}:1");
    EXPECT_EQ(TileHostPattern(), "127.0.0.{N}:1");
    SetTileHostPatternForTesting("");
    EXPECT_EQ(TileHostPattern(), built);
}

TEST(TilesTest, RequestUrlIsExact) {
    EXPECT_EQ(TileRequestUrl("cbk2.tiles.invalid", "AbCdEfGhIjKlMnOpQrSt-_", 12, 6, 4),
        "https://cbk2.tiles.invalid/cbk?cb_client=maps_sv.tactile&authuser=0&hl=en"
        "&panoid=AbCdEfGhIjKlMnOpQrSt-_&output=tile&x=12&y=6&zoom=4&nbt&fover=2");
    EXPECT_EQ(TileRequestUrl("127.0.0.1:443", "a&b", 0, 0, 0),
        "https://127.0.0.1:443/cbk?cb_client=maps_sv.tactile&authuser=0&hl=en"
        "&panoid=a%26b&output=tile&x=0&y=0&zoom=0&nbt&fover=2");
}

TEST(TilesTest, DoneTextAddsOneLinePerKindOfFailure) {
    const std::string done = "Grabbing process is finished! You can examine each pano using the built-in preview.";
    struct Case {
        GrabTally tally;
        std::string text;
    };
    const Case cases[] = {
        { { 16, 0, 2, 0 }, done },
        { { 16, 0, 0, 0 }, done },
        { { 16, 3, 2, 0 }, done + "\r\n\r\n3 of 16 tiles could not be downloaded." },
        { { 16, 0, 2, 1 }, done + "\r\n\r\n1 of 2 welded panoramas could not be saved." },
        { { 8, 8, 1, 1 },
            done + "\r\n\r\n8 of 8 tiles could not be downloaded.\r\n1 of 1 welded panoramas could not be saved." },
        { { 24, 0, 3, 0, 24, 2 }, done + "\r\n\r\n2 of 24 downloaded tiles could not be welded." },
        { { 24, 0, 3, 0, 24, 0 }, done },
        { { 24, 1, 3, 1, 23, 2 },
            done
                + "\r\n\r\n1 of 24 tiles could not be downloaded.\r\n2 of 23 downloaded tiles could not be welded."
                  "\r\n1 of 3 welded panoramas could not be saved." },
    };
    for (const Case& c : cases)
        EXPECT_EQ(DoneText(c.tally), c.text);
}

} // namespace
} // namespace vantaro
