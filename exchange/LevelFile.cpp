#include "exchange/LevelFile.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "base/InputError.h"

namespace host {

namespace {

namespace fs = std::filesystem;

/// Node hierarchies deeper than this are refused rather than walked (a file may also loop).
constexpr std::size_t kMaxNodeDepth = 1024;
/// Most elements of an accessor without a buffer view (all zero).
constexpr std::size_t kMaxZeroElements = std::size_t{1} << 24;
/// Most vertices of a level: nodes may share a mesh, so a small file can name far more vertices
/// than it holds.
constexpr std::size_t kMaxVertices = std::size_t{1} << 25;

/// An affine map in double: row i of the linear part is m[i][0..2], the translation m[i][3].
struct Affine {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

    Vec3 apply(const Vec3& p) const {
        Vec3 out{};
        for (int i = 0; i < 3; ++i) out[i] = m[i][0] * p[0] + m[i][1] * p[1] + m[i][2] * p[2] + m[i][3];
        return out;
    }
    double determinant() const {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    }
};

Affine compose(const Affine& a, const Affine& b) {
    Affine c;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            c.m[i][j] =
                a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + (j == 3 ? a.m[i][3] : 0);
    return c;
}

/// A node's own transform: its matrix (column by column), else translation * rotation * scale.
Affine localTransform(const tinygltf::Node& node) {
    Affine a;
    if (node.matrix.size() == 16) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j) a.m[i][j] = node.matrix[static_cast<std::size_t>(j * 4 + i)];
        return a;
    }
    const std::vector<double>& q = node.rotation;
    const double x = q.size() == 4 ? q[0] : 0, y = q.size() == 4 ? q[1] : 0, z = q.size() == 4 ? q[2] : 0,
                 w = q.size() == 4 ? q[3] : 1;
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) a.m[i][j] = r[i][j] * (node.scale.size() == 3 ? node.scale[j] : 1.0);
        a.m[i][3] = node.translation.size() == 3 ? node.translation[i] : 0;
    }
    return a;
}

/// The folder a level's buffers and images must lie in, and the first URI refused.
struct UriGuard {
    std::string folder;  ///< as tinygltf joins it with each URI
    fs::path realFolder;
    std::string refusal;

    void refuse(const std::string& reason) {
        if (refusal.empty()) refusal = reason;
    }

    /// Whether `path` (the folder joined with a URI) names a file inside the folder; notes why not.
    bool admits(const std::string& path) {
        const std::string prefix = folder + "/";
        if (path.compare(0, prefix.size(), prefix) != 0) return false;  // tinygltf's second try: the working folder
        const std::string uri = path.substr(prefix.size());
        const fs::path relative(uri);
        const bool climbs = std::any_of(relative.begin(), relative.end(), [](const fs::path& p) { return p == ".."; });
        if (uri.empty() || relative.is_absolute() || uri.front() == '/' || climbs) {
            refuse("the URI \"" + uri +
                   "\" leaves the level's folder (only files beside the level or below it are read)");
            return false;
        }
        std::error_code error;
        if (!fs::is_regular_file(path, error)) {
            refuse("the file \"" + uri + "\" it names is missing (or no regular file)");
            return false;
        }
        const fs::path real = fs::canonical(path, error);
        const auto [end, unused] = std::mismatch(realFolder.begin(), realFolder.end(), real.begin(), real.end());
        if (error || realFolder.empty() || end != realFolder.end()) {
            refuse("the file \"" + uri + "\" it names leaves the level's folder through a symbolic link");
            return false;
        }
        return true;
    }
};

bool guardedFileExists(const std::string& path, void* guard) { return static_cast<UriGuard*>(guard)->admits(path); }
std::string unexpandedPath(const std::string& path, void*) { return path; }
bool guardedReadWholeFile(std::vector<unsigned char>* out, std::string* error, const std::string& path, void* guard) {
    if (!static_cast<UriGuard*>(guard)->admits(path)) return false;
    std::ifstream in(path, std::ios::binary);
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) *error = std::string("cannot read the file: ") + std::strerror(errno);
    return error->empty();
}
bool noWrite(std::string*, const std::string&, const std::vector<unsigned char>&, void*) { return false; }
/// Images are read (their URIs are checked) but never decoded: a level is its triangles.
bool keepImageUndecoded(tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*, int,
                        void*) {
    return true;
}

