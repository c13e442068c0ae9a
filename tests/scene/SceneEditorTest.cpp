// The scene editor: each change one labelled undo step, a drag's steps one step, and a change an
// object refuses half way leaves nothing of itself behind. (Undo and redo of every kind of change,
// back to every byte, through the studio: tests/studio.)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "framework/IClassStorage.h"
#include "framework/RtsObject.h"
#include "framework/RtsObjectFactory.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneEditor.h"
#include "scene/ScoFile.h"
#include "tests/scene/Refusal.h"

using host::EditEffect;
using host::Host;
using host::InputError;
using host::SceneEditor;

namespace {

/// A class whose "Limit" refuses negative values: the one way to see an object say no.
class Picky final : public RtsObject {
public:
    using RtsObject::RtsObject;
    bool QueryInterface(ULong id, void** out) override { return BaseQueryInterface(id, out); }
    void ReleaseInterface() override { BaseReleaseInterface(); }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        const Attribute table[] = {
            MakeAttribute("Level", kTypeFloat, true, true, true, &getLevel, &setLevel),
            MakeAttribute("Limit", kTypeFloat, true, true, true, &getLimit, &setLimit),
            Attribute{},
        };
        return DescribeAttribute(table, 2, "Picky", index, attr, className, includeParents);
    }
    int Serialize(IClassStorage* storage) override {
        if (storage->IsLoading()) {
            storage->LoadFloat(&level_).LoadFloat(&limit_);
        } else {
            storage->StoreFloat(level_).StoreFloat(limit_);
        }
        return RtsObject::Serialize(storage);
    }

private:
    static Picky* picky(RtsObject* o) { return static_cast<Picky*>(o); }
    static bool getLevel(RtsObject* o, void* v) { return CopyAttributeOut(v, picky(o)->level_); }
    static bool setLevel(RtsObject* o, void* v) { return CopyAttributeIn(picky(o)->level_, v); }
    static bool getLimit(RtsObject* o, void* v) { return CopyAttributeOut(v, picky(o)->limit_); }
    static bool setLimit(RtsObject* o, void* v) {
        float value;
        std::memcpy(&value, v, sizeof value);
        return !(value < 0) && CopyAttributeIn(picky(o)->limit_, v);
    }

    float level_ = 0;
    float limit_ = 0;
};

class PickyFactory final : public RtsObjectFactory {
public:
    PickyFactory() { SetClassName("Picky"); }
    RtsObject* New(const CGUID& guid, const CGUID& second, ISCODescriptor* descriptor) override {
        return new Picky(guid, second, descriptor);
    }
    _GUID GetClassGUID() const override { return {0x7E57C1A5, 1, 2, {'P', 'I', 'C', 'K', 'Y', 0, 0, 0}}; }
};

/// The plug-in's factories and Picky's.
RtsObjectFactory** factoriesWithPicky() {
    static PickyFactory picky;
    static RtsObjectFactory* factories[] = {GetObjectFactories()[0], GetObjectFactories()[1], GetObjectFactories()[2],
                                            &picky, nullptr};
    return factories;
}

const char* const kScene = R"({ "objects": [
  { "name": "Tower", "position": [40, 120, 15] },
  { "name": "Flight", "class": "SCOCameraSystemPath", "children": [
      { "name": "W0", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 10],
        "attributes": { "PointsTo": "Tower", "Time2Next": 2000 } },
      { "name": "W1", "class": "SCOCameraSystemWaypoint", "position": [60, 20, 12] },
      { "name": "W2", "class": "SCOCameraSystemWaypoint", "position": [90, 40, 12] } ] },
  { "name": "Cam", "class": "SCOCameraSystemIterator", "attributes": { "Path": "Flight" } },
  { "name": "P", "class": "Picky", "position": [1, 2, 3], "attributes": { "Level": 1, "Limit": 2 } } ] })";

class SceneEditorTest : public testing::Test {
protected:
    SceneEditorTest() { host::loadJsonScene(host, kScene, "scene.json"); }

    /// The scene, both ways it is written: the .sco image holds every object's own record.
    struct Snapshot {
        std::vector<std::uint8_t> image;
        std::string json;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() { return {host::sceneToScoImage(host), host::sceneToJson(host)}; }
    Handle find(const char* name) const { return host.find(name); }

