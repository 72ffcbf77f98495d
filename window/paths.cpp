#include "paths.h"

namespace vantaro {

namespace {
constexpr std::size_t kMaxPath = 259;

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::size_t AfterLastSeparator(std::string_view path) {
    const std::size_t pos = path.find_last_of("/\\");
    return pos == std::string_view::npos ? 0 : pos + 1;
}
} // namespace

std::string FolderPart(std::string_view path) {
    return std::string(path.substr(0, AfterLastSeparator(path)));
}

std::string FilePart(std::string_view path) {
    return std::string(path.substr(AfterLastSeparator(path)));
}

std::string DefaultOutputFolder(
    std::string_view executablePath, bool programFolderWritable, std::string_view picturesFolder) {
    if (programFolderWritable || picturesFolder.empty())
        return FolderPart(executablePath) + "Output/";
    return WithTrailingSeparator(picturesFolder) + "Vantaro/";
}

std::string ChooserStartFolder(std::string_view outputFolder) {
    std::string folder(outputFolder.substr(0, kMaxPath));
    // "/" and a drive root such as "C:\" keep their separator.
    const std::size_t rootLength = folder.size() >= 2 && folder[1] == ':' ? 3 : 1;
    if (folder.size() > rootLength && IsSeparator(folder.back()))
        folder.pop_back();
    return folder;
}

std::string WithTrailingSeparator(std::string_view folder) {
    std::string result(folder);
    if (!result.empty() && !IsSeparator(result.back()))
        result += '/';
    return result;
}

} // namespace vantaro
