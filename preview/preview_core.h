#pragma once
// The preview's plain logic: the field of view's limits, wheel notches, scan codes, candidate files.

#include <string>

namespace vantaro {

// max when value > max or value is not a number, min when value < min, value otherwise.
float Clamp(float value, float min, float max);
// The field of view after `notches` wheel notches, kept within 20..120 degrees.
int NextFieldOfView(int fov, int notches);
// The whole notches in `eighths` (wheel angle in eighths of a degree, 120 a notch); the part
// short of a notch stays in `eighths` for the next examination.
int TakeWholeNotches(int& eighths);
// The set-1 scan code (Escape is 1) of an X11 key code, or -1 when it has none below 256.
int Set1ScanCode(unsigned nativeScanCode);
// The existing file that `file` names when its extension is read without regard to letter case:
// `file` itself when it exists, else the first match in name order, else `file` unchanged.
std::string ResolveCandidateFile(const std::string& file);

} // namespace vantaro
