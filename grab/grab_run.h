#pragma once
// The grab run: every tile of every listed panorama, welded and saved.

namespace vantaro {

void RunGrab();

} // namespace vantaro
