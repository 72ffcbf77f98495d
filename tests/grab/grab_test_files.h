#pragma once
// File helpers shared by the download and grab tests.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdlib.h>
#include <string>

namespace vantaro::test {

// A new empty folder under /tmp; "" when none could be made.
inline std::string MakeTemporaryFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "_XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// The file's bytes; "" when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The names of the folder's entries.
inline std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace vantaro::test
