"""How fast the module flies against `camsys fly`, and what several scenes cost.

    PYTHONPATH=build/python python3 bench/python-fly-bench.py build/cli/camsys

Builds a path of 200 waypoints flown in 100,000 ticks, flies it with the module and with
camsys (CSV to /dev/null), checks both give the same rows, then times loading scenes and four
threads flying four scenes against one thread flying them in turn. Prints medians of 5 runs.
"""
import json
import math
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import camsys


def long_scene(waypoints=200, ticks=100000, step=16):
    """A helix of waypoints whose flight takes `ticks` ticks."""
    each = ticks * step // (waypoints - 1)
    children = [{"name": "W%d" % k, "class": "SCOCameraSystemWaypoint",
                 "position": [40 * math.cos(k / 5), 40 * math.sin(k / 5), 10 + k / 4],
                 "attributes": {"Time2Next": each}} for k in range(waypoints)]
    return json.dumps({"objects": [
        {"name": "Path", "class": "SCOCameraSystemPath", "children": children},
        {"name": "Cam", "class": "SCOCameraSystemIterator", "attributes": {"Path": "Path"}}]})


def cpu_seconds():
    """CPU time of this process and of its finished children."""
    me, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    return me.ru_utime + me.ru_stime + children.ru_utime + children.ru_stime


def median_time(work, runs=5):
    """Median wall and CPU seconds of `work` (CPU: a busy shared machine stretches wall time)."""
    walls, cpus = [], []
    for _ in range(runs):
        wall, cpu = time.perf_counter(), cpu_seconds()
        work()
        walls.append(time.perf_counter() - wall)
        cpus.append(cpu_seconds() - cpu)
    return statistics.median(walls), statistics.median(cpus)


def main(tool):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "long.json")
        with open(path, "w") as f:
            f.write(long_scene())
        scene = camsys.Scene.load(path)
        flight = scene.fly()
        rows = subprocess.run([tool, "fly", path], capture_output=True, check=True).stdout
        assert flight.to_csv().encode() == rows, "the module's flight differs from camsys fly's"
        print("ticks: %d" % len(flight))
        def fly_tool():
            subprocess.run([tool, "fly", path, "-o", "/dev/null"], check=True, stderr=subprocess.DEVNULL)
        for label, work in (("module fly", scene.fly), ("module fly + to_csv", lambda: scene.fly().to_csv()),
                            ("camsys fly -o /dev/null (a process: loading and CSV included)", fly_tool)):
            print("%s: %.3f s wall, %.3f s CPU" % ((label,) + median_time(work)))
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "flythrough.json")
        held = []
        print("Scene.new() with a new copy of the plug-in: %.2f ms" %
              (1000 * median_time(lambda: held.append(camsys.Scene.new()), 20)[0]))
        print("Scene.new() reusing a copy: %.3f ms" % (1000 * median_time(camsys.Scene.new, 50)[0]))
        print("Scene.load(flythrough.json): %.3f ms" % (1000 * median_time(lambda: camsys.Scene.load(example), 50)[0]))
        scenes = [camsys.Scene.load(path) for _ in range(4)]

        def threaded():
            threads = [threading.Thread(target=s.fly) for s in scenes]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        one = median_time(lambda: [s.fly() for s in scenes], 3)
        four = median_time(threaded, 3)
        print("4 flights in one thread: %.3f s wall, %.3f s CPU; in 4 threads: %.3f s wall, %.3f s CPU (%d cores)"
              % (one + four + (os.cpu_count(),)))

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build/cli/camsys")
