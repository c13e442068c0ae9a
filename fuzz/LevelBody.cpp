// The level body: arbitrary bytes as a level file (.gltf or .glb by content) in a folder of its
// own, beside a small buffer file its URIs may name. A read either fails with the input error or
// gives a mesh whose every index, surface and position is in range and finite.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/InputError.h"
#include "exchange/LevelFile.h"
#include "fuzz/FuzzBodies.h"

namespace fuzz {

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz_level: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::abort();
}

/// Three vertices of a triangle and the indices 0 1 2 (as unsigned shorts), which the seeds'
/// buffers name as "level.bin": 36 + 6 bytes, padded to 44.
std::string triangleBuffer() {
    const float positions[9] = {0, 0, 0, 1, 0, 0, 0, 0, -1};
    const unsigned short indices[4] = {0, 1, 2, 0};
    return std::string(reinterpret_cast<const char*>(positions), sizeof positions) +
           std::string(reinterpret_cast<const char*>(indices), sizeof indices);
}

/// The folder every input is written to, made once per process.
const std::string& levelFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string dir = std::string(base && *base ? base : "/tmp") + "/camsys-fuzz-level-XXXXXX";
        if (!mkdtemp(dir.data())) broken("cannot make a folder for the level");
        std::ofstream(dir + "/level.bin", std::ios::binary) << triangleBuffer();
        return dir;
    }();
    return folder;
}

}  // namespace

void fuzzLevel(std::span<const std::uint8_t> input) {
    const std::string file = levelFolder() + "/level.gltf";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
    }
    host::LevelMesh mesh;
    try {
        mesh = host::loadLevelFile(file, {1.5, {1, 2, 3}});
    } catch (const host::InputError&) {
        return;  // refused, with the input error: fine
    } catch (const std::exception& error) {
        broken("the reader threw something else than an input error", error.what());
    }
    if (mesh.positions.size() % 3 != 0 || mesh.indices.size() % 3 != 0) broken("a partial vertex or triangle");
    if (mesh.surfaceOf.size() != mesh.triangleCount()) broken("a triangle without a surface");
    for (const std::uint32_t i : mesh.indices)
        if (i >= mesh.vertexCount()) broken("an index out of range");
    for (const std::uint32_t s : mesh.surfaceOf)
        if (s >= mesh.surfaces.size()) broken("a surface out of range");
    for (const float v : mesh.positions)
        if (!std::isfinite(v)) broken("a position that is not finite");
}

std::vector<std::vector<std::uint8_t>> levelSeeds() {
    const std::string accessors =
        R"("bufferViews": [{"buffer": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36, "byteLength": 6}],
  "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"},
                {"bufferView": 1, "componentType": 5123, "count": 3, "type": "SCALAR"}],)";
    const std::string gltf = R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0, 2]}],
  "nodes": [{"name": "a", "mesh": 0, "children": [1], "translation": [1, 2, 3], "rotation": [0, 0.6, 0, 0.8]},
            {"mesh": 1, "matrix": [2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 5, 0, 0, 1]},
            {"name": "m", "mesh": 0, "scale": [-1, 1, 1]}],
  "meshes": [{"name": "tri", "primitives": [{"attributes": {"POSITION": 0}, "indices": 1}]},
             {"primitives": [{"attributes": {"POSITION": 0}, "mode": 5}, {"attributes": {"POSITION": 0}, "mode": 6},
                             {"attributes": {"POSITION": 0}, "mode": 1}]}],
  )" + accessors + R"(
  "buffers": [{"uri": "level.bin", "byteLength": 44}]})";
    // The same as .glb, its buffer in the container, and without a default scene.
    std::string json = R"({"asset": {"version": "2.0"},
  "nodes": [{"mesh": 0}], "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1}]}],
  )" + accessors + R"( "buffers": [{"byteLength": 44}]})";
    while (json.size() % 4) json += ' ';
    const std::string bin = triangleBuffer();
    std::string glb = "glTF";
    auto word = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) glb.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
    };
    word(2);
    word(static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + bin.size()));
    word(static_cast<std::uint32_t>(json.size()));
    glb += "JSON" + json;
    word(static_cast<std::uint32_t>(bin.size()));
    glb += std::string("BIN\0", 4) + bin;
    return {std::vector<std::uint8_t>(gltf.begin(), gltf.end()), std::vector<std::uint8_t>(glb.begin(), glb.end())};
}

}  // namespace fuzz