/// The JSON part of a .gltf or .glb, for what must be known before tinygltf reads the rest.
nlohmann::json jsonPart(const std::vector<unsigned char>& bytes, bool binary) {
    if (!binary) return nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    std::uint32_t length = 0;
    if (bytes.size() < 20) return nlohmann::json();
    std::memcpy(&length, bytes.data() + 12, 4);
    if (length > bytes.size() - 20) return nlohmann::json();
    return nlohmann::json::parse(bytes.begin() + 20, bytes.begin() + 20 + length, nullptr, false);
}

/// Refuses the compressions this reader does not undo, saying how to undo them.
void refuseCompression(const nlohmann::json& json, const std::string& path) {
    if (!json.is_object()) return;
    for (const char* key : {"extensionsUsed", "extensionsRequired"}) {
        const auto list = json.find(key);
        if (list == json.end() || !list->is_array()) continue;
        for (const nlohmann::json& name : *list) {
            if (!name.is_string()) continue;
            const std::string text = name.get<std::string>();
            if (text == "KHR_draco_mesh_compression" || text == "EXT_meshopt_compression" ||
                text == "KHR_meshopt_compression")
                throw InputError(path, "", "",
                                 "the level's meshes are compressed (" + text +
                                     "), which camsys does not read; decompress it first, e.g. `npx "
                                     "@gltf-transform/cli copy IN OUT` (it writes plain accessors) or re-export "
                                     "from Blender without compression");
        }
    }
}

/// Reads a level's triangles into a LevelMesh, node by node.
class LevelReader {
public:
    LevelReader(const tinygltf::Model& model, const std::string& path, const LevelPlacement& placement)
        : model_(model), path_(path), placement_(placement) {}

    LevelMesh read() {
        std::vector<int> roots;
        if (model_.defaultScene >= 0) {
            if (static_cast<std::size_t>(model_.defaultScene) >= model_.scenes.size())
                fail("", "the default scene is out of range");
            roots = model_.scenes[static_cast<std::size_t>(model_.defaultScene)].nodes;
        } else {
            // No default scene: every node that is no child of another.
            std::vector<bool> child(model_.nodes.size(), false);
            for (const tinygltf::Node& node : model_.nodes)
                for (int c : node.children)
                    if (c >= 0 && static_cast<std::size_t>(c) < child.size()) child[static_cast<std::size_t>(c)] = true;
            for (std::size_t i = 0; i < child.size(); ++i)
                if (!child[i]) roots.push_back(static_cast<int>(i));
        }
        reached_.assign(model_.nodes.size(), false);
        for (int root : roots) walk(root, Affine(), 1);
        return std::move(mesh_);
    }

private:
    [[noreturn]] void fail(const std::string& where, const std::string& reason) const {
        throw InputError(path_, where, "", reason);
    }

    void walk(int index, const Affine& parent, std::size_t depth) {
        if (index < 0 || static_cast<std::size_t>(index) >= model_.nodes.size())
            fail("", "a node index (" + std::to_string(index) + ") is out of range");
        if (depth > kMaxNodeDepth)
            fail("node " + std::to_string(index), "nodes nested deeper than " + std::to_string(kMaxNodeDepth));
        if (reached_[static_cast<std::size_t>(index)])
            fail("node " + std::to_string(index),
                 "the node is reached twice (a glTF node hierarchy is a set of trees)");
        reached_[static_cast<std::size_t>(index)] = true;
        const tinygltf::Node& node = model_.nodes[static_cast<std::size_t>(index)];
        const Affine transform = compose(parent, localTransform(node));
        if (node.mesh >= 0) addMesh(index, node, transform);
        for (int child : node.children) walk(child, transform, depth + 1);
    }

