#include "pano_mesh.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <numbers>
#include <tuple>

namespace vantaro {
namespace {

std::vector<unsigned char> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

TEST(EngineMeshTest, CommittedPanoMeshIsWhatTheGeneratorMakes) {
    const std::vector<unsigned char> committed = ReadFile(COMMITTED_PANO_MESH);
    const std::vector<unsigned char> made = EncodeMesh(MakePanoSphere(kPanoColumns, kPanoRows, kPanoRadius));
    ASSERT_FALSE(made.empty());
    EXPECT_LE(made.size(), 400u * 1024);
    EXPECT_TRUE(committed == made) << "data/pano.mesh is stale: rerun pano_mesh_generator";
}

// Every edge, taken by the positions of its ends, must be walked once each way: then the surface is
// closed and all its triangles wind alike.
TEST(EngineMeshTest, PanoSphereIsClosedAndSeenFromInside) {
    const std::vector<unsigned char> bytes = ReadFile(COMMITTED_PANO_MESH);
    const MeshDecodeResult decoded = DecodeMesh(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded.ok) << decoded.error;
    const MeshData& mesh = decoded.mesh;

    using Point = std::tuple<long, long, long>;
    const auto key = [](const MeshVertex& p) {
        return Point { std::lround(p.x * 1e4f), std::lround(p.y * 1e4f), std::lround(p.z * 1e4f) };
    };
    std::map<std::pair<Point, Point>, int> edges;
    for (std::size_t t = 0; t < mesh.indices.size(); t += 3) {
        const MeshVertex& a = mesh.vertices[mesh.indices[t]];
        const MeshVertex& b = mesh.vertices[mesh.indices[t + 1]];
        const MeshVertex& c = mesh.vertices[mesh.indices[t + 2]];
        const float e1[3] = { b.x - a.x, b.y - a.y, b.z - a.z };
        const float e2[3] = { c.x - a.x, c.y - a.y, c.z - a.z };
        const float normal[3]
            = { e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0] };
        // Counter-clockwise as seen from the origin: the normal points back at it.
        EXPECT_LT(normal[0] * a.x + normal[1] * a.y + normal[2] * a.z, 0.0f) << "triangle " << t / 3;
        const Point corners[3] = { key(a), key(b), key(c) };
        for (int i = 0; i < 3; ++i)
            ++edges[{ corners[i], corners[(i + 1) % 3] }];
    }
    for (const auto& [edge, count] : edges) {
        EXPECT_EQ(count, 1);
        const auto back = edges.find({ edge.second, edge.first });
        EXPECT_TRUE(back != edges.end() && back->second == 1);
    }
}

// Straight ahead (-Z) is the middle of the image, the image's right is the viewer's right (+X), and
// its top row is straight up.
TEST(EngineMeshTest, PanoSphereLaysTheImageAroundTheViewer) {
    const MeshData mesh = MakePanoSphere(kPanoColumns, kPanoRows, kPanoRadius);
    const double pi = std::numbers::pi;
    for (const MeshVertex& p : mesh.vertices) {
        const double radius = std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z);
        EXPECT_NEAR(radius, kPanoRadius, 1e-4);
        EXPECT_NEAR(p.v, 0.5 - std::asin(std::clamp(p.y / radius, -1.0, 1.0)) / pi, 1e-5);
        if (std::abs(p.y) > kPanoRadius - 1e-3)
            continue; // a pole has every longitude
        const double u = 0.5 + std::atan2(double(p.x), -double(p.z)) / (2 * pi);
        // The seam's u is 0 on one side and 1 on the other.
        const double wrapped = std::abs(p.u - u) > 0.5 ? u + (p.u > u ? 1 : -1) : u;
        EXPECT_NEAR(p.u, wrapped, 1e-5) << p.x << " " << p.y << " " << p.z;
    }
}

std::vector<unsigned char> OneTriangle() {
    MeshData mesh;
    mesh.vertices = { { 0, 0, -1, 0, 0 }, { 1, 0, -1, 1, 0 }, { 0, 1, -1, 0, 1 } };
    mesh.indices = { 0, 1, 2 };
    return EncodeMesh(mesh);
}

void PutU32(std::vector<unsigned char>& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

TEST(EngineMeshTest, DecodeRefusesDamagedFiles) {
    const std::vector<unsigned char> good = OneTriangle();
    const MeshDecodeResult decoded = DecodeMesh(good.data(), good.size());
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.mesh.vertices.size(), 3u);
    EXPECT_EQ(decoded.mesh.vertices[1].u, 1.0f);
    EXPECT_EQ(decoded.mesh.indices, (std::vector<std::uint32_t> { 0, 1, 2 }));

    const std::size_t firstIndex = 16 + 3 * 20;
    struct Case {
        const char* name;
        std::function<void(std::vector<unsigned char>&)> damage;
    };
    const Case cases[] = {
        { "empty", [](auto& b) { b.clear(); } },
        { "header cut short", [](auto& b) { b.resize(10); } },
        { "other magic", [](auto& b) { b[0] = 'X'; } },
        { "other version", [](auto& b) { PutU32(b, 4, 2); } },
        { "no vertices", [](auto& b) { PutU32(b, 8, 0); } },
        { "no indices", [](auto& b) { PutU32(b, 12, 0); } },
        { "index count not whole triangles", [](auto& b) { PutU32(b, 12, 2); } },
        { "vertex count far past the data", [](auto& b) { PutU32(b, 8, 0xFFFFFFFF); } },
        { "index count past the data", [](auto& b) { PutU32(b, 12, 6); } },
        { "last index cut off", [](auto& b) { b.pop_back(); } },
        { "bytes after the indices", [](auto& b) { b.push_back(0); } },
        { "index past the last vertex", [=](auto& b) { PutU32(b, firstIndex + 8, 3); } },
        { "vertex not a number", [](auto& b) { PutU32(b, 16 + 4, std::bit_cast<std::uint32_t>(NAN)); } },
        { "vertex infinite", [](auto& b) { PutU32(b, 16 + 12, std::bit_cast<std::uint32_t>(INFINITY)); } },
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes = good;
        c.damage(bytes);
        const MeshDecodeResult result = DecodeMesh(bytes.data(), bytes.size());
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_STRNE(result.error, "") << c.name;
    }
}

} // namespace
} // namespace vantaro
