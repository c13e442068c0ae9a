#include "exchange/GltfExport.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_map>
#include <stdexcept>

#include "base/AtomicFile.h"
#include "base/Vec.h"
#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "host/Host.h"
#include "scene/SceneTree.h"

namespace host {

namespace {

/// No turn.
constexpr Quat kIdentity = {0, 0, 0, 1};

/// glTF's numbers for float components and for a buffer view of vertex data.
constexpr int kFloat = TINYGLTF_COMPONENT_TYPE_FLOAT;
constexpr int kArrayBuffer = TINYGLTF_TARGET_ARRAY_BUFFER;

/// World (x, y, z), z up, as glTF (x, z, -y), y up (C in the header). Adding 0.0 turns the
/// negative zero of -0 into a plain 0.
Vec3 toGltf(double x, double y, double z) { return {x + 0.0, z + 0.0, -y + 0.0}; }
Vec3 toGltf(const _Point3<float>& p) { return toGltf(p.x, p.y, p.z); }

/// Column `c` of an orientation (stored row by row) in glTF's axes.
Vec3 column(const _CMatrix3<float>& m, int c) { return toGltf(m.m[0][c], m.m[1][c], m.m[2][c]); }

/// `v` scaled to length 1; nothing when its length is zero or not finite.
std::optional<Vec3> unit(const Vec3& v) {
    const double length = std::sqrt(dot(v, v));
    if (!(length > 0) || !std::isfinite(length)) return std::nullopt;
    return scale(v, 1.0 / length);
}

/// The rotation of a frame whose orientation has the world axes right, forward, up in its
/// columns, as the rotation of a glTF node (C M C^T): node x = right, y = up, -z = forward.
/// An orientation that is not exactly a rotation (float rounding, a hand-written scale or
/// shear) keeps its forward axis, and its up axis as far as it is square to forward; the
/// right axis follows from them. One without a forward or up direction exports as no turn.
Quat nodeRotation(const _CMatrix3<float>& orientation) {
    const std::optional<Vec3> forward = unit(column(orientation, 1));
    if (!forward) return kIdentity;
    const Vec3 rawUp = column(orientation, 2);
    const std::optional<Vec3> up = unit(sub(rawUp, scale(*forward, dot(rawUp, *forward))));
    if (!up) return kIdentity;
    const Vec3 right = cross(*forward, *up);
    const Vec3 back = scale(*forward, -1);
    // r[i][j]: component i of the node's axis j (x = right, y = up, z = back).
    const double r[3][3] = {
        {right[0], (*up)[0], back[0]}, {right[1], (*up)[1], back[1]}, {right[2], (*up)[2], back[2]}};
    // The quaternion of a rotation matrix, from its largest diagonal term for accuracy.
    Quat q;
    const double trace = r[0][0] + r[1][1] + r[2][2];
    if (trace > 0) {
        const double s = 2 * std::sqrt(trace + 1);
        q = {(r[2][1] - r[1][2]) / s, (r[0][2] - r[2][0]) / s, (r[1][0] - r[0][1]) / s, s / 4};
    } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
        const double s = 2 * std::sqrt(1 + r[0][0] - r[1][1] - r[2][2]);
        q = {s / 4, (r[0][1] + r[1][0]) / s, (r[0][2] + r[2][0]) / s, (r[2][1] - r[1][2]) / s};
    } else if (r[1][1] > r[2][2]) {
        const double s = 2 * std::sqrt(1 + r[1][1] - r[0][0] - r[2][2]);
        q = {(r[0][1] + r[1][0]) / s, s / 4, (r[1][2] + r[2][1]) / s, (r[0][2] - r[2][0]) / s};
    } else {
        const double s = 2 * std::sqrt(1 + r[2][2] - r[0][0] - r[1][1]);
        q = {(r[0][2] + r[2][0]) / s, (r[1][2] + r[2][1]) / s, s / 4, (r[1][0] - r[0][1]) / s};
    }
    const double size = length(q);
    for (double& c : q) c /= size;
    return q;
}

/// A node's placement in glTF's world.
struct Placement {
    Vec3 translation{0, 0, 0};
    Quat rotation = kIdentity;
};

/// Where the object's "ObjectPos" puts it in glTF's world; the origin for an object without one.
Placement placementOf(const Host& host, const Handle& object) {
    const std::optional<_CCoordSystem<float>> frame = host.getObjectPos(object);
    if (!frame) return {};
    // glTF has no number for NaN or the infinities: such a node would make an invalid file.
    if (!IsFinite(frame->Origin))
        throw std::invalid_argument(host.nameOf(object) + ": its position is not finite, which glTF cannot hold");
    return {toGltf(frame->Origin), nodeRotation(frame->Orientation)};
}

/// The vertical field of view in radians for the iterator's factor (the studio's convention).
double yfovOf(float factor) { return 2 * std::atan(std::tan(kGltfBaseYfov / 2) / factor); }

/// Builds the buffer and the accessors over it.
class BufferBuilder {
public:
    explicit BufferBuilder(tinygltf::Model& model) : model_(model) {}

