"""The module gives what the camsys tool gives, to the bit: flights, checks, files, the fit."""
import json

import numpy as np
import pytest

import camsys
from conftest import FLYTHROUGH, MINIMAL, tool


def csv_columns(text):
    """fly's CSV as (time, waypoint, the 13 float columns as float32 bits)."""
    rows = np.array([line.split(",") for line in text.strip().split("\n")[1:]])
    return rows[:, 0].astype(np.uint32), rows[:, 1].astype(np.uint32), rows[:, 2:].astype(np.float32).view(np.uint32)


@pytest.mark.parametrize("scene_file,iterator,start,step", [
    (FLYTHROUGH, "Cam", 0, 16), (FLYTHROUGH, "Chase", 100, 7), (MINIMAL, None, 4294967000, 33)])
def test_flight_is_fly_csv(tmp_path, scene_file, iterator, start, step):
    out = tmp_path / "fly.csv"
    args = ["fly", scene_file, "--start", str(start), "--step", str(step), "-o", str(out)]
    status, _, stderr = tool(*(args + (["--iterator", iterator] if iterator else [])))
    assert status == 0
    flight = camsys.Scene.load(scene_file).fly(iterator, start=start, step=step)
    assert flight.to_csv() == out.read_text()
    time, waypoint, floats = csv_columns(out.read_text())
    assert np.array_equal(flight.time, time) and np.array_equal(flight.waypoint, waypoint)
    mine = np.concatenate([flight.eye, flight.axes.reshape(-1, 9), flight.fov[:, None]], axis=1)
    assert np.array_equal(mine.view(np.uint32), floats)
    events = "".join("%d,%s,%s\n" % e for e in flight.events)
    assert events == stderr.decode()
    assert not flight.eye.flags.writeable and flight.eye.base is not None  # a view, not a copy


def test_lint_is_lint_json():
    status, out, _ = tool("lint", FLYTHROUGH, "--json", "--acceleration", "150")
    expected = json.loads(out)
    findings = camsys.Scene.load(FLYTHROUGH).lint(acceleration=150)
    assert status == 1 and len(findings) == len(expected) > 0
    for mine, theirs in zip(findings, expected):
        assert all(getattr(mine, k) == theirs[k] for k in ("id", "severity", "object", "time", "text", "hint")), theirs
        assert mine.distance == theirs["distance"] or abs(mine.distance - theirs["distance"]) <= 1e-6 * abs(mine.distance)
    assert camsys.Scene.load(MINIMAL).lint() == []


def test_files_are_the_tools(tmp_path):
    scene = camsys.Scene.load(FLYTHROUGH)
    assert scene.to_json().encode() == tool("load", FLYTHROUGH)[1]
    scene.save(str(tmp_path / "mine.sco"))
    tool("save", FLYTHROUGH, str(tmp_path / "theirs.sco"))
    assert (tmp_path / "mine.sco").read_bytes() == (tmp_path / "theirs.sco").read_bytes()
    scene.export(str(tmp_path / "mine.glb"), "Cam", with_level=True)
    tool("export", FLYTHROUGH, "--iterator", "Cam", "--with-level", "-o", str(tmp_path / "theirs.glb"))
    assert (tmp_path / "mine.glb").read_bytes() == (tmp_path / "theirs.glb").read_bytes()
    assert camsys.Scene.new().to_json().encode() == tool("new", "-")[1]


def test_fit_path_is_import(tmp_path):
    flight = camsys.Scene.load(FLYTHROUGH).fly("Cam")
    (tmp_path / "rec.csv").write_text(flight.to_csv())
    status, expected, _ = tool("import", str(tmp_path / "rec.csv"))
    scene, report = camsys.fit_path(flight.time, flight.eye, flight.axes, flight.fov, report=True)
    assert status == 0 and scene.to_json().encode() == expected
    assert report["within_tolerance"] and report["waypoints"] == 54


def test_analysis_measures_the_eye():
    flight = camsys.Scene.load(MINIMAL).fly()
    analysis = flight.analysis()
    eye = flight.eye.astype(np.float64)
    # Independent of the library: the distance between ticks over the step, in units a second.
    speed = np.linalg.norm(np.diff(eye, axis=0), axis=1) / (flight.step / 1000.0)
    assert len(analysis) == len(flight) and np.isnan(analysis.speed[0])
    assert np.allclose(analysis.speed[1:], speed, rtol=1e-9, atol=1e-9)
    assert analysis.marks[0][0] == "waypoint"


def test_analysis_is_profile_csv(tmp_path):
    status, _, _ = tool("profile", FLYTHROUGH, "--iterator", "Chase", "-o", str(tmp_path / "p.svg"), "--csv", str(tmp_path / "p.csv"))
    rows = [line.split(",") for line in (tmp_path / "p.csv").read_text().strip().split("\n")]
    scene = camsys.Scene.load(FLYTHROUGH)
    analysis = scene.fly("Chase").analysis(level=scene.level)
    assert status == 0 and len(rows) - 1 == len(analysis)
    for k, column in enumerate(rows[0][2:], start=2):
        expected = np.array([float(r[k]) if r[k] else np.nan for r in rows[1:]])
        assert np.array_equal(getattr(analysis, column), expected, equal_nan=True), column


def test_examples_run(tmp_path):
    import os
    import subprocess
    import sys
    folder = os.path.join(os.path.dirname(FLYTHROUGH), "python")
    run = lambda *a: subprocess.run([sys.executable, os.path.join(folder, a[0]), *a[1:]], capture_output=True)
    assert run("orbit.py", str(tmp_path / "orbit.json")).returncode == 0
    assert camsys.Scene.load(str(tmp_path / "orbit.json")).lint() == []
    compared = run("compare.py", FLYTHROUGH, str(tmp_path / "orbit.json"), "--iterator", "Cam")
    assert compared.returncode == 0 and b"largest eye deviation" in compared.stdout
    assert run("profile_plot.py", FLYTHROUGH, str(tmp_path / "p.png"), "--iterator", "Cam").returncode == 0
    assert (tmp_path / "p.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
