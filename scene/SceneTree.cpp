#include "scene/SceneTree.h"

#include "host/Host.h"

namespace host {

namespace {

bool isSceneKind(const Host& host, const Handle& object) {
    const ObjectKind kind = host.runtime().kind(object);
    return kind == ObjectKind::Module || kind == ObjectKind::Plain;
}

/// `object` with the scene objects of its child list, and theirs.
SceneNode sceneNode(const Host& host, const Handle& object) {
    SceneNode node{object, {}};
    if (Descriptor* d = host.descriptor(object))
        for (const Handle& child : d->children())
            if (host.object(child) && isSceneKind(host, child)) node.children.push_back(sceneNode(host, child));
    return node;
}

void appendPreOrder(const std::vector<SceneNode>& nodes, std::vector<Handle>& out) {
    for (const SceneNode& node : nodes) {
        out.push_back(node.object);
        appendPreOrder(node.children, out);
    }
}

}  // namespace

bool isSceneObject(const Host& host, const Handle& object) {
    if (!host.object(object)) return false;
    for (Handle up = object; !up.IsNull();) {
        if (!isSceneKind(host, up)) return false;
        const Descriptor* d = host.descriptor(up);
        up = d ? d->parent() : Handle();
    }
    return true;
}

std::vector<SceneNode> sceneTree(const Host& host) {
    std::vector<SceneNode> roots;
    for (const Handle& object : host.runtime().objects()) {
        const Descriptor* d = host.descriptor(object);
        if (d && d->parent().IsNull() && host.object(object) && isSceneKind(host, object))
            roots.push_back(sceneNode(host, object));
    }
    return roots;
}

std::vector<Handle> sceneObjects(const Host& host) {
    std::vector<Handle> objects;
    appendPreOrder(sceneTree(host), objects);
    return objects;
}

void removeScene(Host& host) {
    std::vector<Handle> roots;
    for (const SceneNode& node : sceneTree(host)) roots.push_back(node.object);
    host.runtime().remove(roots);
}

}  // namespace host