    /// A buffer view of `values` (floats, `width` per element) and an accessor over all of it;
    /// returns the accessor. `bounds` adds min and max, which glTF asks of animation inputs and
    /// vertex positions.
    int add(const std::vector<float>& values, int width, int target, bool bounds) {
        const int view = addView(values, target);
        return addAccessor(view, 0, values.size() / width, width, bounds ? &values : nullptr);
    }

    /// A buffer view of `values` alone; `stride`, the bytes from one vertex to the next, where
    /// several accessors of vertices share the view (glTF asks for it then).
    int addView(const std::vector<float>& values, int target, std::size_t stride = 0) {
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = bytes_.size();
        view.byteLength = values.size() * sizeof(float);
        view.byteStride = stride;
        view.target = target;
        const auto* raw = reinterpret_cast<const unsigned char*>(values.data());
        bytes_.insert(bytes_.end(), raw, raw + view.byteLength);
        model_.bufferViews.push_back(view);
        return int(model_.bufferViews.size() - 1);
    }

    /// An accessor of `count` elements of `width` floats from element `first` of `view`;
    /// `bounds` (the view's values), when given, gives the min and max of those elements.
    int addAccessor(int view, std::size_t first, std::size_t count, int width, const std::vector<float>* bounds) {
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.byteOffset = first * width * sizeof(float);
        accessor.componentType = kFloat;
        accessor.count = count;
        accessor.type = width == 1 ? TINYGLTF_TYPE_SCALAR : width == 3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4;
        if (bounds) {
            accessor.minValues.assign(width, std::numeric_limits<double>::infinity());
            accessor.maxValues.assign(width, -std::numeric_limits<double>::infinity());
            for (std::size_t i = first; i < first + count; ++i)
                for (int c = 0; c < width; ++c) {
                    const double v = (*bounds)[i * width + c];
                    accessor.minValues[c] = std::min(accessor.minValues[c], v);
                    accessor.maxValues[c] = std::max(accessor.maxValues[c], v);
                }
        }
        model_.accessors.push_back(accessor);
        return int(model_.accessors.size() - 1);
    }

    /// A buffer view of vertex indices and an accessor over all of them.
    int addIndices(const std::vector<std::uint32_t>& indices) {
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = bytes_.size();
        view.byteLength = indices.size() * sizeof(std::uint32_t);
        view.target = TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER;
        const auto* raw = reinterpret_cast<const unsigned char*>(indices.data());
        bytes_.insert(bytes_.end(), raw, raw + view.byteLength);
        model_.bufferViews.push_back(view);
        tinygltf::Accessor accessor;
        accessor.bufferView = int(model_.bufferViews.size() - 1);
        accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
        accessor.count = indices.size();
        accessor.type = TINYGLTF_TYPE_SCALAR;
        model_.accessors.push_back(accessor);
        return int(model_.accessors.size() - 1);
    }

