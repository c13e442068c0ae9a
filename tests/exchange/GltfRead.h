#pragma once
/// Reading exported glTF files back with tinygltf, and sampling their animations the way glTF
/// defines it, for the tests of `camsys export`.

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace testing_support {

/// A file read back: tinygltf's model and the JSON as written.
struct GltfFile {
    tinygltf::Model model;
    nlohmann::json json;
};

/// Reads a .gltf or .glb file (the .glb container itself is the Khronos validator's to check).
inline GltfFile readGltf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool binary = bytes.starts_with("glTF");
    GltfFile file;
    std::uint32_t jsonLength = 0;  // a .glb's first chunk, its JSON: its length at byte 12 (little-endian)
    if (binary) std::memcpy(&jsonLength, bytes.data() + 12, 4);
    file.json = nlohmann::json::parse(binary ? bytes.substr(20, jsonLength) : bytes);
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    const bool loaded = binary ? loader.LoadBinaryFromFile(&file.model, &error, &warning, path)
                               : loader.LoadASCIIFromFile(&file.model, &error, &warning, path);
    EXPECT_TRUE(loaded) << path << ": " << error;
    EXPECT_EQ(warning, "") << path;
    return file;
}

/// The floats of an accessor (tightly packed or with a stride), `width` per element.
inline std::vector<float> floats(const tinygltf::Model& model, int index) {
    const tinygltf::Accessor& accessor = model.accessors.at(index);
    const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
    const std::vector<unsigned char>& data = model.buffers.at(view.buffer).data;
    EXPECT_EQ(accessor.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    const int width = tinygltf::GetNumComponentsInType(accessor.type);
    const std::size_t stride = view.byteStride ? view.byteStride : width * sizeof(float);
    std::vector<float> out(accessor.count * width);
    for (std::size_t i = 0; i < accessor.count; ++i)
        std::memcpy(&out[i * width], &data.at(view.byteOffset + accessor.byteOffset + i * stride),
                    width * sizeof(float));
    return out;
}

/// A sampler's keys: its input times and output values.
struct Keys {
    std::vector<float> times;
    std::vector<float> values;
    int width = 1;
};

/// The keys of the first animation's channel that drives `path` ("translation", "rotation" or
/// "pointer"), LINEAR ones. tinygltf 2.7 (Debian's) predates KHR_animation_pointer and drops a
/// channel whose target has no "node", as that extension's have: the channel is found in the JSON.
inline Keys keysOf(const GltfFile& file, const std::string& path) {
    for (const nlohmann::json& channel : file.json["animations"][0]["channels"])
        if (channel["target"]["path"] == path) {
            const auto& sampler = file.model.animations.at(0).samplers.at(channel["sampler"].get<std::size_t>());
            EXPECT_EQ(sampler.interpolation, "LINEAR") << path;
            Keys keys{floats(file.model, sampler.input), floats(file.model, sampler.output)};
            keys.width = int(keys.values.size() / keys.times.size());
            return keys;
        }
    ADD_FAILURE() << "no channel for " << path;
    return {};
}

/// The value of LINEAR keys at time `t` as glTF defines it: clamped to the first and last key,
/// else between the keys k and k+1 with t_k <= t < t_{k+1}, linearly (for translations and
/// scalars; rotations would interpolate spherically).
inline std::vector<double> sample(const Keys& k, double t) {
    auto at = [&](std::size_t i) {
        return std::vector<double>(k.values.begin() + i * k.width, k.values.begin() + (i + 1) * k.width);
    };
    if (t <= k.times.front()) return at(0);
    if (t >= k.times.back()) return at(k.times.size() - 1);
    std::size_t i = 0;
    while (!(k.times[i] <= t && t < k.times[i + 1])) ++i;
    const double u = (t - k.times[i]) / (double(k.times[i + 1]) - k.times[i]);
    std::vector<double> out = at(i);
    const std::vector<double> next = at(i + 1);
    for (int c = 0; c < k.width; ++c) out[c] += u * (next[c] - out[c]);
    return out;
}

/// `v` turned by the unit quaternion `q` (x, y, z, w): q v q*.
inline std::array<double, 3> turn(const std::vector<double>& q, const std::array<double, 3>& v) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    // The rotation matrix of q, applied to v.
    return {(1 - 2 * (y * y + z * z)) * v[0] + 2 * (x * y - z * w) * v[1] + 2 * (x * z + y * w) * v[2],
            2 * (x * y + z * w) * v[0] + (1 - 2 * (x * x + z * z)) * v[1] + 2 * (y * z - x * w) * v[2],
            2 * (x * z - y * w) * v[0] + 2 * (y * z + x * w) * v[1] + (1 - 2 * (x * x + y * y)) * v[2]};
}

/// The node named `name`, or -1.
inline int nodeNamed(const tinygltf::Model& model, const std::string& name) {
    for (std::size_t i = 0; i < model.nodes.size(); ++i)
        if (model.nodes[i].name == name) return int(i);
    return -1;
}

}  // namespace testing_support
