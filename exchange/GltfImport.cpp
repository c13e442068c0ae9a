#include "exchange/GltfImport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

#include "base/InputError.h"
#include "base/Vec.h"
#include "exchange/GltfExport.h"

namespace host {

namespace {

using Json = nlohmann::json;

/// What reading refuses, naming the file.
struct Reader {
    std::string path;
    [[noreturn]] void fail(const std::string& why) const { throw InputError(path, "", "", why); }
};

std::string readBytes(const Reader& r, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) r.fail("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

std::string fromBase64(const Reader& r, std::string_view text) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') break;
        int digit = -1;
        if (c >= 'A' && c <= 'Z') digit = c - 'A';
        if (c >= 'a' && c <= 'z') digit = c - 'a' + 26;
        if (c >= '0' && c <= '9') digit = c - '0' + 52;
        if (c == '+') digit = 62;
        if (c == '/') digit = 63;
        if (digit < 0) r.fail("a buffer's data URI is no base64");
        bits = bits << 6 | static_cast<std::uint32_t>(digit);
        if ((count += 6) >= 8) out.push_back(static_cast<char>(bits >> (count -= 8) & 0xFF));
    }
    return out;
}

/// The document: its JSON and its buffers' bytes.
struct Document {
    Json json;
    std::vector<std::string> buffers;
};

Document load(const Reader& r) {
    const std::string bytes = readBytes(r, r.path);
    Document doc;
    std::string bin;
    std::string text = bytes;
    if (bytes.size() >= 12 && bytes.compare(0, 4, "glTF") == 0) {
        // The binary container: a 12-byte header, a JSON chunk, then maybe a BIN chunk.
        if (bytes.size() < 20 || le32(bytes, 8) != bytes.size() || le32(bytes, 16) != 0x4E4F534Au)
            r.fail("a .glb container with a bad header");
        const std::uint32_t length = le32(bytes, 12);
        if (20ull + length > bytes.size()) r.fail("a .glb whose JSON chunk runs past its end");
        text = bytes.substr(20, length);
        const std::size_t next = 20ull + length;
        if (next + 8 <= bytes.size() && le32(bytes, next + 4) == 0x004E4942u) {
            const std::uint32_t binLength = le32(bytes, next);
            if (next + 8 + binLength > bytes.size()) r.fail("a .glb whose BIN chunk runs past its end");
            bin = bytes.substr(next + 8, binLength);
        }
    }
    doc.json = Json::parse(text, nullptr, false);
    if (doc.json.is_discarded() || !doc.json.is_object()) r.fail("no glTF: the file is no JSON object nor a .glb");
    for (const Json& buffer : doc.json.value("buffers", Json::array())) {
        if (!buffer.contains("uri")) {
            doc.buffers.push_back(bin);
            continue;
        }
        const std::string uri = buffer["uri"].get<std::string>();
        const std::size_t comma = uri.find(',');
        if (uri.starts_with("data:") && comma != std::string::npos && uri.substr(0, comma).ends_with(";base64"))
            doc.buffers.push_back(fromBase64(r, std::string_view(uri).substr(comma + 1)));
        else if (uri.find(':') == std::string::npos && uri.find("..") == std::string::npos &&
                 !std::filesystem::path(uri).is_absolute() &&
                 std::filesystem::is_regular_file(std::filesystem::path(r.path).parent_path() / uri))
            doc.buffers.push_back(readBytes(r, (std::filesystem::path(r.path).parent_path() / uri).string()));
        else
            r.fail("a buffer at " + uri + ": only embedded data and regular files beside the .gltf are read");
    }
    return doc;
}

/// The float values of accessor `index`, `width` per element (1, 3 or 4).
std::vector<float> accessor(const Reader& r, const Document& doc, std::size_t index, int width) {
    try {
        const Json& a = doc.json.at("accessors").at(index);
        const std::map<std::string, int> widths = {{"SCALAR", 1}, {"VEC3", 3}, {"VEC4", 4}};
        if (a.at("componentType").get<int>() != 5126 || widths.at(a.at("type").get<std::string>()) != width)
            r.fail("accessor " + std::to_string(index) + " is not of " + std::to_string(width) + " float(s)");
        const Json& view = doc.json.at("bufferViews").at(a.at("bufferView").get<std::size_t>());
        const std::string& buffer = doc.buffers.at(view.at("buffer").get<std::size_t>());
        const std::size_t count = a.at("count").get<std::size_t>();
        const std::size_t stride = view.value("byteStride", std::size_t(4 * width));
        const std::size_t viewOffset = view.value("byteOffset", std::size_t(0));
        const std::size_t ownOffset = a.value("byteOffset", std::size_t(0));
        const std::size_t element = 4u * static_cast<std::size_t>(width);
        // Checked by division, so that no product or sum of the file's numbers can wrap around.
        if (count == 0 || stride < element || viewOffset > buffer.size() || ownOffset > buffer.size() - viewOffset ||
            buffer.size() - viewOffset - ownOffset < element ||
            count - 1 > (buffer.size() - viewOffset - ownOffset - element) / stride)
            r.fail("accessor " + std::to_string(index) + " runs past its buffer");
        const std::size_t offset = viewOffset + ownOffset;
        std::vector<float> values(count * width);
        for (std::size_t i = 0; i < count; ++i)
            std::memcpy(&values[i * width], &buffer[offset + i * stride], 4 * width);
        return values;
    } catch (const Json::exception&) {
        r.fail("accessor " + std::to_string(index) + " is incomplete");
    } catch (const std::out_of_range&) {
        r.fail("accessor " + std::to_string(index) + " names what the file does not have");
    }
}

/// A channel's keys: times (seconds) and values, `width` per key, and how they are joined.
struct Track {
    std::vector<float> times, values;
    int width = 0;
    bool step = false;
    bool cubic = false;  ///< CUBICSPLINE: in-tangent, value, out-tangent per key; the values are used

