// Writes the sphere that ships as pano.mesh: pano_mesh_generator <output file>.
#include "pano_mesh.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    const std::vector<unsigned char> bytes
        = vantaro::EncodeMesh(vantaro::MakePanoSphere(vantaro::kPanoColumns, vantaro::kPanoRows, vantaro::kPanoRadius));
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
