#include "pano_mesh.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vantaro {

namespace {
constexpr unsigned char kMagic[4] = { 'V', 'M', 'S', 'H' };
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kVertexSize = 5 * 4;

void PutU32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

std::uint32_t GetU32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

MeshDecodeResult Refuse(const char* error) {
    MeshDecodeResult result;
    result.error = error;
    return result;
}
} // namespace

MeshData MakePanoSphere(int columns, int rows, float radius) {
    MeshData mesh;
    if (columns < 3 || rows < 2)
        return mesh;
    const double pi = std::numbers::pi;
    for (int j = 0; j <= rows; ++j) {
        const double v = double(j) / rows;
        const double latitude = pi / 2 - v * pi;
        const bool pole = j == 0 || j == rows;
        for (int i = 0; i <= columns; ++i) {
            // The seam column is repeated with u 1 so the texture does not wrap back across the image.
            const double u = double(i) / columns;
            const double heading = (u - 0.5) * 2 * pi;
            const double ring = pole ? 0.0 : std::cos(latitude);
            MeshVertex vertex;
            vertex.x = float(radius * ring * std::sin(heading));
            vertex.y = float(radius * (pole ? (j == 0 ? 1.0 : -1.0) : std::sin(latitude)));
            vertex.z = float(-radius * ring * std::cos(heading));
            vertex.u = float(u);
            vertex.v = float(v);
            mesh.vertices.push_back(vertex);
        }
    }
    const auto at = [columns](int j, int i) { return std::uint32_t(j * (columns + 1) + i); };
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            // Seen from the centre: a top left, b top right, c bottom left, d bottom right.
            const std::uint32_t a = at(j, i), b = at(j, i + 1), c = at(j + 1, i), d = at(j + 1, i + 1);
            // At the poles one triangle of the quad has no area; leave it out.
            if (j != rows - 1)
                mesh.indices.insert(mesh.indices.end(), { a, c, d });
            if (j != 0)
                mesh.indices.insert(mesh.indices.end(), { a, d, b });
        }
    }
    return mesh;
}

std::vector<unsigned char> EncodeMesh(const MeshData& mesh) {
    std::vector<unsigned char> out(std::begin(kMagic), std::end(kMagic));
    out.reserve(kHeaderSize + mesh.vertices.size() * kVertexSize + mesh.indices.size() * 4);
    PutU32(out, kMeshFormatVersion);
    PutU32(out, std::uint32_t(mesh.vertices.size()));
    PutU32(out, std::uint32_t(mesh.indices.size()));
    for (const MeshVertex& vertex : mesh.vertices) {
        for (float value : { vertex.x, vertex.y, vertex.z, vertex.u, vertex.v })
            PutU32(out, std::bit_cast<std::uint32_t>(value));
    }
    for (std::uint32_t index : mesh.indices)
        PutU32(out, index);
    return out;
}

MeshDecodeResult DecodeMesh(const unsigned char* bytes, std::size_t size) {
    if (size < kHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return Refuse("not a mesh file");
    if (GetU32(bytes + 4) != kMeshFormatVersion)
        return Refuse("unknown mesh format version");
    const std::uint32_t vertexCount = GetU32(bytes + 8);
    const std::uint32_t indexCount = GetU32(bytes + 12);
    if (vertexCount == 0 || vertexCount > kMaxMeshVertices || indexCount == 0 || indexCount > kMaxMeshIndices
        || indexCount % 3 != 0)
        return Refuse("bad vertex or index count");
    // The counts are capped above, so this cannot overflow.
    if (size != kHeaderSize + std::size_t(vertexCount) * kVertexSize + std::size_t(indexCount) * 4)
        return Refuse("file size does not match its counts");

    MeshDecodeResult result;
    result.mesh.vertices.resize(vertexCount);
    const unsigned char* p = bytes + kHeaderSize;
    for (MeshVertex& vertex : result.mesh.vertices) {
        for (float* value : { &vertex.x, &vertex.y, &vertex.z, &vertex.u, &vertex.v }) {
            *value = std::bit_cast<float>(GetU32(p));
            p += 4;
            if (!std::isfinite(*value))
                return Refuse("vertex value is not a finite number");
        }
    }
    result.mesh.indices.resize(indexCount);
    for (std::uint32_t& index : result.mesh.indices) {
        index = GetU32(p);
        p += 4;
        if (index >= vertexCount)
            return Refuse("index past the last vertex");
    }
    result.ok = true;
    return result;
}

} // namespace vantaro
