#include "panorama_id.h"

namespace vantaro {

namespace {
constexpr std::string_view kIdMarker = "panoid=";
constexpr std::string_view kShortMarker = "!1s";

// ASCII letters only, so the copy keeps every byte in its place.
std::string AsciiLowerCopy(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return lower;
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Up to `count` characters from the start of text; a UTF-8 character is never cut in two.
std::string_view TakeCharacters(std::string_view text, int count, int& taken) {
    std::size_t end = 0;
    taken = 0;
    while (end < text.size() && taken < count) {
        ++end;
        while (end < text.size() && IsContinuationByte(text[end]))
            ++end;
        ++taken;
    }
    return text.substr(0, end);
}

// Every file name starts with the id, so a separator or NUL in it would leave the output folder.
bool IsSafeForFileNames(std::string_view id) {
    return id.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}
} // namespace

ExtractResult ExtractPanoramaId(std::string_view line) {
    const std::string lower = AsciiLowerCopy(line);
    std::size_t start = std::string::npos;
    if (const std::size_t at = lower.find(kIdMarker); at != std::string::npos)
        start = at + kIdMarker.size();
    else if (const std::size_t atShort = lower.find(kShortMarker); atShort != std::string::npos)
        start = atShort + kShortMarker.size();
    if (start == std::string::npos)
        return { ExtractFailure::NoMarker, std::string(line) };

    int taken = 0;
    const std::string_view id = TakeCharacters(line.substr(start), kPanoramaIdLength, taken);
    if (taken < kPanoramaIdLength)
        return { ExtractFailure::TooShort, std::string(id) };
    if (!IsSafeForFileNames(id))
        return { ExtractFailure::InvalidCharacters, std::string(id) };
    return { ExtractFailure::None, std::string(id) };
}

std::string ExtractErrorText(const ExtractResult& result) {
    switch (result.failure) {
    case ExtractFailure::NoMarker:
        return "Invalid panorama ID: Could not extract panoID value.\r\n\r\n" + result.text;
    case ExtractFailure::TooShort:
        return "Invalid panorama ID: Too short.\r\n\r\n" + result.text;
    case ExtractFailure::InvalidCharacters:
        return "Invalid panorama ID: Invalid characters.\r\n\r\n" + result.text;
    case ExtractFailure::None:
        break;
    }
    return {};
}

std::vector<std::string_view> SplitPieces(std::string_view input) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t lf = input.find('\n'); lf != std::string_view::npos; lf = input.find('\n', start)) {
        const std::size_t end = lf > start && input[lf - 1] == '\r' ? lf - 1 : lf;
        pieces.push_back(input.substr(start, end - start));
        start = lf + 1;
    }
    pieces.push_back(input.substr(start));
    return pieces;
}

std::string_view TrimSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace vantaro