    /// Hands the bytes to the model as its one buffer.
    void finish() {
        tinygltf::Buffer buffer;
        buffer.data = std::move(bytes_);
        model_.buffers.push_back(std::move(buffer));
    }

private:
    tinygltf::Model& model_;
    std::vector<unsigned char> bytes_;
};

/// Adds the nodes of `node` and its children below the parent placed at `parent`; returns the
/// node's index.
int addSceneNode(const Host& host, tinygltf::Model& model, const SceneNode& node, const Placement& parent) {
    const Placement world = placementOf(host, node.object);
    // glTF places a child relative to its parent: rotation conj(q_p) q_w, translation the
    // difference turned back by the parent's rotation.
    const Quat back = conjugate(parent.rotation);
    const Quat rotation = multiply(back, world.rotation);
    const Vec3 translation = rotate(back, sub(world.translation, parent.translation));

    tinygltf::Node gltfNode;
    gltfNode.name = host.nameOf(node.object);
    if (translation != Vec3{0, 0, 0}) gltfNode.translation.assign(translation.begin(), translation.end());
    if (rotation != kIdentity) gltfNode.rotation.assign(rotation.begin(), rotation.end());
    if (host.runtime().kind(node.object) == ObjectKind::Module) {
        tinygltf::Value::Object extras;
        extras["class"] = tinygltf::Value(host.className(node.object));
        gltfNode.extras = tinygltf::Value(std::move(extras));
    }
    model.nodes.push_back(std::move(gltfNode));
    const int index = int(model.nodes.size() - 1);
    for (const SceneNode& child : node.children) {
        const int childIndex = addSceneNode(host, model, child, world);
        model.nodes[index].children.push_back(childIndex);
    }
    return index;
}

/// Appends `v` as three floats.
void appendVec(std::vector<float>& out, const Vec3& v) {
    for (double c : v) out.push_back(float(c));
}

/// tinygltf 2.7 writes two things that its format does not allow here: a channel's "node" even
/// when it has none (-1), which KHR_animation_pointer forbids, and a perspective camera's
/// "zfar" of 0, where glTF says "no far plane" by leaving it out. Both are taken out of its
/// JSON.
std::string fixJson(const std::string& text, bool pretty) {
    nlohmann::ordered_json document = nlohmann::ordered_json::parse(text);
    if (const auto cameras = document.find("cameras"); cameras != document.end())
        for (auto& camera : *cameras)
            if (const auto perspective = camera.find("perspective");
                perspective != camera.end() && perspective->value("zfar", 0.0) == 0.0)
                perspective->erase("zfar");
    if (const auto animations = document.find("animations"); animations != document.end())
        for (auto& animation : *animations)
            for (auto& channel : animation["channels"])
                if (channel["target"].value("path", "") == "pointer") channel["target"].erase("node");
    return document.dump(pretty ? 1 : -1);
}

/// The little-endian 32-bit number at `at` of a .glb.
std::uint32_t readU32(const std::string& bytes, std::size_t at) {
    if (at + 4 > bytes.size()) throw std::runtime_error("tinygltf wrote a truncated .glb");
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

/// Appends `value` as 4 bytes, little-endian.
void appendU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(char(value >> (8 * i) & 0xFF));
}

/// The .glb container: the 12-byte header ("glTF", version 2, total length), then the JSON
/// chunk padded with spaces and the binary chunk padded with zeros, each to a multiple of 4
/// bytes and led by its length and type.
std::string glb(std::string json, std::string_view bin) {
    json.append((4 - json.size() % 4) % 4, ' ');
    std::string padded(bin);
    padded.append((4 - padded.size() % 4) % 4, '\0');
    std::string out = "glTF";
    appendU32(out, 2);
    appendU32(out, std::uint32_t(12 + 8 + json.size() + (padded.empty() ? 0 : 8 + padded.size())));
    appendU32(out, std::uint32_t(json.size()));
    appendU32(out, 0x4E4F534A);  // "JSON"
    out += json;
    if (!padded.empty()) {
        appendU32(out, std::uint32_t(padded.size()));
        appendU32(out, 0x004E4942);  // "BIN\0"
        out += padded;
    }
    return out;
}

/// Seconds since the first tick, on the clock that wraps at 2^32 ms.
double secondsSince(ULong first, ULong time) { return double(ULong(time - first)) / 1000.0; }

/// The ticks' key times in float seconds since the first tick; refuses a flight that glTF
/// cannot animate (see `flightToGltf`).
std::vector<float> tickSecondsOf(const std::vector<FlightTick>& ticks) {
    if (ticks.empty()) throw std::invalid_argument("the flight has no tick to animate (--max-ticks 0)");
    std::vector<float> tickSeconds;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        tickSeconds.push_back(float(secondsSince(ticks.front().time, ticks[i].time)));
        if (i > 0 && !(tickSeconds[i] > tickSeconds[i - 1]))
            throw std::invalid_argument("the tick times do not increase at tick " + std::to_string(i) + " (" +
                                        std::to_string(ticks[i].time) +
                                        "): a step of 0, a flight past 2^32 ms or ticks closer than a float "
                                        "second tells apart");
        const FlightTick& t = ticks[i];
        const _CMatrix3<float>& m = t.eye.Orientation;
        // A glTF camera's yfov lies between 0 and pi: the factor must be positive.
        bool finite = std::isfinite(t.eye.Origin.x) && std::isfinite(t.eye.Origin.y) && std::isfinite(t.eye.Origin.z) &&
                      std::isfinite(t.fov) && t.fov > 0;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) finite = finite && std::isfinite(m.m[r][c]);
        if (!finite)
            throw std::invalid_argument("at tick " + std::to_string(ticks[i].time) +
                                        " the eye is not finite or its field-of-view factor not positive");
    }
    return tickSeconds;
}

