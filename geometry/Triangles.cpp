#include <algorithm>

#include "geometry/TriangleIndex.h"

namespace host {

void triangleCorners(const LevelMesh& mesh, std::uint32_t i, Vec3& a, Vec3& b, Vec3& c) {
    const float* p = mesh.positions.data();
    const std::uint32_t* v = mesh.indices.data() + 3 * std::size_t{i};
    a = {p[3 * v[0]], p[3 * v[0] + 1], p[3 * v[0] + 2]};
    b = {p[3 * v[1]], p[3 * v[1] + 1], p[3 * v[1] + 2]};
    c = {p[3 * v[2]], p[3 * v[2] + 1], p[3 * v[2] + 2]};
}

double triangleDistance(const Vec3& p, const Vec3& a, const Vec3& b, const Vec3& c) {
    // The nearest point as barycentric regions (Ericson, Real-Time Collision Detection, 5.1.5):
    // the corner, edge or face region of the plane that p falls in.
    const Vec3 ab = sub(b, a), ac = sub(c, a), ap = sub(p, a);
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return norm(ap);
    const Vec3 bp = sub(p, b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return norm(bp);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        const double v = d1 / (d1 - d3);
        return norm(sub(ap, scale(ab, v)));
    }
    const Vec3 cp = sub(p, c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return norm(cp);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        const double w = d2 / (d2 - d6);
        return norm(sub(ap, scale(ac, w)));
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return norm(sub(bp, scale(sub(c, b), w)));
    }
    const double denominator = va + vb + vc;
    if (!(denominator > 0)) {
        // A triangle of no area: the nearest of its edges.
        auto edge = [&](const Vec3& from, const Vec3& to) {
            const Vec3 d = sub(to, from);
            const double length2 = dot(d, d);
            const double s = length2 > 0 ? std::clamp(dot(sub(p, from), d) / length2, 0.0, 1.0) : 0.0;
            return norm(sub(p, {from[0] + s * d[0], from[1] + s * d[1], from[2] + s * d[2]}));
        };
        return std::min({edge(a, b), edge(b, c), edge(c, a)});
    }
    const double v = vb / denominator, w = vc / denominator;
    return norm(sub(ap, {ab[0] * v + ac[0] * w, ab[1] * v + ac[1] * w, ab[2] * v + ac[2] * w}));
}

}  // namespace host
