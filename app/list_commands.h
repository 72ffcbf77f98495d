#pragma once
// The commands that fill PanoramaList and choose the output folder.

namespace vantaro {

void AddPanoramas();
void DeleteSelectedPanoramas();
void BrowseOutputFolder();

} // namespace vantaro
