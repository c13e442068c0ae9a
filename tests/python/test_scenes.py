"""Edits through the editor, mistakes, and several scenes at once, also in threads."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import camsys
from conftest import FLYTHROUGH, MINIMAL, tool


def same_flight(a, b):
    return all(np.array_equal(getattr(a, c), getattr(b, c)) for c in ("time", "waypoint", "eye", "axes", "fov"))


def test_edits_equal_a_fresh_load(tmp_path):
    scene = camsys.Scene.load(FLYTHROUGH)
    original = scene.to_json()
    w1 = scene["W1"]
    w1["Range"] = 25.0
    w1.position = (60, 20, 12.5)
    scene.edit({"W2": {"attributes": {"Roll": 15.0, "EaseIn": True}}, "W3": {"position": (1, 2, 3)}})
    assert w1["Range"] == 25.0 and w1.position == (60.0, 20.0, 12.5) and scene["W2"]["EaseIn"] is True
    made = scene.add("SCOCameraSystemWaypoint", parent="Flight", index=4, position=(75, 30, 14),
                     attributes={"Time2Next": 700, "PointsTo": "Statue"})
    assert made.name == "Waypoint1" and made["Time2Next"] == 700
    assert [o.name for o in scene.objects if o.parent == "Flight"][4] == "Waypoint1"
    assert sorted(scene.remove("Balloon")) == [("Chase", "MovingDestination", "Balloon"), ("W4", "PointsTo", "Balloon")]
    assert "Balloon" not in scene
    edited = scene.to_json()
    scene.save(str(tmp_path / "edited.sco"))
    fresh = camsys.Scene.load(str(tmp_path / "edited.sco"))
    assert fresh.to_json() == edited
    assert same_flight(scene.fly("Cam"), fresh.fly("Cam"))
    (tmp_path / "edited.json").write_text(edited)
    assert scene.fly("Chase").to_csv().encode() == tool("fly", str(tmp_path / "edited.json"), "--iterator", "Chase")[1]
    assert all(scene.undo() for _ in range(5)) and not scene.undo()
    assert scene.to_json() == original
    assert scene.redo() and scene["W1"]["Range"] == 25.0


def test_mistakes_raise_the_tools_message_and_change_nothing(tmp_path):
    bad = open(FLYTHROUGH).read().replace('"Range": 30', '"Range": 1e39', 1)
    assert bad != open(FLYTHROUGH).read()
    (tmp_path / "bad.json").write_text(bad)
    status, _, stderr = tool("fly", str(tmp_path / "bad.json"), "--iterator", "Cam")
    with pytest.raises(camsys.InputError) as error:
        camsys.Scene.load(str(tmp_path / "bad.json"))
    assert status == 2 and stderr.decode() == "camsys: %s\n" % error.value
    with pytest.raises(camsys.InputError) as error:
        camsys.Scene.load(str(tmp_path / "missing.json"))
    assert tool("load", str(tmp_path / "missing.json"))[2].decode() == "camsys: %s\n" % error.value

    scene = camsys.Scene.load(FLYTHROUGH)
    before = scene.to_json()
    for edit in (lambda: scene["W1"].__setitem__("Range", "far"),
                 lambda: scene["W1"].__setitem__("NoSuchAttribute", 1.0),
                 lambda: scene["W1"].update({"Roll": 5.0, "Time2Next": -1}),
                 lambda: scene["W1"].__setitem__("Range", 1e39),
                 lambda: setattr(scene["W2"], "position", (float("nan"), 0, 0)),
                 lambda: scene.edit({"W1": {"attributes": {"Roll": 5.0}}, "W2": {"attributes": {"PointsTo": "Nobody"}}})):
        with pytest.raises(camsys.InputError, match=r"^W[12]: "):
            edit()
        assert scene.to_json() == before
    for make, words in ((lambda: scene.add("SCOCameraSystemWaypoint", "W1", parent="Flight"), "is used by another"),
                        (lambda: scene.add("SCOCameraSystemWaypoint", parent="Flight", attributes={"Time2Next": -5}),
                         "Time2Next"),
                        (lambda: scene.add(parent="Nowhere"), "Nowhere"),
                        (lambda: scene.remove("Nobody"), "Nobody")):
        with pytest.raises(camsys.InputError, match=words):
            make()
        assert scene.to_json() == before
    assert not scene.undo()
    with pytest.raises(camsys.InputError, match="the scene has 2 iterators"):
        scene.fly()
    with pytest.raises(KeyError):
        scene["Nobody"]


def test_scenes_side_by_side():
    first = camsys.Scene.load(FLYTHROUGH)
    alone = first.fly("Cam")
    second = camsys.Scene.load(MINIMAL)
    third = camsys.Scene.from_json(first.to_json())
    third["W1"]["Range"] = 5.0
    assert same_flight(first.fly("Cam"), alone) and not same_flight(third.fly("Cam"), alone)
    minimal = second.fly()
    del first
    assert same_flight(second.fly(), minimal) and same_flight(camsys.Scene.load(FLYTHROUGH).fly("Cam"), alone)
    assert [o.name for o in second.objects] == [o.name for o in camsys.Scene.load(MINIMAL).objects]


def test_threads_fly_and_check_as_one_thread_does():
    def work(scene):
        return [scene.fly(name) for name in ("Cam", "Chase")] if "Chase" in scene else [scene.fly()]

    scenes = [camsys.Scene.load(f) for f in (FLYTHROUGH, MINIMAL, FLYTHROUGH, MINIMAL)]
    scenes[2]["W2"].position = (10, 10, 10)
    expected = [work(s) for s in scenes]
    findings = [s.lint() for s in scenes]

    def run(k):
        for _ in range(5):
            result = (work(scenes[k]), scenes[k].lint(), work(camsys.Scene.load(MINIMAL)))
        return result

    with ThreadPoolExecutor(4) as pool:  # a thread's exception comes out of map
        results = list(pool.map(run, range(4)))
    for k, (flights, lint, fresh) in enumerate(results):
        assert all(same_flight(a, b) for a, b in zip(flights, expected[k])) and lint == findings[k]
        assert same_flight(fresh[0], expected[1][0])


def test_stubs_name_what_the_module_has():
    import ast
    import os
    stubs = ast.parse(open(os.path.join(os.path.dirname(camsys.__file__), "__init__.pyi")).read())
    for node in stubs.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            assert hasattr(camsys, node.name), node.name
        if isinstance(node, ast.ClassDef) and node.name not in ("ObjectInfo", "Finding", "InputError"):
            members = {n.name for n in node.body if isinstance(n, ast.FunctionDef)} | \
                      {n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
            public = {m for m in dir(getattr(camsys, node.name)) if not m.startswith("_")}
            if node.name == "SceneObject":
                public |= {"scene", "name"}
            assert public == {m for m in members if not m.startswith("_")}, node.name
