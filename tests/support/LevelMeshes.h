#pragma once
// Small levels made in code for the geometry and lint tests: boxes, walls and ground sheets as
// LevelMesh triangles, each shape its own surface.

#include <array>
#include <cstdint>
#include <string>

#include "geometry/LevelMesh.h"

namespace testing_support {

/// Adds a quad (corners counter-clockwise seen from the front) as two triangles of a new surface.
inline void addQuad(host::LevelMesh& mesh, const std::array<std::array<float, 3>, 4>& corners,
                    const std::string& surface) {
    const auto first = static_cast<std::uint32_t>(mesh.vertexCount());
    for (const auto& c : corners) mesh.positions.insert(mesh.positions.end(), c.begin(), c.end());
    const auto s = static_cast<std::uint32_t>(mesh.surfaces.size());
    mesh.surfaces.push_back(surface);
    for (const std::uint32_t i : {0u, 1u, 2u, 0u, 2u, 3u}) mesh.indices.push_back(first + i);
    mesh.surfaceOf.insert(mesh.surfaceOf.end(), {s, s});
}

/// A closed box from `lo` to `hi`: twelve triangles, outward faces, one surface.
inline void addBox(host::LevelMesh& mesh, std::array<float, 3> lo, std::array<float, 3> hi,
                   const std::string& surface) {
    const auto first = static_cast<std::uint32_t>(mesh.vertexCount());
    for (int k = 0; k < 8; ++k)
        mesh.positions.insert(mesh.positions.end(),
                              {k & 1 ? hi[0] : lo[0], k & 2 ? hi[1] : lo[1], k & 4 ? hi[2] : lo[2]});
    const auto s = static_cast<std::uint32_t>(mesh.surfaces.size());
    mesh.surfaces.push_back(surface);
    // Corner k has x from bit 0, y from bit 1, z from bit 2.
    constexpr std::uint32_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& f : faces) {
        for (const int i : {0, 1, 2, 0, 2, 3}) mesh.indices.push_back(first + f[i]);
        mesh.surfaceOf.insert(mesh.surfaceOf.end(), {s, s});
    }
}

/// A ground sheet at height `z`, from -extent to extent in x and y, facing up.
inline void addGround(host::LevelMesh& mesh, float z, float extent, const std::string& surface = "Ground") {
    addQuad(mesh, {{{-extent, -extent, z}, {extent, -extent, z}, {extent, extent, z}, {-extent, extent, z}}}, surface);
}

/// A wall across x = `x`, from y0 to y1 and z0 to z1.
inline void addWallX(host::LevelMesh& mesh, float x, float y0, float y1, float z0, float z1,
                     const std::string& surface = "Wall") {
    addQuad(mesh, {{{x, y0, z0}, {x, y1, z0}, {x, y1, z1}, {x, y0, z1}}}, surface);
}

}  // namespace testing_support