/// The flight's cuts, as the analysis finds them.
struct Cuts {
    std::vector<bool> at;         ///< per tick: the first tick of a new part
    std::vector<double> seconds;  ///< each cut's time since the first tick
};

Cuts cutsOf(const Host& host, const Handle& iterator, const std::vector<FlightTick>& ticks) {
    const FlightAnalysis analysis = analyseFlight(flightAnalysisInput(host, iterator, ticks));
    Cuts cuts{std::vector<bool>(ticks.size(), false), {}};
    for (const FlightMark& mark : analysis.marks) {
        if (mark.kind != FlightMark::Kind::Cut) continue;
        for (std::size_t i = 1; i < ticks.size(); ++i)
            if (ticks[i].time == mark.time) cuts.at[i] = true;
        cuts.seconds.push_back(secondsSince(ticks.front().time, mark.time));
    }
    return cuts;
}

/// The flown path: one LINE_STRIP per piece between cuts; a piece of one tick draws nothing.
tinygltf::Mesh pathMeshOf(BufferBuilder& buffer, const std::vector<FlightTick>& ticks, const Cuts& cuts,
                          const std::string& name) {
    std::vector<float> positions;
    for (const FlightTick& t : ticks) appendVec(positions, toGltf(t.eye.Origin));
    const int positionView = buffer.addView(positions, kArrayBuffer, 3 * sizeof(float));
    tinygltf::Mesh path;
    path.name = name + " flown path";
    for (std::size_t begin = 0; begin < ticks.size();) {
        std::size_t end = begin + 1;
        while (end < ticks.size() && !cuts.at[end]) ++end;
        if (end - begin >= 2) {
            tinygltf::Primitive piece;
            piece.mode = TINYGLTF_MODE_LINE_STRIP;
            piece.attributes["POSITION"] = buffer.addAccessor(positionView, begin, end - begin, 3, &positions);
            path.primitives.push_back(piece);
        }
        begin = end;
    }
    return path;
}

