#include "python/ScriptScene.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include "base/InputError.h"
#include "exchange/GltfExport.h"
#include "exchange/LevelFile.h"
#include "flight/FlightAnalysisInput.h"
#include "geometry/LevelGeometry.h"
#include "scene/AttributeValues.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneFile.h"
#include "scene/SceneTree.h"
#include "scene/ScoFile.h"
#include "scene/StarterScene.h"

namespace pycamsys {

using host::Host;
using host::InputError;

std::shared_ptr<const host::LevelGeometry> loadLevel(const std::string& file) {
    return std::make_shared<const host::LevelGeometry>(host::loadLevelFile(file));
}

template <typename Build>
std::unique_ptr<Scene> Scene::make(std::string file, Build build) {
    std::unique_ptr<Scene> scene(new Scene(std::move(file)));
    scene->sceneHost_.run([&](Host& host) {
        build(host, *scene);
        // As camsys gives a flight its camera: after the scene, never part of it.
        host.createCamera("", true);
    });
    scene->editor_ = std::make_unique<host::SceneEditor>(scene->sceneHost_.host());
    return scene;
}

std::unique_ptr<Scene> Scene::load(const std::string& path) {
    return make(path, [&](Host& host, Scene& scene) { host::loadSceneFile(host, path, &scene.level_); });
}

std::unique_ptr<Scene> Scene::fromJson(const std::string& text, const std::string& file) {
    return make(file, [&](Host& host, Scene& scene) { host::loadJsonScene(host, text, file, &scene.level_); });
}

std::unique_ptr<Scene> Scene::starter() {
    return make("new", [](Host& host, Scene&) { host::loadStarterScene(host, "new"); });
}

std::optional<std::string> Scene::levelPath() const {
    if (!level_) return std::nullopt;
    const std::filesystem::path path(level_->file);
    if (path.is_absolute() || file_ == "-") return level_->file;
    return (std::filesystem::path(file_).parent_path() / path).string();
}

std::shared_ptr<const host::LevelGeometry> Scene::levelFor(const LevelChoice& choice) const {
    switch (choice.kind) {
        case LevelChoice::Kind::None:
            return nullptr;
        case LevelChoice::Kind::File:
            return loadLevel(choice.file);
        case LevelChoice::Kind::Own:
            break;
    }
    if (!level_) return nullptr;
    const host::LevelPlacement placement{level_->scale, {level_->position[0], level_->position[1], level_->position[2]}};
    return std::make_shared<const host::LevelGeometry>(host::loadLevelFile(*levelPath(), placement));
}

Handle Scene::objectNamed(Host& host, const std::string& name) const {
    const Handle found = host.find(name);
    if (found.IsNull() || !host::isSceneObject(host, found)) throw InputError("", name, "", "no object has this name");
    return found;
}

// The rule and the words of camsys's --iterator, for a scene that may have been edited since.
Handle Scene::iteratorNamed(Host& host, const std::string& name) const {
    return host::chooseIterator(host, host::sceneObjects(host), file_, name, "by name");
}

std::vector<ObjectRow> Scene::objects() {
    return sceneHost_.run([&](Host& host) {
        std::vector<ObjectRow> rows;
        for (const Handle& object : host::sceneObjects(host)) {
            ObjectRow row{host.nameOf(object), std::nullopt, std::nullopt, std::nullopt};
            if (host.runtime().kind(object) == host::ObjectKind::Module) row.className = host.className(object);
            const Handle parent = object.GetParent();
            if (!parent.IsNull()) row.parent = host.nameOf(parent);
            if (const auto frame = host.getObjectPos(object)) row.position = frame->Origin;
            rows.push_back(std::move(row));
        }
        return rows;
    });
}

bool Scene::hasObject(const std::string& object) {
    return sceneHost_.run([&](Host& host) {
        const Handle found = host.find(object);
        return !found.IsNull() && host::isSceneObject(host, found);
    });
}

std::vector<std::pair<std::string, AttributeText>> Scene::attributes(const std::string& name) {
    return sceneHost_.run([&](Host& host) {
        const Handle object = objectNamed(host, name);
        std::vector<std::pair<std::string, AttributeText>> values;
        for (const Attribute& record : host.ownAttributes(object)) {
            if (!host::isSceneType(record)) continue;
            const auto bytes = host.getAttribute(object, record);
            const auto json = bytes ? host::attributeJson(host, record, *bytes) : std::nullopt;
            values.emplace_back(host::attributeName(record), AttributeText{json.value_or("null"), record.Type == kTypeFloat});
        }
        return values;
    });
}

void Scene::edit(const std::string& object, const std::string& json) {
    sceneHost_.run([&](Host& host) { editor_->edit(objectNamed(host, object), json, {}); });
}

void Scene::editAll(const std::vector<std::pair<std::string, std::string>>& edits) {
    sceneHost_.run([&](Host& host) {
        std::vector<std::pair<Handle, std::string>> changes;
        for (const auto& [object, json] : edits) changes.emplace_back(objectNamed(host, object), json);
        editor_->editAll("edit " + std::to_string(changes.size()) + " objects", changes);
    });
}

std::string Scene::create(const std::string& className, const std::string& name, const std::string& parent,
                          std::optional<std::size_t> index, const std::string& json, const std::string& copyOf) {
    return sceneHost_.run([&](Host& host) {
        const Handle made =
            editor_->create(className, name, parent.empty() ? Handle() : objectNamed(host, parent),
                            index.value_or(std::numeric_limits<std::size_t>::max()), json, {},
                            copyOf.empty() ? Handle() : objectNamed(host, copyOf));
        return host.nameOf(made);
    });
}

std::vector<host::SceneEditor::Referrer> Scene::remove(const std::string& object) {
    return sceneHost_.run([&](Host& host) { return editor_->remove(objectNamed(host, object)); });
}

bool Scene::undo() {
    return sceneHost_.run([&](Host&) { return editor_->undo(); });
}

bool Scene::redo() {
    return sceneHost_.run([&](Host&) { return editor_->redo(); });
}

std::shared_ptr<FlightData> Scene::fly(const std::string& iterator, const host::FlightOptions& options) {
    return sceneHost_.run([&](Host& host) {
        const Handle chosen = iteratorNamed(host, iterator);
        auto flight = std::make_shared<FlightData>();
        flight->iterator = host.nameOf(chosen);
        flight->options = options;
        flight->recording = host::recordFlight(host, chosen, options);
        flight->analysisInput = host::flightAnalysisInput(host, chosen, {});
        return flight;
    });
}

std::vector<host::LintFinding> Scene::lint(const std::string& iterator, host::LintOptions options,
                                           const LevelChoice& choice) {
    const std::shared_ptr<const host::LevelGeometry> level = levelFor(choice);
    options.level = level.get();
    return sceneHost_.run([&](Host& host) {
        if (!iterator.empty()) options.iterator = iteratorNamed(host, iterator);
        return host::lintScene(host, options);
    });
}

std::string Scene::toJson() {
    return sceneHost_.run([&](Host& host) { return host::sceneToJson(host, level_); });
}

void Scene::save(const std::string& path) {
    sceneHost_.run([&](Host& host) { host::writeScoFile(host, path, level_); });
}

void Scene::exportGltf(const std::string& path, const std::string& iterator, const host::FlightOptions& options,
                       const LevelChoice& choice, bool withLevel) {
    if (!host::gltfContainerOf(path)) throw std::invalid_argument("the export must be a .gltf or .glb file: " + path);
    const std::shared_ptr<const host::LevelGeometry> level = withLevel ? levelFor(choice) : nullptr;
    if (withLevel && !level)
        throw InputError(file_, "", "", "with_level: there is no level (the scene names none; give level=FILE)");
    sceneHost_.run([&](Host& host) {
        const Handle chosen = iteratorNamed(host, iterator);
        try {
            const host::FlightRecording flight = host::recordFlight(host, chosen, options);
            host::writeGltfFile(host, chosen, options, flight, path, level ? &level->mesh() : nullptr);
        } catch (const std::invalid_argument& error) {
            // As camsys export: a flight that cannot be animated is a matter of the input.
            throw InputError(file_, host.nameOf(chosen), "", error.what());
        }
    });
}

std::pair<std::unique_ptr<Scene>, host::PathFitResult> fitPath(const std::vector<host::RecordedEye>& samples,
                                                               const host::PathFitOptions& options) {
    host::PathFitResult result;
    {
        SceneHost fitting;
        fitting.run([&](Host& host) {
            host.createCamera("", true);
            result = host::fitPathToRecording(host, samples, options);
        });
    }
    std::unique_ptr<Scene> scene = Scene::fromJson(result.sceneJson, "fit");
    return {std::move(scene), std::move(result)};
}

}  // namespace pycamsys