    /// The value at `t`, as glTF interpolates it (rotations: spherical; CUBICSPLINE read as
    /// LINEAR between its values).
    std::vector<double> at(double t) const {
        const std::size_t n = times.size();
        const auto value = [&](std::size_t k) {
            std::vector<double> v(width);
            const std::size_t base = cubic ? (3 * k + 1) * width : k * width;
            for (int c = 0; c < width; ++c) v[c] = values[base + c];
            return v;
        };
        const std::size_t upper = std::upper_bound(times.begin(), times.end(), t) - times.begin();
        if (upper == 0) return value(0);
        if (upper == n) return value(n - 1);
        const std::vector<double> a = value(upper - 1), b = value(upper);
        if (step) return a;
        const double u = (t - times[upper - 1]) / (times[upper] - times[upper - 1]);
        std::vector<double> out(width);
        if (width == 4) {
            // slerp, the shorter way.
            double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
            std::vector<double> bb = b;
            if (d < 0) {
                d = -d;
                for (double& c : bb) c = -c;
            }
            double wa = 1 - u, wb = u;
            if (d < 0.9995) {
                const double theta = std::acos(d), s = std::sin(theta);
                wa = std::sin((1 - u) * theta) / s;
                wb = std::sin(u * theta) / s;
            }
            for (int c = 0; c < 4; ++c) out[c] = wa * a[c] + wb * bb[c];
            return out;
        }
        for (int c = 0; c < width; ++c) out[c] = a[c] + u * (b[c] - a[c]);
        return out;
    }
};

Track track(const Reader& r, const Document& doc, const Json& sampler, int width) {
    Track t;
    t.width = width;
    const std::string interpolation = sampler.value("interpolation", "LINEAR");
    t.step = interpolation == "STEP";
    t.cubic = interpolation == "CUBICSPLINE";
    t.times = accessor(r, doc, sampler.at("input").get<std::size_t>(), 1);
    t.values = accessor(r, doc, sampler.at("output").get<std::size_t>(), width);
    if (t.values.size() != t.times.size() * width * (t.cubic ? 3 : 1))
        r.fail("an animation's keys and values differ in number");
    for (std::size_t k = 1; k < t.times.size(); ++k)
        if (!(t.times[k] > t.times[k - 1])) r.fail("an animation's key times do not increase");
    return t;
}

/// A node's fixed placement: rotation, then translation (scale is not a camera's).
struct Placement {
    Quat rotation{0, 0, 0, 1};
    Vec3 translation{0, 0, 0};
};

Placement placementOf(const Reader& r, const Json& node) {
    if (node.contains("matrix")) r.fail("a camera below a node with a matrix transform is not read; use TRS");
    Placement p;
    const auto numbers = [&](const char* key, double* out, std::size_t n) {
        if (!node.contains(key)) return;
        const Json& values = node[key];
        if (!values.is_array() || values.size() != n)
            r.fail(std::string("a node's \"") + key + "\" is no array of " + std::to_string(n) + " numbers");
        for (std::size_t c = 0; c < n; ++c) {
            if (!values[c].is_number()) r.fail(std::string("a node's \"") + key + "\" is no array of numbers");
            out[c] = values[c].get<double>();
        }
    };
    numbers("rotation", p.rotation.data(), 4);
    numbers("translation", p.translation.data(), 3);
    if (node.contains("scale")) {
        double scale[3] = {1, 1, 1};
        numbers("scale", scale, 3);
        if (scale[0] != 1 || scale[1] != 1 || scale[2] != 1)
            r.fail("a camera below a scaled node is not read: a camera's placement has no scale");
    }
    return p;
}

/// glTF (x, y, z) with y up to the world with z up: (x, -z, y), the export's conversion undone.
_Point3<float> toWorld(const Vec3& g) {
    return {static_cast<float>(g[0]), static_cast<float>(-g[2]), static_cast<float>(g[1])};
}

/// The first camera node with a translation or rotation animation, and that animation.
std::pair<std::size_t, const Json*> animatedCamera(const Reader& r, const Json& json, const Json& nodes) {
    if (!json.contains("animations")) r.fail("no camera node with a translation or rotation animation");
    for (const Json& a : json.at("animations")) {
        for (const Json& channel : a.value("channels", Json::array())) {
            const Json& target = channel.value("target", Json::object());
            if (!target.contains("node")) continue;
            const std::size_t node = target["node"].get<std::size_t>();
            const std::string what = target.value("path", "");
            if (node < nodes.size() && nodes[node].contains("camera") && (what == "translation" || what == "rotation"))
                return {node, &a};
        }
    }
    r.fail("no camera node with a translation or rotation animation");
}

/// The camera's animated channels, and the vertical field of view it has where none animates it.
struct CameraTracks {
    std::optional<Track> translation, rotation, yfov;
    double stillYfov = kPi / 3;
};

CameraTracks cameraTracks(const Reader& r, const Document& doc, std::size_t cameraNode, const Json& animation) {
    const Json& json = doc.json;
    const std::size_t camera = json["nodes"][cameraNode]["camera"].get<std::size_t>();
    CameraTracks tracks;
    const std::string yfovPointer = "/cameras/" + std::to_string(camera) + "/perspective/yfov";
    for (const Json& channel : animation.value("channels", Json::array())) {
        const Json& target = channel.value("target", Json::object());
        const Json& sampler = animation.at("samplers").at(channel.at("sampler").get<std::size_t>());
        const Json pointer = target.value("extensions", Json::object()).value("KHR_animation_pointer", Json::object());
        if (pointer.value("pointer", "") == yfovPointer) {
            tracks.yfov = track(r, doc, sampler, 1);
        } else if (target.value("node", std::size_t(-1)) == cameraNode) {
            if (target.value("path", "") == "translation") tracks.translation = track(r, doc, sampler, 3);
            if (target.value("path", "") == "rotation") tracks.rotation = track(r, doc, sampler, 4);
        }
    }
    if (const Json* perspective = &json.at("cameras").at(camera); perspective->contains("perspective"))
        tracks.stillYfov = (*perspective)["perspective"].value("yfov", tracks.stillYfov);
    return tracks;
}

/// The fixed placements of the nodes above `node`, outermost first.
std::vector<Placement> parentPlacements(const Reader& r, const Json& nodes, std::size_t node) {
    std::map<std::size_t, std::size_t> parentOf;
    for (std::size_t i = 0; i < nodes.size(); ++i)
        for (const Json& child : nodes[i].value("children", Json::array())) parentOf[child.get<std::size_t>()] = i;
    std::vector<Placement> parents;
    for (auto up = parentOf.find(node); up != parentOf.end(); up = parentOf.find(up->second)) {
        if (parents.size() >= nodes.size()) r.fail("the nodes above the camera form a cycle");
        parents.insert(parents.begin(), placementOf(r, nodes[up->second]));
    }
    return parents;
}

/// Every key time of the camera's channels, once each: a turn or a zoom between two moves counts.
std::vector<float> keyTimesOf(const CameraTracks& tracks) {
    std::vector<float> keyTimes;
    for (const std::optional<Track>* track : {&tracks.translation, &tracks.rotation, &tracks.yfov})
        if (*track) keyTimes.insert(keyTimes.end(), (*track)->times.begin(), (*track)->times.end());
    std::sort(keyTimes.begin(), keyTimes.end());
    keyTimes.erase(std::unique(keyTimes.begin(), keyTimes.end()), keyTimes.end());
    return keyTimes;
}

/// The camera's eye at the animation's time `t` (seconds), in world axes.
RecordedEye eyeAt(const Reader& r, const CameraTracks& tracks, const Placement& own,
                  const std::vector<Placement>& parents, double t) {
    const double ms = std::round(static_cast<double>(t) * 1000.0);
    if (!(ms >= 0 && ms <= 4294967295.0)) r.fail("an animation key at " + std::to_string(t) + " s");
    Vec3 position = own.translation;
    Quat q = own.rotation;
    if (tracks.translation) {
        const std::vector<double> v = tracks.translation->at(t);
        position = {v[0], v[1], v[2]};
    }
    if (tracks.rotation) {
        const std::vector<double> v = tracks.rotation->at(t);
        q = {v[0], v[1], v[2], v[3]};
    }
    const double size = length(q);
    if (!(size > 0)) r.fail("a rotation key of length 0");
    for (double& c : q) c /= size;
    for (auto p = parents.rbegin(); p != parents.rend(); ++p) {
        const Vec3 turned = rotate(p->rotation, position);
        position = {turned[0] + p->translation[0], turned[1] + p->translation[1], turned[2] + p->translation[2]};
        q = multiply(p->rotation, q);
    }
    // The camera's axes: node x is right, y up, -z the view.
    const _Point3<float> right = toWorld(rotate(q, {1, 0, 0}));
    const _Point3<float> up = toWorld(rotate(q, {0, 1, 0}));
    const _Point3<float> forward = toWorld(rotate(q, {0, 0, -1}));
    RecordedEye sample;
    sample.time = static_cast<ULong>(ms);
    sample.eye.Origin = toWorld(position);
    sample.eye.Orientation =
        _CMatrix3<float>(right.x, forward.x, up.x, right.y, forward.y, up.y, right.z, forward.z, up.z);
    const double angle = tracks.yfov ? tracks.yfov->at(t)[0] : tracks.stillYfov;
    sample.fov = static_cast<float>(std::tan(kGltfBaseYfov / 2) / std::tan(angle / 2));
    return sample;
}

std::vector<RecordedEye> readGltf(const Reader& r) {
    const Document doc = load(r);
    const Json nodes = doc.json.value("nodes", Json::array());
    const auto [cameraNode, animation] = animatedCamera(r, doc.json, nodes);
    const CameraTracks tracks = cameraTracks(r, doc, cameraNode, *animation);
    const Placement own = placementOf(r, nodes[cameraNode]);
    const std::vector<Placement> parents = parentPlacements(r, nodes, cameraNode);
    std::vector<RecordedEye> samples;
    for (const float key : keyTimesOf(tracks)) {
        const RecordedEye sample = eyeAt(r, tracks, own, parents, key);
        // A key that rounds to the time of the one before gives way to it (the held eye an export
        // puts just before a cut, at the float below the cut's time).
        if (!samples.empty() && samples.back().time == sample.time) samples.pop_back();
        samples.push_back(sample);
    }
    checkRecording(samples, r.path);
    return samples;
}

}  // namespace

std::vector<RecordedEye> loadGltfRecordingFile(const std::string& path) {
    const Reader r{path};
    try {
        return readGltf(r);
    } catch (const InputError&) {
        throw;
    } catch (const Json::exception& error) {
        // A member of the wrong type or an index the file does not have.
        r.fail(std::string("no glTF this reads: ") + error.what());
    } catch (const std::length_error&) {
        r.fail("an accessor or a buffer too large to read");
    } catch (const std::bad_alloc&) {
        r.fail("an accessor or a buffer too large to read");
    }
}

}  // namespace host
