#include "exchange/LevelGlb.h"

#include <sstream>
#include <tiny_gltf.h>

#include "base/InputError.h"

namespace host {

std::string levelToGlb(const std::string& path, const LevelPlacement& placement) {
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string error, warning;
    const bool binary = path.size() >= 4 && path.compare(path.size() - 4, 4, ".glb") == 0;
    const bool read = binary ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                             : loader.LoadASCIIFromFile(&model, &error, &warning, path);
    if (!read) throw InputError(path, "", "", error.empty() ? "tinygltf cannot read it" : error);

    // The world places the level in its own axes (+z up); a file point (x, y, z) is the world's
    // (x, -z, y), so the world's move (x, y, z) is the file's (x, z, -y).
    tinygltf::Node placed;
    placed.name = "level placement";
    placed.scale = {placement.scale, placement.scale, placement.scale};
    placed.translation = {placement.position[0], placement.position[2], -placement.position[1]};
    if (model.scenes.empty()) {
        tinygltf::Scene all;
        for (std::size_t i = 0; i < model.nodes.size(); ++i) {
            bool child = false;
            for (const tinygltf::Node& node : model.nodes)
                for (const int c : node.children) child = child || c == static_cast<int>(i);
            if (!child) all.nodes.push_back(static_cast<int>(i));
        }
        model.scenes.push_back(std::move(all));
    }
    const int shown = model.defaultScene >= 0 && model.defaultScene < static_cast<int>(model.scenes.size())
                          ? model.defaultScene
                          : 0;
    tinygltf::Scene& scene = model.scenes[static_cast<std::size_t>(shown)];
    placed.children = scene.nodes;
    model.nodes.push_back(std::move(placed));
    scene.nodes = {static_cast<int>(model.nodes.size()) - 1};
    model.defaultScene = shown;

    std::ostringstream out;
    if (!loader.WriteGltfSceneToStream(&model, out, false, true))
        throw InputError(path, "", "", "tinygltf cannot write it as one .glb");
    return out.str();
}

}  // namespace host
