#pragma once
// Plain path text helpers; '/' and '\' both count as separators.

#include <string>
#include <string_view>

namespace vantaro {

// The path up to and including its last separator; "" when it has none.
std::string FolderPart(std::string_view path);
// The part of the path after its last separator.
std::string FilePart(std::string_view path);
// The folder of the executable followed by "Output/" where that folder can be written; otherwise
// the user's pictures folder followed by "Vantaro/" (an installed program's folder belongs to the
// system). Without a pictures folder it stays beside the program.
std::string DefaultOutputFolder(
    std::string_view executablePath, bool programFolderWritable, std::string_view picturesFolder);
// The folder a chooser should start in: at most 259 characters, one trailing separator dropped
// when the text is longer than a root.
std::string ChooserStartFolder(std::string_view outputFolder);
// A chosen folder path ending with exactly one separator; "" stays "".
std::string WithTrailingSeparator(std::string_view folder);

} // namespace vantaro
