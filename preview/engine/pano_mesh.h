#pragma once
// The engine's mesh file format and the sphere that "pano.mesh" holds.
//
// A mesh file is little-endian binary:
//   bytes 0..3   "VMSH"
//   uint32       format version, 1
//   uint32       vertex count V (1..kMaxMeshVertices)
//   uint32       index count I (a multiple of 3, 3..kMaxMeshIndices)
//   V x 5 float  x, y, z, u, v  (u across the image from its left edge, v down from its top row)
//   I x uint32   triangle corners, each < V; a triangle is front-facing when its corners run
//                counter-clockwise as seen by the viewer (the engine culls back faces)
// and nothing after the indices.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantaro {

constexpr std::uint32_t kMeshFormatVersion = 1;
constexpr std::uint32_t kMaxMeshVertices = 1u << 22;
constexpr std::uint32_t kMaxMeshIndices = 1u << 24;

struct MeshVertex {
    float x, y, z, u, v;
};

struct MeshData {
    std::vector<MeshVertex> vertices;
    std::vector<std::uint32_t> indices;
};

struct MeshDecodeResult {
    bool ok = false;
    const char* error = ""; // why the bytes were refused, when !ok
    MeshData mesh;
};

// A closed UV sphere of the given radius around the origin, facing inwards: longitude runs across
// the image (u 0 at the seam behind the viewer, 0.5 straight ahead along -Z, growing to the right),
// latitude down it (v 0 at the top). Needs columns >= 3 and rows >= 2.
MeshData MakePanoSphere(int columns, int rows, float radius);
// The mesh in the file format above.
std::vector<unsigned char> EncodeMesh(const MeshData& mesh);
// The mesh the bytes hold, or the reason they are not a valid mesh file.
MeshDecodeResult DecodeMesh(const unsigned char* bytes, std::size_t size);

// The sphere shipped as "pano.mesh".
constexpr int kPanoColumns = 128;
constexpr int kPanoRows = 64;
constexpr float kPanoRadius = 10.0f;

} // namespace vantaro
