// The level's triangles in Embree's BVH: the only file that sees Embree.
#include <embree3/rtcore.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "geometry/TriangleIndex.h"

namespace host {

namespace {

constexpr float kFloatInfinity = std::numeric_limits<float>::infinity();

/// What the device allocates, followed through its memory monitor.
struct DeviceMemory {
    std::atomic<long long> bytes{0};
};

bool monitorMemory(void* user, ssize_t bytes, bool) {
    static_cast<DeviceMemory*>(user)->bytes += bytes;
    return true;
}

void check(RTCDevice device, const char* what) {
    const RTCError error = rtcGetDeviceError(device);
    if (error != RTC_ERROR_NONE)
        throw std::runtime_error(std::string("level geometry: ") + what + " failed (Embree error " +
                                 std::to_string(error) + ")");
}

RTCRay rayOf(const Vec3& org, const Vec3& dir, double tfar) {
    RTCRay ray{};
    ray.org_x = static_cast<float>(org[0]), ray.org_y = static_cast<float>(org[1]),
    ray.org_z = static_cast<float>(org[2]);
    ray.dir_x = static_cast<float>(dir[0]), ray.dir_y = static_cast<float>(dir[1]),
    ray.dir_z = static_cast<float>(dir[2]);
    ray.tnear = 0.0f;
    ray.tfar = std::isinf(tfar) ? kFloatInfinity : static_cast<float>(tfar);
    ray.mask = 0xFFFFFFFFu;
    ray.flags = 0;
    ray.time = 0.0f;
    return ray;
}

/// The intersect context of `allHits`: it keeps every hit and rejects it, so that the traversal
/// goes on to the next. The context must come first: Embree hands the filter its address.
struct CollectingContext {
    RTCIntersectContext context;
    std::vector<TriangleAt>* out;
};

void collectHit(const RTCFilterFunctionNArguments* args) {
    const auto* collecting = reinterpret_cast<const CollectingContext*>(args->context);
    // The candidate's distance is in the ray's tfar while the filter runs.
    collecting->out->push_back({RTCRayN_tfar(args->ray, args->N, 0), RTCHitN_primID(args->hit, args->N, 0)});
    args->valid[0] = 0;
}

/// The point query's state: the mesh, and the nearest triangle so far.
struct NearestQuery {
    const LevelMesh* mesh;
    Vec3 p;
    std::optional<TriangleAt> best;
};

bool nearerTriangle(RTCPointQueryFunctionArguments* args) {
    auto* query = static_cast<NearestQuery*>(args->userPtr);
    Vec3 a, b, c;
    triangleCorners(*query->mesh, args->primID, a, b, c);
    const double distance = triangleDistance(query->p, a, b, c);
    if (!(distance <= args->query->radius)) return false;
    if (query->best && query->best->t <= distance) return false;
    query->best = TriangleAt{distance, args->primID};
    args->query->radius = static_cast<float>(distance);
    return true;
}

class EmbreeIndex final : public TriangleIndex {
public:
    explicit EmbreeIndex(const LevelMesh& mesh) : mesh_(mesh) {
        device_ = rtcNewDevice(nullptr);
        if (!device_)
            throw std::runtime_error("level geometry: Embree has no device (error " +
                                     std::to_string(rtcGetDeviceError(nullptr)) + ")");
        rtcSetDeviceMemoryMonitorFunction(device_, monitorMemory, &memory_);
        scene_ = rtcNewScene(device_);
        rtcSetSceneFlags(scene_, RTC_SCENE_FLAG_ROBUST | RTC_SCENE_FLAG_CONTEXT_FILTER_FUNCTION);
        rtcSetSceneBuildQuality(scene_, RTC_BUILD_QUALITY_MEDIUM);
        if (mesh.triangleCount() > 0) {
            // Embree reads a vertex with a 16-byte load: the buffer reaches 4 bytes past the
            // last vertex. The mesh's own vector ends there, so the vertices get a padded copy;
            // the indices are shared as they are.
            vertices_.reserve(mesh.positions.size() + 1);
            vertices_.assign(mesh.positions.begin(), mesh.positions.end());
            vertices_.push_back(0.0f);
            RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
            rtcSetSharedGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, vertices_.data(), 0,
                                       3 * sizeof(float), mesh.vertexCount());
            rtcSetSharedGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, mesh.indices.data(), 0,
                                       3 * sizeof(std::uint32_t), mesh.triangleCount());
            rtcCommitGeometry(geometry);
            rtcAttachGeometry(scene_, geometry);
            rtcReleaseGeometry(geometry);
        }
        rtcCommitScene(scene_);
        check(device_, "building the BVH");
    }

    ~EmbreeIndex() override {
        rtcReleaseScene(scene_);
        rtcReleaseDevice(device_);
    }

    std::optional<TriangleAt> firstHit(const Vec3& org, const Vec3& dir, double tfar) const override {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit hit{};
        hit.ray = rayOf(org, dir, tfar);
        hit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene_, &context, &hit);
        if (hit.hit.geomID == RTC_INVALID_GEOMETRY_ID) return std::nullopt;
        return TriangleAt{hit.ray.tfar, hit.hit.primID};
    }

    bool occluded(const Vec3& org, const Vec3& dir, double tfar) const override {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRay ray = rayOf(org, dir, tfar);
        rtcOccluded1(scene_, &context, &ray);
        return ray.tfar < 0;  // Embree marks an occluded ray with tfar -inf
    }

    void allHits(const Vec3& org, const Vec3& dir, std::vector<TriangleAt>& out) const override {
        CollectingContext collecting{{}, &out};
        rtcInitIntersectContext(&collecting.context);
        collecting.context.filter = collectHit;
        RTCRayHit hit{};
        hit.ray = rayOf(org, dir, std::numeric_limits<double>::infinity());
        hit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene_, &collecting.context, &hit);
    }

    std::optional<TriangleAt> nearest(const Vec3& p, double radius) const override {
        RTCPointQuery query{};
        query.x = static_cast<float>(p[0]), query.y = static_cast<float>(p[1]), query.z = static_cast<float>(p[2]);
        query.time = 0.0f;
        // The BVH's boxes are tested in float: a little room keeps a triangle at the bound.
        query.radius = std::isinf(radius) ? kFloatInfinity : static_cast<float>(radius * (1 + 1e-6) + 1e-6);
        RTCPointQueryContext context;
        rtcInitPointQueryContext(&context);
        NearestQuery state{&mesh_, p, std::nullopt};
        rtcPointQuery(scene_, &query, &context, nearerTriangle, &state);
        if (state.best && !(state.best->t <= radius)) return std::nullopt;
        return state.best;
    }

    std::size_t bytes() const override {
        return static_cast<std::size_t>(memory_.bytes.load()) + vertices_.capacity() * sizeof(float);
    }

private:
    const LevelMesh& mesh_;
    DeviceMemory memory_;
    std::vector<float> vertices_;
    RTCDevice device_ = nullptr;
    RTCScene scene_ = nullptr;
};

}  // namespace

std::unique_ptr<TriangleIndex> makeTriangleIndex(const LevelMesh& mesh) { return std::make_unique<EmbreeIndex>(mesh); }

}  // namespace host
