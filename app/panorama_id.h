#pragma once
// Cutting pasted text into pieces and taking a panorama id out of each: plain values only.

#include <string>
#include <string_view>
#include <vector>

namespace vantaro {

constexpr int kPanoramaIdLength = 22;

enum class ExtractFailure { None, NoMarker, TooShort, InvalidCharacters };

struct ExtractResult {
    ExtractFailure failure = ExtractFailure::None;
    // The id on success; otherwise what the error box shows: the line (NoMarker), the characters
    // after the marker (TooShort) or the 22 characters taken (InvalidCharacters).
    std::string text;
};

// The id after "panoid=" (preferred) or "!1s", found in any letter case.
ExtractResult ExtractPanoramaId(std::string_view line);
// The text of the "Error" box for a failed extraction.
std::string ExtractErrorText(const ExtractResult& result);
// The pieces between line ends; CR LF and a lone LF each end a piece, a lone CR does not.
std::vector<std::string_view> SplitPieces(std::string_view input);
// The text without leading and trailing spaces (code 32 only).
std::string_view TrimSpaces(std::string_view text);

} // namespace vantaro