    void addMesh(int index, const tinygltf::Node& node, const Affine& transform) {
        if (static_cast<std::size_t>(node.mesh) >= model_.meshes.size())
            fail("node " + std::to_string(index), "its mesh index is out of range");
        const tinygltf::Mesh& mesh = model_.meshes[static_cast<std::size_t>(node.mesh)];
        const std::string surface = !node.name.empty()   ? node.name
                                    : !mesh.name.empty() ? mesh.name
                                                         : "node " + std::to_string(index);
        const auto surfaceIndex = static_cast<std::uint32_t>(mesh_.surfaces.size());
        bool used = false;
        for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
            const tinygltf::Primitive& primitive = mesh.primitives[p];
            if (primitive.mode != TINYGLTF_MODE_TRIANGLES && primitive.mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
                primitive.mode != TINYGLTF_MODE_TRIANGLE_FAN) {
                ++mesh_.skippedPrimitives;
                continue;
            }
            const std::string where = surface + ": primitive " + std::to_string(p);
            const auto base = static_cast<std::uint32_t>(mesh_.vertexCount());
            addPositions(primitive, transform, where);
            const std::vector<std::uint32_t> order = vertexOrder(primitive, mesh_.vertexCount() - base, where);
            addTriangles(primitive.mode, order, base, transform.determinant() < 0, surfaceIndex);
            used = true;
        }
        if (used) mesh_.surfaces.push_back(surface);
    }

    /// The bytes of an accessor's elements: the first, the distance between two, and the count.
    struct Elements {
        const unsigned char* first = nullptr;  ///< null: every element is zero (no buffer view)
        std::size_t stride = 0;
        std::size_t count = 0;
    };

    Elements elements(int index, std::size_t size, const std::string& where) const {
        if (index < 0 || static_cast<std::size_t>(index) >= model_.accessors.size())
            fail(where, "an accessor index is out of range");
        const tinygltf::Accessor& accessor = model_.accessors[static_cast<std::size_t>(index)];
        if (accessor.sparse.isSparse) fail(where, "sparse accessors are not read");
        Elements e{nullptr, size, accessor.count};
        if (accessor.bufferView < 0) {
            // Zeros by definition; bounded, since no buffer's size bounds them.
            if (e.count > kMaxZeroElements) fail(where, "an accessor without a buffer view has too many elements");
            return e;
        }
        if (static_cast<std::size_t>(accessor.bufferView) >= model_.bufferViews.size())
            fail(where, "a buffer view index is out of range");
        const tinygltf::BufferView& view = model_.bufferViews[static_cast<std::size_t>(accessor.bufferView)];
        if (view.buffer < 0 || static_cast<std::size_t>(view.buffer) >= model_.buffers.size())
            fail(where, "a buffer index is out of range");
        const std::vector<unsigned char>& data = model_.buffers[static_cast<std::size_t>(view.buffer)].data;
        e.stride = view.byteStride ? view.byteStride : size;
        const bool fits = e.stride >= size && view.byteOffset <= data.size() &&
                          view.byteLength <= data.size() - view.byteOffset && accessor.byteOffset <= view.byteLength &&
                          (e.count == 0 || ((e.count - 1) <= (view.byteLength - accessor.byteOffset) / e.stride &&
                                            e.stride * (e.count - 1) + size <= view.byteLength - accessor.byteOffset));
        if (!fits) fail(where, "an accessor reaches beyond its buffer view or buffer");
        e.first = data.data() + view.byteOffset + accessor.byteOffset;
        return e;
    }

    void addPositions(const tinygltf::Primitive& primitive, const Affine& transform, const std::string& where) {
        const auto found = primitive.attributes.find("POSITION");
        if (found == primitive.attributes.end()) fail(where, "the primitive has no POSITION");
        const int index = found->second;
        const Elements e = elements(index, 12, where);
        const tinygltf::Accessor& accessor = model_.accessors[static_cast<std::size_t>(index)];
        if (accessor.type != TINYGLTF_TYPE_VEC3 || accessor.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT)
            fail(where, "POSITION must be three floats a vertex");
        if (e.count > kMaxVertices - mesh_.vertexCount())
            fail(where, "the level has more than " + std::to_string(kMaxVertices) + " vertices");
        mesh_.positions.reserve(mesh_.positions.size() + 3 * e.count);
        for (std::size_t i = 0; i < e.count; ++i) {
            float p[3] = {0, 0, 0};
            if (e.first) std::memcpy(p, e.first + i * e.stride, sizeof p);
            const Vec3 file = transform.apply({p[0], p[1], p[2]});
            // glTF's (X, Y, Z), +y up, is the world's (X, -Z, Y), +z up.
            const Vec3 world = {file[0], -file[2], file[1]};
            for (int k = 0; k < 3; ++k) {
                const double v = placement_.position[static_cast<std::size_t>(k)] +
                                 placement_.scale * world[static_cast<std::size_t>(k)];
                const auto stored = static_cast<float>(v);
                if (!std::isfinite(stored))
                    fail(where, "a vertex position is not finite (vertex " + std::to_string(i) + ")");
                mesh_.positions.push_back(stored);
            }
        }
    }

    /// The primitive's vertices in drawing order: its indices, else 0, 1, 2, ...
    std::vector<std::uint32_t> vertexOrder(const tinygltf::Primitive& primitive, std::size_t vertices,
                                           const std::string& where) const {
        std::vector<std::uint32_t> order;
        if (primitive.indices < 0) {
            order.resize(vertices);
            for (std::size_t i = 0; i < vertices; ++i) order[i] = static_cast<std::uint32_t>(i);
            return order;
        }
        if (static_cast<std::size_t>(primitive.indices) >= model_.accessors.size())
            fail(where, "the indices' accessor index is out of range");
        const tinygltf::Accessor& accessor = model_.accessors[static_cast<std::size_t>(primitive.indices)];
        const int type = accessor.componentType;
        const std::size_t size = type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE    ? 1
                                 : type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ? 2
                                 : type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT   ? 4
                                                                                  : 0;
        if (size == 0 || accessor.type != TINYGLTF_TYPE_SCALAR) fail(where, "indices must be unsigned integer scalars");
        const Elements e = elements(primitive.indices, size, where);
        order.resize(e.count);
        for (std::size_t i = 0; i < e.count; ++i) {
            std::uint32_t value = 0;
            if (e.first) {
                const unsigned char* bytes = e.first + i * e.stride;
                for (std::size_t b = size; b-- > 0;) value = value << 8 | bytes[b];
            }
            if (value >= vertices)
                fail(where,
                     "index " + std::to_string(value) + " is out of range (" + std::to_string(vertices) + " vertices)");
            order[i] = value;
        }
        return order;
    }

    /// Triangles from the drawing order as glTF defines each mode; mirrored nodes swap two
    /// corners so that every triangle stays counter-clockwise seen from its front.
    void addTriangles(int mode, const std::vector<std::uint32_t>& v, std::uint32_t base, bool mirrored,
                      std::uint32_t surface) {
        auto add = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            if (mirrored) std::swap(b, c);
            mesh_.indices.insert(mesh_.indices.end(), {base + a, base + b, base + c});
            mesh_.surfaceOf.push_back(surface);
        };
        const std::size_t n = v.size();
        if (mode == TINYGLTF_MODE_TRIANGLES) {
            for (std::size_t i = 0; i + 2 < n; i += 3) add(v[i], v[i + 1], v[i + 2]);
        } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
            for (std::size_t i = 0; i + 2 < n; ++i) add(v[i], v[i + 1 + i % 2], v[i + 2 - i % 2]);
        } else {
            for (std::size_t i = 0; i + 2 < n; ++i) add(v[i + 1], v[i + 2], v[0]);
        }
    }

    const tinygltf::Model& model_;
    const std::string& path_;
    const LevelPlacement& placement_;
    LevelMesh mesh_;
    std::vector<bool> reached_;
};

