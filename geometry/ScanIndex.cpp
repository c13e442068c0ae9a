// The level's triangles asked one by one: the index of builds without Embree (the 32-bit one).
// Right for any level, fast only for small ones.
#include <cmath>

#include "geometry/TriangleIndex.h"

namespace host {

namespace {

/// Where the ray org + t dir meets the triangle (a, b, c), edges included (Moller-Trumbore).
std::optional<double> rayTriangle(const Vec3& org, const Vec3& dir, const Vec3& a, const Vec3& b, const Vec3& c) {
    const Vec3 e1 = sub(b, a), e2 = sub(c, a);
    const Vec3 p = cross(dir, e2);
    const double det = dot(e1, p);
    if (det == 0 || !std::isfinite(det)) return std::nullopt;
    const Vec3 s = sub(org, a);
    const double u = dot(s, p) / det;
    if (u < 0 || u > 1) return std::nullopt;
    const Vec3 q = cross(s, e1);
    const double v = dot(dir, q) / det;
    if (v < 0 || u + v > 1) return std::nullopt;
    const double t = dot(e2, q) / det;
    if (!(t >= 0)) return std::nullopt;
    return t;
}

class ScanIndex final : public TriangleIndex {
public:
    explicit ScanIndex(const LevelMesh& mesh) : mesh_(mesh) {}

    std::optional<TriangleAt> firstHit(const Vec3& org, const Vec3& dir, double tfar) const override {
        std::optional<TriangleAt> best;
        scan(org, dir, [&](double t, std::uint32_t i) {
            if (t <= tfar && (!best || t < best->t)) best = TriangleAt{t, i};
        });
        return best;
    }

    bool occluded(const Vec3& org, const Vec3& dir, double tfar) const override {
        return firstHit(org, dir, tfar).has_value();
    }

    void allHits(const Vec3& org, const Vec3& dir, std::vector<TriangleAt>& out) const override {
        scan(org, dir, [&](double t, std::uint32_t i) { out.push_back({t, i}); });
    }

    std::optional<TriangleAt> nearest(const Vec3& p, double radius) const override {
        std::optional<TriangleAt> best;
        for (std::uint32_t i = 0; i < mesh_.triangleCount(); ++i) {
            Vec3 a, b, c;
            triangleCorners(mesh_, i, a, b, c);
            const double d = triangleDistance(p, a, b, c);
            if (d <= radius && (!best || d < best->t)) best = TriangleAt{d, i};
        }
        return best;
    }

    std::size_t bytes() const override { return 0; }

private:
    template <typename Visit>
    void scan(const Vec3& org, const Vec3& dir, Visit visit) const {
        for (std::uint32_t i = 0; i < mesh_.triangleCount(); ++i) {
            Vec3 a, b, c;
            triangleCorners(mesh_, i, a, b, c);
            if (const std::optional<double> t = rayTriangle(org, dir, a, b, c)) visit(*t, i);
        }
    }

    const LevelMesh& mesh_;
};

}  // namespace

std::unique_ptr<TriangleIndex> makeTriangleIndex(const LevelMesh& mesh) { return std::make_unique<ScanIndex>(mesh); }

}  // namespace host
