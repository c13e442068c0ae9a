#include "geometry/LevelGeometry.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "geometry/TriangleIndex.h"

namespace host {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

/// The parity rays start a hair apart, each straight up: a vertical ray never meets a wall
/// (parallel to it), and of three rays at most one runs through an edge where two surfaces meet
/// (a ramp on the ground) and counts it twice. The offsets, in units, stay far below anything a
/// camera would care about and above a float's rounding at a few thousand units.
constexpr double kParityOffsets[3][2] = {{0.7e-3, 0.3e-3}, {-0.4e-3, 0.8e-3}, {-0.2e-3, -0.9e-3}};
constexpr Vec3 kUp{0, 0, 1};

/// Hits of one surface closer together than this along a ray (relative to the distance, at
/// least this much in units) are one crossing: a ray through an edge meets both of its
/// triangles. Two surfaces at one place are two crossings: a house's floor on the ground.
constexpr double kSameCrossing = 1e-6;

/// The number of distinct crossings among `hits`.
std::size_t crossings(std::vector<TriangleAt>& hits, const LevelMesh& mesh) {
    std::sort(hits.begin(), hits.end(), [&](const TriangleAt& a, const TriangleAt& b) {
        const std::uint32_t sa = mesh.surfaceOf[a.triangle], sb = mesh.surfaceOf[b.triangle];
        return sa != sb ? sa < sb : a.t < b.t;
    });
    std::size_t count = 0;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const bool same = i > 0 && mesh.surfaceOf[hits[i].triangle] == mesh.surfaceOf[hits[i - 1].triangle] &&
                          hits[i].t - hits[i - 1].t <= kSameCrossing * std::max(1.0, std::fabs(hits[i].t));
        if (!same) ++count;
    }
    return count;
}

}  // namespace

LevelGeometry::LevelGeometry(LevelMesh mesh) : mesh_(std::move(mesh)) {
    if (mesh_.indices.size() % 3 != 0 || mesh_.positions.size() % 3 != 0)
        throw std::invalid_argument("level geometry: positions and indices come in threes");
    if (mesh_.surfaceOf.size() != mesh_.triangleCount())
        throw std::invalid_argument("level geometry: every triangle needs a surface");
    const std::size_t vertices = mesh_.vertexCount();
    for (const std::uint32_t v : mesh_.indices)
        if (v >= vertices)
            throw std::invalid_argument("level geometry: a triangle names vertex " + std::to_string(v) + " of " +
                                        std::to_string(vertices));
    for (const std::uint32_t s : mesh_.surfaceOf)
        if (s >= mesh_.surfaces.size())
            throw std::invalid_argument("level geometry: a triangle names surface " + std::to_string(s) + " of " +
                                        std::to_string(mesh_.surfaces.size()));
    index_ = makeTriangleIndex(mesh_);
}

LevelGeometry::~LevelGeometry() = default;

std::size_t LevelGeometry::indexBytes() const { return index_->bytes(); }

std::optional<SurfaceHit> LevelGeometry::firstHit(const Vec3& a, const Vec3& b) const {
    const Vec3 move = sub(b, a);
    const double length = norm(move);
    if (!(length > 0)) return std::nullopt;
    const std::optional<TriangleAt> hit = index_->firstHit(a, move, 1.0);
    if (!hit) return std::nullopt;
    return SurfaceHit{hit->t * length, hit->triangle, mesh_.surfaceOf[hit->triangle]};
}

NearestSurface LevelGeometry::nearest(const Vec3& p, double limit) const {
    const std::optional<TriangleAt> found = index_->nearest(p, limit);
    if (!found) return {};
    return {found->t, found->triangle, mesh_.surfaceOf[found->triangle]};
}

bool LevelGeometry::inside(const Vec3& p) const {
    int odd = 0;
    std::vector<TriangleAt> hits;
    for (int ray = 0; ray < 3; ++ray) {
        // Two rays that agree decide: the third is asked only when they differ.
        if (ray == 2 && odd != 1) break;
        hits.clear();
        index_->allHits({p[0] + kParityOffsets[ray][0], p[1] + kParityOffsets[ray][1], p[2]}, kUp, hits);
        odd += static_cast<int>(crossings(hits, mesh_) % 2);
    }
    return odd >= 2;
}

bool LevelGeometry::visible(const Vec3& from, const Vec3& to, double margin) const {
    const Vec3 line = sub(to, from);
    const double length = norm(line);
    if (!(length > margin)) return true;
    return !index_->occluded(from, line, 1.0 - margin / length);
}

bool LevelGeometry::targetInSight(const Vec3& from, const Vec3& target) const {
    if (visible(from, target)) return true;
    if (!inside(target)) return false;
    const std::optional<SurfaceHit> inWay = firstHit(from, target);
    const std::optional<SurfaceHit> own = firstHit(target, from);
    return inWay && own && inWay->surface == own->surface;
}

std::vector<NearestSurface> LevelGeometry::nearestAlong(std::span<const Vec3> points, double limit) const {
    // The distance to the nearest surface moves by at most the way gone: |d(p) - d(q)| <= |p - q|.
    // So the last distance found exactly, d, and the way since, w, bound this one:
    //   d - w <= d(p) <= d + w.
    // The upper bound keeps the search short; where the lower bound is beyond `limit` there is
    // no surface within it and nothing to search (a flight far from the level asks seldom).
    // The search itself is unbounded there, so that its answer is exact and bounds the next.
    std::vector<NearestSurface> out;
    out.reserve(points.size());
    double known = kInfinity, way = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Vec3& p = points[i];
        if (!(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]))) {
            out.push_back({});
            known = kInfinity, way = 0;  // nothing known across a point that is nowhere
            continue;
        }
        if (std::isfinite(known)) way += norm(sub(p, points[i - 1]));
        if (std::isfinite(limit) && known - way > limit + 1e-6 * (1 + known)) {
            out.push_back({});
            continue;
        }
        NearestSurface found = nearest(p, known + way);
        if (!std::isfinite(found.distance) && std::isfinite(known)) found = nearest(p);
        known = found.distance;
        way = 0;
        out.push_back(found.distance <= limit ? found : NearestSurface{});
    }
    return out;
}

}  // namespace host
