#pragma once
// Image files into GL textures, for the engine and for the viewer benchmark.

#include <string>

namespace vantaro {

// Seconds each stage of one load worked. Decoding runs beside handing rows to GL, so the stages add
// up to more than the load took. storage is the driver making room for the whole chain.
struct TextureLoadTimes {
    double decode = 0;
    double storage = 0;
    double upload = 0;
    double mipmaps = 0;
};

// Fills the texture bound to GL_TEXTURE_2D in the current context from a PNG, JPEG or other image
// file that FreeImage reads: RGBA8 with its whole mipmap chain (2 x 2 box averages), the first row
// the image's top, scaled down to fit GL_MAX_TEXTURE_SIZE. False when the file is not a readable
// image; the texture is then unusable. times may be null.
bool FillTextureFromFile(const std::string& path, TextureLoadTimes* times);

} // namespace vantaro