    Host host{&SetIRTS, &factoriesWithPicky};
    SceneEditor editor{host};
};

TEST_F(SceneEditorTest, ADragsStepsAreOneUndoStep) {
    // (That one undo takes back the whole drag, to every byte: tests/studio.)
    const Handle w1 = find("W1");
    std::uint64_t revision = editor.revision();
    for (float x : {61.0f, 62.0f, 63.0f}) {
        const std::string json = R"({"position": [)" + std::to_string(x) + R"(, 20, 12]})";
        EXPECT_EQ(editor.edit(w1, json, {}, "drag-1"), EditEffect::WaypointPositions);
        EXPECT_GT(editor.revision(), revision) << "every step is a new scene";
        revision = editor.revision();
    }
    EXPECT_EQ(editor.undoLabels(), std::vector<std::string>{"move W1"});
    const Snapshot dragged = snapshot();

    // A step taken back and done again is no drag that the same gesture continues.
    ASSERT_TRUE(editor.undo());
    ASSERT_TRUE(editor.redo());
    editor.edit(w1, R"({"position": [64, 20, 12]})", {}, "drag-1");
    EXPECT_EQ(editor.undoLabels(), (std::vector<std::string>{"move W1", "move W1"}));
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(snapshot(), dragged);

    // Another gesture, or the same gesture name on another object, starts a step of its own;
    // so does a step that changes more than the position.
    editor.edit(w1, R"({"position": [64, 20, 12]})", {}, "drag-2");
    editor.edit(find("W0"), R"({"position": [1, 0, 10]})", {}, "drag-2");
    editor.edit(find("W0"), R"({"position": [2, 0, 10], "attributes": {"Time2Next": 1}})", {}, "drag-2");
    // Three steps, then: three undos lead back to the drag's end, not past it.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(editor.undo());
    EXPECT_EQ(snapshot(), dragged);
}

TEST_F(SceneEditorTest, AValueRefusedHalfWayLeavesNothingOfTheChange) {
    const Snapshot before = snapshot();
    const std::uint64_t revision = editor.revision();
    auto refused = [&](auto change) {
        const InputError error = refusal(change);
        EXPECT_EQ(error.attribute(), "Limit");
        EXPECT_NE(error.reason().find("refused"), std::string::npos) << error.reason();
    };
    // The position and "Level" are set before "Limit" is refused.
    refused([&] {
        editor.edit(find("P"), R"({"position": [9, 9, 9], "attributes": {"Level": 5, "Limit": -1}})", {}, "drag");
    });
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(*host.getFloat(find("P"), "Level"), 1.0f);
    // A refused drag step neither joins nor starts a step.
    refused([&] { editor.edit(find("P"), R"({"position": [8, 8, 8], "attributes": {"Limit": -2}})", {}, "drag"); });
    // A new object whose values are refused is not left in the scene.
    refused([&] { editor.create("Picky", "Q", Handle(), 0, R"({"attributes": {"Level": 3, "Limit": -1}})", {}); });
    EXPECT_TRUE(find("Q").IsNull());

    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(editor.revision(), revision);
    EXPECT_TRUE(editor.undoLabels().empty());
    // The values the object takes still go in.
    editor.edit(find("P"), R"({"attributes": {"Level": 5, "Limit": 0}})", {});
    EXPECT_EQ(*host.getFloat(find("P"), "Level"), 5.0f);
}

TEST_F(SceneEditorTest, UndoLabelsNameTheChangeTheAttributeAndItsValues) {
    // Each kind of change is one step with its label. (Undo and redo of each kind back to every
    // byte: tests/studio, StudioEditTest.) An edit of an object and its label:
    const std::tuple<const char*, const char*, const char*> edits[] = {
        {"W1", R"({"attributes": {"Roll": 40}})", "W1 Roll 0 -> 40"},
        {"W1", R"({"attributes": {"Roll": 0.1}})", "W1 Roll 40 -> 0.1"},
        {"W1", R"({"attributes": {"FOVFac": "NaN"}})", "W1 FOVFac 1 -> NaN"},
        {"W1", R"({"attributes": {"EaseIn": true}})", "W1 EaseIn false -> true"},
        {"W1", R"({"attributes": {"PauseTime": 4294967295}})", "W1 PauseTime 0 -> 4294967295"},
        {"W0", R"({"attributes": {"PointsTo": null}})", "W0 PointsTo Tower -> none"},
        {"W0", R"({"position": [5, 6.25, -7]})", "W0 position (0, 0, 10) -> (5, 6.25, -7)"},
        {"W0", R"({"position": [5, 6, 7], "attributes": {"Time2Next": 500}})", "W0 position, Time2Next"},
        {"W1", R"({"orientation": [0, 1, 0, -1, 0, 0, 0, 0, 1]})", "rotate W1"},
        {"W1", R"({"attributes": {"Roll": -0.5, "FOVFac": 2}})", "W1 Roll, FOVFac"}};
    std::vector<std::string> labels;
    for (const auto& [object, json, label] : edits) {
        editor.edit(find(object), json, {});
        labels.push_back(label);
    }
    const Handle w0 = find("W0");
    editor.edit(find("W1"), "{}", {}, {}, std::string("Start"));
    editor.edit(find("Cam"), R"({"attributes": {"Path": null}})", {}, {}, std::string("Camera"));
    editor.create("SCOCameraSystemWaypoint", "W3", find("Flight"), 1, R"({"position": [1, 1, 1]})", {});
    editor.move(find("W2"), find("Flight"), 0);
    editor.remove(find("Tower"));
    editor.edit(w0, R"({"position": [1, 1, 1]})", {}, "drag-1");
    labels.insert(labels.end(),
                  {"rename W1 -> Start", "Cam name, Path", "add W3", "reorder W2", "delete Tower", "move W0"});
    EXPECT_EQ(editor.undoLabels(), labels);
    // Undo and redo keep the labels, and the scene states: back at a scene is that scene again.
    const std::uint64_t end = editor.sceneState();
    ASSERT_TRUE(editor.undo());
    const std::uint64_t beforeDrag = editor.sceneState();
    EXPECT_NE(beforeDrag, end);
    EXPECT_EQ(editor.redoLabels(), std::vector<std::string>{"move W0"});
    ASSERT_TRUE(editor.redo());
    EXPECT_EQ(editor.sceneState(), end);
    ASSERT_TRUE(editor.undo());
    editor.edit(w0, R"({"position": [1, 1, 1]})", {});
    EXPECT_NE(editor.sceneState(), end) << "the same edit made anew is a new scene state";
    EXPECT_NE(editor.sceneState(), beforeDrag);
}

TEST_F(SceneEditorTest, RefusedRotationsNamesAndDeletionsSayWhy) {
    const Snapshot before = snapshot();
    auto reason = [&](auto change) { return std::string(refusal(change).what()); };
    // W0 looks at Tower: a refit sets its rotation, so a rotation is refused, not lost.
    const char* turn = R"({"orientation": [0, 1, 0, -1, 0, 0, 0, 0, 1]})";
    EXPECT_EQ(reason([&] { editor.edit(find("W0"), turn, {}); }),
              "W0: looks at Tower: its rotation follows the target; clear PointsTo to rotate it");
    EXPECT_EQ(reason([&] { editor.edit(find("W0"), turn, {}, "drag-1"); }).substr(0, 20), "W0: looks at Tower: ");
    EXPECT_EQ(reason([&] { editor.edit(find("W1"), "{}", {}, {}, std::string(129, 'n')); }),
              "W1: name: a name has at most 128 bytes; this one has 129");
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(editor.undoLabels().empty());
    EXPECT_EQ(editor.revision(), 0u);

    // Without the target the rotation stands.
    editor.edit(find("W0"), R"({"attributes": {"PointsTo": null}})", {});
    editor.edit(find("W0"), turn, {});
    EXPECT_EQ(host.getObjectPos(find("W0"))->Orientation.m[0][1], 1.0f);
    editor.edit(find("W1"), "{}", {}, {}, std::string(128, 'n'));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(editor.undo());

    // Deleting clears what referred to the object. (Which references it names: tests/studio.)
    EXPECT_EQ(editor.remove(find("Tower")).size(), 1u);
    EXPECT_EQ(host.getReference(find("W0"), "PointsTo"), Handle());
    // Deleting a path clears what referred to its waypoints too.
    editor.edit(find("Cam"), R"({"attributes": {"MovingDestination": "W1"}})", {});
    EXPECT_EQ(editor.remove(find("Flight")).size(), 2u);  // Cam's Path and MovingDestination
    EXPECT_EQ(host.getReference(find("Cam"), "MovingDestination"), Handle());
}

}  // namespace
