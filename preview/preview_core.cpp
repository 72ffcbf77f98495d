#include "preview_core.h"

#include "paths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

namespace vantaro {

namespace {
constexpr int kEighthsPerNotch = 120;
constexpr int kFovStep = 10;
constexpr float kFovMin = 20.0f;
constexpr float kFovMax = 120.0f;
// X11 numbers its key codes from the evdev codes plus 8; evdev codes are the set-1 codes.
constexpr unsigned kX11KeyCodeOffset = 8;

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}
} // namespace

float Clamp(float value, float min, float max) {
    // Written so that a NaN fails the first test and yields max.
    if (!(value <= max))
        return max;
    if (value < min)
        return min;
    return value;
}

int NextFieldOfView(int fov, int notches) {
    return static_cast<int>(Clamp(float(fov) + float(kFovStep) * float(notches), kFovMin, kFovMax));
}

int TakeWholeNotches(int& eighths) {
    const int notches = eighths / kEighthsPerNotch;
    eighths -= notches * kEighthsPerNotch;
    return notches;
}

int Set1ScanCode(unsigned nativeScanCode) {
    if (nativeScanCode < kX11KeyCodeOffset || nativeScanCode - kX11KeyCodeOffset > 255)
        return -1;
    return int(nativeScanCode - kX11KeyCodeOffset);
}

std::string ResolveCandidateFile(const std::string& file) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(file, error))
        return file;

    // Only the extension may differ in case: the PanoramaId's case is significant.
    const std::string name = FilePart(file);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return file;
    const std::string folder = FolderPart(file);
    std::vector<std::string> matches;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string other = it->path().filename().string();
        if (other.size() == name.size() && other.compare(0, dot + 1, name, 0, dot + 1) == 0
            && SameIgnoringCase(other.substr(dot + 1), name.substr(dot + 1)))
            matches.push_back(other);
    }
    if (matches.empty())
        return file;
    return folder + *std::min_element(matches.begin(), matches.end());
}

} // namespace vantaro