std::vector<unsigned char> levelBytes(const std::string& path) {
    std::error_code error;
    if (!fs::exists(path, error)) throw InputError(path, "", "", "the level file does not exist");
    if (!fs::is_regular_file(path, error)) throw InputError(path, "", "", "the level is no regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path, "", "", std::string("cannot open the level: ") + std::strerror(errno));
    std::vector<unsigned char> bytes(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) throw InputError(path, "", "", std::string("cannot read the level: ") + std::strerror(errno));
    return bytes;
}

}  // namespace

LevelMesh loadLevelFile(const std::string& path, const LevelPlacement& placement) {
    if (!(placement.scale > 0) || !std::isfinite(placement.scale))
        throw InputError(path, "", "scale", "the level's scale must be a finite number above 0");
    const std::vector<unsigned char> bytes = levelBytes(path);
    const bool binary = bytes.size() >= 4 && std::memcmp(bytes.data(), "glTF", 4) == 0;
    refuseCompression(jsonPart(bytes, binary), path);

    UriGuard guard;
    guard.folder = fs::path(path).parent_path().string();
    if (guard.folder.empty()) guard.folder = ".";
    std::error_code error;
    guard.realFolder = fs::canonical(guard.folder, error);
    tinygltf::TinyGLTF loader;
    loader.SetFsCallbacks({guardedFileExists, unexpandedPath, guardedReadWholeFile, noWrite, &guard});
    loader.SetImageLoader(keepImageUndecoded, nullptr);
    tinygltf::Model model;
    std::string errors, warnings;
    const bool loaded =
        binary ? loader.LoadBinaryFromMemory(&model, &errors, &warnings, bytes.data(),
                                             static_cast<unsigned int>(bytes.size()), guard.folder)
               : loader.LoadASCIIFromString(&model, &errors, &warnings, reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<unsigned int>(bytes.size()), guard.folder);
    if (!guard.refusal.empty()) throw InputError(path, "", "", guard.refusal);
    if (!loaded) {
        while (!errors.empty() && errors.back() == '\n') errors.pop_back();
        throw InputError(path, "", "", "no glTF 2.0 file camsys can read: " + errors);
    }
    return LevelReader(model, path, placement).read();
}

}  // namespace host