/// The level as a node "level" with a child per surface, each a TRIANGLES mesh in glTF's axes.
/// The level's vertices are world positions already, so the nodes have no transform.
int addLevelNodes(BufferBuilder& buffer, tinygltf::Model& model, const LevelMesh& level) {
    std::vector<std::vector<std::uint32_t>> trianglesOf(level.surfaces.size());
    for (std::size_t t = 0; t < level.triangleCount(); ++t) trianglesOf.at(level.surfaceOf[t]).push_back(std::uint32_t(t));
    tinygltf::Node top;
    top.name = "level";
    for (std::size_t s = 0; s < trianglesOf.size(); ++s) {
        if (trianglesOf[s].empty()) continue;
        std::vector<float> positions;
        std::vector<std::uint32_t> indices;
        std::unordered_map<std::uint32_t, std::uint32_t> local;
        for (const std::uint32_t t : trianglesOf[s])
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t v = level.indices[3 * t + k];
                const auto [it, added] = local.try_emplace(v, std::uint32_t(local.size()));
                if (added)
                    appendVec(positions, toGltf(level.positions[3 * v], level.positions[3 * v + 1], level.positions[3 * v + 2]));
                indices.push_back(it->second);
            }
        tinygltf::Primitive primitive;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        primitive.attributes["POSITION"] = buffer.add(positions, 3, kArrayBuffer, true);
        primitive.indices = buffer.addIndices(indices);
        tinygltf::Mesh mesh;
        mesh.name = level.surfaces[s];
        mesh.primitives.push_back(primitive);
        model.meshes.push_back(std::move(mesh));
        tinygltf::Node node;
        node.name = level.surfaces[s];
        node.mesh = int(model.meshes.size() - 1);
        model.nodes.push_back(std::move(node));
        top.children.push_back(int(model.nodes.size() - 1));
    }
    model.nodes.push_back(std::move(top));
    return int(model.nodes.size() - 1);
}

/// The camera's animation keys, as floats in glTF's axes.
struct CameraKeys {
    std::vector<float> times, translations, rotations, yfovs;
};

/// One key per tick; before a cut's tick the eye of the tick before, held until the float time
/// just below the cut's key, which is the largest float not above the cut's time (see the header).
CameraKeys cameraKeysOf(const std::vector<FlightTick>& ticks, const std::vector<float>& tickSeconds, const Cuts& cuts) {
    CameraKeys keys;
    Quat previous = kIdentity;
    auto addKey = [&](float time, const FlightTick& t) {
        keys.times.push_back(time);
        appendVec(keys.translations, toGltf(t.eye.Origin));
        Quat q = nodeRotation(t.eye.Orientation);
        // q and -q are the same turn; keeping neighbours on one side makes every player take the
        // short way between them.
        if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] < 0)
            for (double& c : q) c = -c;
        previous = q;
        for (double c : q) keys.rotations.push_back(float(c));
        keys.yfovs.push_back(float(yfovOf(t.fov)));
    };
    const float below = -std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        if (!cuts.at[i]) {
            addKey(tickSeconds[i], ticks[i]);
            continue;
        }
        // A player asks for the cut's own decimal time: the cut's key may not lie above it, or
        // that time falls between the held key and the cut's and shows a blend of both.
        const double exact = secondsSince(ticks.front().time, ticks[i].time);
        float at = tickSeconds[i];
        if (double(at) > exact) at = std::nextafter(at, below);
        if (!(at > tickSeconds[i - 1])) at = tickSeconds[i];
        const float held = std::nextafter(at, below);
        if (held > tickSeconds[i - 1]) addKey(held, ticks[i - 1]);
        addKey(at, ticks[i]);
    }
    return keys;
}

