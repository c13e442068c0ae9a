"""An orbit generated around a target, then linted: a path of waypoints on a circle, all aimed at
the target, written as a scene file.

    PYTHONPATH=build/python python3 examples/python/orbit.py OUT.json [--radius R] [--height H] [--level FILE]
"""
import argparse
import json
import math
import sys

import camsys


def orbit_scene(target, radius, height, waypoints, seconds):
    """The scene: the target, a closed circle of waypoints aimed at it, and an iterator."""
    step = round(1000 * seconds / waypoints)
    children = []
    for k in range(waypoints + 1):  # the last closes the circle on the first
        angle = 2 * math.pi * k / waypoints
        children.append({"name": "O%d" % k, "class": "SCOCameraSystemWaypoint",
                         "position": [target[0] + radius * math.cos(angle), target[1] + radius * math.sin(angle),
                                      target[2] + height],
                         "attributes": {"PointsTo": "Target", "Time2Next": step}})
    return json.dumps({"objects": [
        {"name": "Target", "position": list(target)},
        {"name": "Orbit", "class": "SCOCameraSystemPath", "children": children},
        {"name": "Cam", "class": "SCOCameraSystemIterator", "attributes": {"Path": "Orbit"}}]}, indent=1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("--radius", type=float, default=30)
    parser.add_argument("--height", type=float, default=12)
    parser.add_argument("--waypoints", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=12)
    parser.add_argument("--level", help="a level (.glb) to check the flight against, e.g. examples/town.glb")
    args = parser.parse_args()
    scene = camsys.Scene.from_json(orbit_scene((40, 120, 15), args.radius, args.height, args.waypoints, args.seconds),
                                   args.output)
    findings = scene.lint(level=args.level)
    for f in findings:
        print("%s: %s: %s: %s" % (args.output, f.object, f.id, f.text))
    with open(args.output, "w") as out:
        out.write(scene.to_json())
    flight = scene.fly()
    print("%s: %d waypoints, %d ticks, %d findings" % (args.output, args.waypoints + 1, len(flight), len(findings)))
    return 1 if any(f.severity != "info" for f in findings) else 0


if __name__ == "__main__":
    sys.exit(main())
