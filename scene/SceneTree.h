#pragma once
/// The scene the host holds: its plug-in objects and plain objects, and how they nest.

#include <cstddef>
#include <vector>

#include "framework/Guid.h"

namespace host {

class Host;

/// Child lists nested deeper than this are refused by the loaders: the walks over the tree recurse.
inline constexpr std::size_t kMaxSceneDepth = 1000;

/// One object of a scene and the scene objects in its child list.
struct SceneNode {
    Handle object;
    std::vector<SceneNode> children;
};

/// Whether `object` is part of the scene: an object the host holds, of the plug-in's or the
/// host's plain kind, below objects of those kinds only. Objects of other kinds (the camera,
/// registries) and what hangs below them are not.
bool isSceneObject(const Host& host, const Handle& object);

/// The scene as trees from the objects without a parent, in order of creation.
std::vector<SceneNode> sceneTree(const Host& host);

/// The scene's objects in pre-order: a parent before its children, children in child-list order.
std::vector<Handle> sceneObjects(const Host& host);

/// Removes every object of the scene (with its child list), leaving the host's other objects.
void removeScene(Host& host);

}  // namespace host
