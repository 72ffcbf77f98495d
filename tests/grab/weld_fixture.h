#pragma once
// Generated tiles and colour checks for the welding tests: every cell gets its own colour, so a
// tile pasted in the wrong place shows.

#include "tiles.h"

#include <FreeImage.h>
#include <functional>
#include <string>

namespace vantaro::test {

// The colour of cell (x, y) as 0xRRGGBB: far from black, and from the cells beside and below it.
unsigned CellColour(int x, int y);

// Writes a JPEG of one colour at the best quality (8-bit greyscale when grey); true when written.
bool WriteSolidJpeg(const std::string& path, int width, int height, unsigned colour, bool grey = false);

// The mean colour, 0xRRGGBB, of a rectangle given from the top-left corner of a 24-bit image.
unsigned MeanColour(FIBITMAP* image, int left, int top, int width, int height);

// True when no channel of a and b differs by more than the tolerance.
bool ColoursNear(unsigned a, unsigned b, int tolerance = 6);

// Compares the inner part of every cell of the grid that the image shows (a crop shows parts)
// with the expected colour; "" when all match, else the first cell that does not.
std::string CheckCells(FIBITMAP* image, const TileGrid& grid, const std::function<unsigned(int, int)>& expected);

} // namespace vantaro::test
