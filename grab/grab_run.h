#pragma once
// The grab run: every tile of every listed panorama, welded and saved.

namespace vantaro {

// Downloads every tile of every listed panorama at the slider's level, welds each panorama and
// ends with the "Done" box; an empty list or output folder text only shows the "Error" box.
void RunGrab();

} // namespace vantaro