/// The perspective camera, at the first tick's field of view.
tinygltf::Camera cameraOf(const std::string& name, float firstFov) {
    tinygltf::Camera camera;
    camera.type = "perspective";
    camera.name = name;
    camera.perspective.yfov = yfovOf(firstFov);
    // The engine's near plane is not the plug-in's to know; a tenth of a unit keeps close
    // objects visible at the scale of the scenes. No far plane: an infinite projection.
    camera.perspective.znear = 0.1;
    return camera;
}

/// The animation of the camera node `cameraNode`: translation, rotation and (through
/// KHR_animation_pointer) the first camera's yfov, all on the same key times.
tinygltf::Animation cameraAnimationOf(BufferBuilder& buffer, const CameraKeys& keys, int cameraNode,
                                      const std::string& name) {
    tinygltf::Animation animation;
    animation.name = name + " flight";
    const int input = buffer.add(keys.times, 1, 0, true);
    auto channel = [&](const std::vector<float>& values, int width, const std::string& targetPath) {
        tinygltf::AnimationSampler sampler;
        sampler.input = input;
        sampler.output = buffer.add(values, width, 0, false);
        sampler.interpolation = "LINEAR";
        animation.samplers.push_back(sampler);
        tinygltf::AnimationChannel out;
        out.sampler = int(animation.samplers.size() - 1);
        out.target_path = targetPath;
        return out;
    };
    tinygltf::AnimationChannel translation = channel(keys.translations, 3, "translation");
    translation.target_node = cameraNode;
    tinygltf::AnimationChannel rotation = channel(keys.rotations, 4, "rotation");
    rotation.target_node = cameraNode;
    tinygltf::AnimationChannel yfov = channel(keys.yfovs, 1, "pointer");
    tinygltf::Value::Object pointer;
    pointer["pointer"] = tinygltf::Value(std::string("/cameras/0/perspective/yfov"));
    yfov.target_extensions["KHR_animation_pointer"] = tinygltf::Value(std::move(pointer));
    animation.channels = {translation, rotation, yfov};
    return animation;
}

/// What happened in the flight, on the animation's clock: the animation's `extras`.
tinygltf::Value flightExtrasOf(const std::string& name, const FlightOptions& options, const FlightRecording& flight,
                               const Cuts& cuts) {
    const ULong first = flight.ticks.front().time;
    tinygltf::Value::Array events;
    for (const FlightEvent& event : flight.events) {
        tinygltf::Value::Object entry;
        entry["time"] = tinygltf::Value(secondsSince(first, event.time));
        entry["event"] = tinygltf::Value(std::string(eventWord(event.kind)));
        entry["detail"] = tinygltf::Value(event.detail);
        events.emplace_back(std::move(entry));
    }
    tinygltf::Value::Array cutSeconds;
    for (double s : cuts.seconds) cutSeconds.emplace_back(s);
    tinygltf::Value::Object extras;
    extras["iterator"] = tinygltf::Value(name);
    extras["start"] = tinygltf::Value(double(options.start));
    extras["step"] = tinygltf::Value(double(options.step));
    extras["firstTick"] = tinygltf::Value(double(first));
    extras["ticks"] = tinygltf::Value(double(flight.ticks.size()));
    extras["endedByLimit"] = tinygltf::Value(flight.hitLimit);
    extras["events"] = tinygltf::Value(std::move(events));
    extras["cuts"] = tinygltf::Value(std::move(cutSeconds));
    return tinygltf::Value(std::move(extras));
}

