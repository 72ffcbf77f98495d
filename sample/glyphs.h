#pragma once
// A 5 x 9 block font for the sample scene: capitals and digits in the top 7 rows, descenders below.

#include <array>

namespace vantaro::sample {

inline constexpr int kGlyphColumns = 5;
inline constexpr int kGlyphRows = 9;
// Capitals, digits and the x-height letters' baseline end on this row count; g j p q y _ go below.
inline constexpr int kGlyphCapRows = 7;
// Columns from one glyph's left edge to the next one's: the glyph and one blank column.
inline constexpr int kGlyphAdvance = kGlyphColumns + 1;

using GlyphBits = std::array<unsigned char, kGlyphRows>;

// The rows of c's bitmap, top row first, bit 4 the leftmost column; all zero for a character outside
// A-Z a-z 0-9 '-' '_'.
GlyphBits GlyphRows(char c);

} // namespace vantaro::sample
