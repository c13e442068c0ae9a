#pragma once
/// A level as the tool sees it: the world's triangles (+z up, the scene's units), after every node
/// transform, with the name of the surface each belongs to. Level files are read into it
/// (exchange/), the geometry queries are built over it (geometry/LevelGeometry.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct LevelMesh {
    /// x, y, z of every vertex, one after the other, in world axes.
    std::vector<float> positions;
    /// Three vertex indices a triangle, counter-clockwise seen from the front.
    std::vector<std::uint32_t> indices;
    /// Per triangle: its surface, an index into `surfaces`.
    std::vector<std::uint32_t> surfaceOf;
    /// The surfaces' names as findings give them: the node's name, and the mesh's where the node
    /// has none ("node 3" where neither has one).
    std::vector<std::string> surfaces;
    /// Primitives that are no triangles (points, lines), left out and counted for a note.
    std::size_t skippedPrimitives = 0;

    std::size_t vertexCount() const { return positions.size() / 3; }
    std::size_t triangleCount() const { return indices.size() / 3; }
};

}  // namespace host