/// The whole model: the scene's nodes, the camera node, the path's node, the animation.
tinygltf::Model flightToModel(const Host& host, const Handle& iterator, const FlightOptions& options,
                              const FlightRecording& flight, const LevelMesh* level) {
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "camsys export";
    tinygltf::Scene scene;
    scene.name = host.nameOf(iterator);
    for (const SceneNode& root : sceneTree(host)) scene.nodes.push_back(addSceneNode(host, model, root, {}));

    const std::vector<FlightTick>& ticks = flight.ticks;
    const std::string& name = host.nameOf(iterator);
    const std::vector<float> tickSeconds = tickSecondsOf(ticks);
    const Cuts cuts = cutsOf(host, iterator, ticks);
    BufferBuilder buffer(model);
    tinygltf::Mesh path = pathMeshOf(buffer, ticks, cuts, name);
    const CameraKeys keys = cameraKeysOf(ticks, tickSeconds, cuts);

    model.cameras.push_back(cameraOf(name, ticks.front().fov));
    tinygltf::Node cameraNode;
    cameraNode.name = name + " eye";
    cameraNode.camera = 0;
    model.nodes.push_back(cameraNode);
    const int cameraIndex = int(model.nodes.size() - 1);
    scene.nodes.push_back(cameraIndex);
    if (!path.primitives.empty()) {
        tinygltf::Node pathNode;
        pathNode.name = path.name;
        pathNode.mesh = int(model.meshes.size());
        model.meshes.push_back(std::move(path));
        model.nodes.push_back(pathNode);
        scene.nodes.push_back(int(model.nodes.size() - 1));
    }

    if (level) scene.nodes.push_back(addLevelNodes(buffer, model, *level));

    tinygltf::Animation animation = cameraAnimationOf(buffer, keys, cameraIndex, name);
    model.extensionsUsed.push_back("KHR_animation_pointer");
    animation.extras = flightExtrasOf(name, options, flight, cuts);
    model.animations.push_back(std::move(animation));

    buffer.finish();
    model.scenes.push_back(std::move(scene));
    model.defaultScene = 0;
    return model;
}

/// The model as the bytes of a file of the given form.
std::string modelToBytes(const tinygltf::Model& model, GltfContainer container) {
    tinygltf::TinyGLTF writer;
    std::ostringstream stream;
    const bool binary = container == GltfContainer::Binary;
    if (!writer.WriteGltfSceneToStream(&model, stream, false, binary))
        throw std::runtime_error("tinygltf could not write the model");
    const std::string written = stream.str();
    if (!binary) return fixJson(written, true);
    // Take tinygltf's container apart, mend its JSON chunk and put it back together.
    if (written.compare(0, 4, "glTF") != 0) throw std::runtime_error("tinygltf wrote no .glb");
    const std::uint32_t jsonLength = readU32(written, 12);
    if (20 + std::size_t(jsonLength) > written.size()) throw std::runtime_error("tinygltf wrote a truncated .glb");
    std::string_view bin;
    if (20 + std::size_t(jsonLength) < written.size()) {
        const std::uint32_t binLength = readU32(written, 20 + jsonLength);
        const std::size_t binStart = 28 + std::size_t(jsonLength);
        if (binStart + binLength > written.size()) throw std::runtime_error("tinygltf wrote a truncated .glb");
        bin = std::string_view(written).substr(binStart, binLength);
    }
    return glb(fixJson(written.substr(20, jsonLength), false), bin);
}

}  // namespace

std::optional<GltfContainer> gltfContainerOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
    std::string extension = path.substr(dot);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".gltf") return GltfContainer::Json;
    if (extension == ".glb") return GltfContainer::Binary;
    return std::nullopt;
}

std::string flightToGltf(const Host& host, const Handle& iterator, const FlightOptions& options,
                         const FlightRecording& flight, GltfContainer container, const LevelMesh* level) {
    return modelToBytes(flightToModel(host, iterator, options, flight, level), container);
}

void writeGltfFile(const Host& host, const Handle& iterator, const FlightOptions& options,
                   const FlightRecording& flight, const std::string& path, const LevelMesh* level) {
    const std::optional<GltfContainer> container = gltfContainerOf(path);
    if (!container) throw std::invalid_argument("the export must be a .gltf or .glb file: " + path);
    writeFileAtomically(path, flightToGltf(host, iterator, options, flight, *container, level));
}

}  // namespace host
