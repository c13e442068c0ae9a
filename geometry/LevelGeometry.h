#pragma once
/// A level's triangles made fast to ask: what a straight move of the camera crosses, how near the
/// nearest surface is, whether a point lies inside the level's solids or below its ground, and
/// whether one point sees another. Built once over a LevelMesh; every query is const and may be
/// asked from several threads at once. World units, doubles at the interface; the triangles
/// themselves are the mesh's floats.
///
/// Inside, by ray parity: a point is inside when a ray going straight up from it crosses the
/// level's surfaces an odd number of times. The inside of a closed mesh is inside; so is
/// everything under an open ground sheet (one crossing, the ground, above it), and above the
/// ground nothing is. The rule reads every surface as the boundary of a solid: under a loose
/// sheet that is no ground (a bridge deck of one face, an awning) the parity is odd as well, and
/// such a point counts as inside. Walls do not count: a ray straight up runs beside them. Three
/// such rays, a thousandth of a unit apart, vote, so that a ray through an edge where two
/// surfaces meet does not decide.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Vec.h"
#include "geometry/LevelMesh.h"

namespace host {

/// Where a straight move first meets a surface.
struct SurfaceHit {
    double distance = 0;         ///< from the move's start along it, world units
    std::uint32_t triangle = 0;  ///< index into the mesh's triangles
    std::uint32_t surface = 0;   ///< index into the mesh's surfaces
};

/// The nearest surface to a point.
struct NearestSurface {
    double distance = std::numeric_limits<double>::infinity();
    std::uint32_t triangle = 0;
    std::uint32_t surface = 0;
};

/// The index over the triangles that answers the queries (Embree's BVH, or every triangle in
/// turn where the build has no Embree). Private to geometry/.
class TriangleIndex;

class LevelGeometry {
public:
    /// How close to the far point a hit may lie and still leave it visible (world units): a
    /// look-at target stands on the ground or against a wall, and the surface it stands on must
    /// not hide it.
    static constexpr double kVisibilityMargin = 0.01;

    /// Builds the index over `mesh`, which it keeps. Throws std::invalid_argument when a
    /// triangle names a vertex or a surface that does not exist.
    explicit LevelGeometry(LevelMesh mesh);
    ~LevelGeometry();
    LevelGeometry(const LevelGeometry&) = delete;
    LevelGeometry& operator=(const LevelGeometry&) = delete;

    const LevelMesh& mesh() const { return mesh_; }
    /// The surface's name as findings give it.
    const std::string& surfaceName(std::uint32_t surface) const { return mesh_.surfaces.at(surface); }
    /// Bytes the index holds beyond the mesh (the BVH and the vertices it reads).
    std::size_t indexBytes() const;

    /// The first surface the segment from `a` to `b` crosses (touching counts); none for a
    /// segment of no length.
    std::optional<SurfaceHit> firstHit(const Vec3& a, const Vec3& b) const;

    /// The nearest surface to `p` when one lies within `limit`; else a distance of infinity.
    NearestSurface nearest(const Vec3& p, double limit = std::numeric_limits<double>::infinity()) const;

    /// Inside a closed mesh or below the ground, by ray parity (see above).
    bool inside(const Vec3& p) const;

    /// Whether `to` is seen from `from`: no surface crosses the segment between them, except
    /// within `margin` of `to`.
    bool visible(const Vec3& from, const Vec3& to, double margin = kVisibilityMargin) const;

    /// Whether a look-at target at `target` is in sight from `from`: `visible`, except that a
    /// target standing inside a solid (a tower, a statue: the level's model of the object looked
    /// at) is in sight when the first surface in the way is that solid's own, the one a ray from
    /// the target towards `from` leaves it through.
    bool targetInSight(const Vec3& from, const Vec3& target) const;

    /// `nearest(points[i], limit)` for a run of points along a flight, faster than one by one:
    /// the distance to the nearest surface moves by at most the way between two points, so the
    /// last answer bounds the search of the next, and with a finite `limit` points that cannot
    /// come within it are not searched. A point that is not finite gets a distance of infinity.
    std::vector<NearestSurface> nearestAlong(std::span<const Vec3> points,
                                             double limit = std::numeric_limits<double>::infinity()) const;

private:
    LevelMesh mesh_;
    std::unique_ptr<TriangleIndex> index_;
};

}  // namespace host
