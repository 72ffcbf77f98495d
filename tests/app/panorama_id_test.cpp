#include "panorama_id.h"

#include <gtest/gtest.h>

namespace vantaro {
namespace {

const std::string kId = "AbCdEfGhIjKlMnOpQrStUv"; // 22 characters, mixed case

TEST(ExtractPanoramaIdTest, TakesTheIdAfterTheMarker) {
    struct Case {
        const char* what;
        std::string line;
        ExtractFailure failure;
        std::string text;
    };
    const Case cases[] = {
        { "panoid marker", "https://host/?panoid=" + kId + "&x=1", ExtractFailure::None, kId },
        { "marker in capitals", "https://host/?PANOID=" + kId, ExtractFailure::None, kId },
        { "marker in mixed case", "https://host/?PanoId=" + kId, ExtractFailure::None, kId },
        { "short marker", "https://host/data=!3m1!1s" + kId + "!2e0", ExtractFailure::None, kId },
        { "short marker in capitals", "x!1S" + kId, ExtractFailure::None, kId },
        { "panoid wins over an earlier !1s", "!1sXXXXXXXXXXXXXXXXXXXXXXXX&panoid=" + kId, ExtractFailure::None, kId },
        { "first panoid counts", "panoid=" + kId + "&panoid=ZZZZZZZZZZZZZZZZZZZZZZ", ExtractFailure::None, kId },
        { "more than 22 characters", "panoid=" + kId + "EXTRA", ExtractFailure::None, kId },
        { "characters are not inspected", "panoid=short&zoom=3&x=1234567&y=2", ExtractFailure::None,
            "short&zoom=3&x=1234567" },
        { "tab inside the id", "panoid=\t" + kId.substr(1), ExtractFailure::None, "\t" + kId.substr(1) },
        { "comma and equals kept", "panoid=a,b=c" + kId.substr(5), ExtractFailure::None, "a,b=c" + kId.substr(5) },
        { "no marker", "https://host/?pano=" + kId, ExtractFailure::NoMarker, "https://host/?pano=" + kId },
        { "marker split by case folding is not a marker", "pano id=" + kId, ExtractFailure::NoMarker,
            "pano id=" + kId },
        { "too short", "panoid=abc", ExtractFailure::TooShort, "abc" },
        { "21 characters", "panoid=" + kId.substr(1), ExtractFailure::TooShort, kId.substr(1) },
        { "marker at the end", "https://host/?panoid=", ExtractFailure::TooShort, "" },
        { "slash in the id", "panoid=abc/defghijklmnopqrstuv", ExtractFailure::InvalidCharacters,
            "abc/defghijklmnopqrstu" },
        { "backslash in the id", "panoid=..\\..\\..\\..\\..\\..\\..\\x", ExtractFailure::InvalidCharacters,
            "..\\..\\..\\..\\..\\..\\..\\x" },
        { "NUL in the id", "panoid=abc" + std::string(1, '\0') + "efghijklmnopqrstuvw",
            ExtractFailure::InvalidCharacters, "abc" + std::string(1, '\0') + "efghijklmnopqrstuv" },
        { "separator after the 22 characters is fine", "panoid=" + kId + "/more", ExtractFailure::None, kId },
        // Characters, not bytes: a two-byte letter counts once and is never cut in half.
        { "non-ASCII characters", "panoid=\xC3\xA9" + kId.substr(1) + "x", ExtractFailure::None,
            "\xC3\xA9" + kId.substr(1) },
    };
    for (const Case& c : cases) {
        const ExtractResult result = ExtractPanoramaId(c.line);
        EXPECT_EQ(result.failure, c.failure) << c.what;
        EXPECT_EQ(result.text, c.text) << c.what;
    }
}

TEST(ExtractPanoramaIdTest, ErrorTextsShowWhatWasFound) {
    EXPECT_EQ(ExtractErrorText(ExtractPanoramaId("no marker here")),
        "Invalid panorama ID: Could not extract panoID value.\r\n\r\nno marker here");
    EXPECT_EQ(ExtractErrorText(ExtractPanoramaId("panoid=abc")), "Invalid panorama ID: Too short.\r\n\r\nabc");
    EXPECT_EQ(ExtractErrorText(ExtractPanoramaId("x?panoid=")), "Invalid panorama ID: Too short.\r\n\r\n");
    EXPECT_EQ(ExtractErrorText(ExtractPanoramaId("panoid=abc/defghijklmnopqrstuv")),
        "Invalid panorama ID: Invalid characters.\r\n\r\nabc/defghijklmnopqrstu");
}

TEST(SplitPiecesTest, CutsAtCrLfAndLoneLf) {
    struct Case {
        const char* what;
        std::string input;
        std::vector<std::string_view> pieces;
    };
    const Case cases[] = {
        { "one line", "a", { "a" } },
        { "CR LF", "a\r\nb\r\nc", { "a", "b", "c" } },
        { "CR LF at the end gives an empty last piece", "a\r\nb\r\n", { "a", "b", "" } },
        { "LF only", "a\nb\nc", { "a", "b", "c" } },
        { "mixed line ends", "a\r\nb\nc\r\n\r\nd", { "a", "b", "c", "", "d" } },
        { "lone CR is ordinary text", "a\rb\r\nc", { "a\rb", "c" } },
        { "CR before CR LF stays in the piece", "a\r\r\nb", { "a\r", "b" } },
        { "empty input", "", { "" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitPieces(c.input), c.pieces) << c.what;
}

TEST(TrimSpacesTest, RemovesSpacesOnly) {
    EXPECT_EQ(TrimSpaces("  a b  "), "a b");
    EXPECT_EQ(TrimSpaces("\ta\t"), "\ta\t");
    EXPECT_EQ(TrimSpaces("    "), "");
    EXPECT_EQ(TrimSpaces(""), "");
}

} // namespace
} // namespace vantaro
