#pragma once
// Private to geometry/: the index LevelGeometry asks, built over the mesh's triangles by
// EmbreeIndex.cpp (Embree's BVH) or, in a build without Embree, by ScanIndex.cpp (every triangle
// in turn). A ray is org + t dir; its t is in units of dir.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/Vec.h"
#include "geometry/LevelMesh.h"

namespace host {

/// A triangle met at t along a ray, or found at `distance` from a point.
struct TriangleAt {
    double t = 0;
    std::uint32_t triangle = 0;
};

class TriangleIndex {
public:
    virtual ~TriangleIndex() = default;
    /// The first triangle the ray meets with t in [0, tfar].
    virtual std::optional<TriangleAt> firstHit(const Vec3& org, const Vec3& dir, double tfar) const = 0;
    /// Whether the ray meets any triangle with t in [0, tfar].
    virtual bool occluded(const Vec3& org, const Vec3& dir, double tfar) const = 0;
    /// Every triangle the ray meets with t >= 0, in no order (a ray through an edge may meet
    /// both of its triangles).
    virtual void allHits(const Vec3& org, const Vec3& dir, std::vector<TriangleAt>& out) const = 0;
    /// The nearest triangle to `p` within `radius` (its distance in `t`).
    virtual std::optional<TriangleAt> nearest(const Vec3& p, double radius) const = 0;
    /// Bytes held beyond the mesh.
    virtual std::size_t bytes() const = 0;
};

/// The index over `mesh`, whose buffers it may share: the mesh must outlive it.
std::unique_ptr<TriangleIndex> makeTriangleIndex(const LevelMesh& mesh);

/// The corners of triangle `i` of `mesh`, in double.
void triangleCorners(const LevelMesh& mesh, std::uint32_t i, Vec3& a, Vec3& b, Vec3& c);

/// The distance from `p` to the triangle (a, b, c), its nearest point found by the region of the
/// triangle's plane that `p` projects into (corner, edge or face).
double triangleDistance(const Vec3& p, const Vec3& a, const Vec3& b, const Vec3& c);

}  // namespace host
