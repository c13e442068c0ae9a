"""Two versions of a flight compared: the largest distance between their eyes, and where.

    PYTHONPATH=build/python python3 examples/python/compare.py OLD NEW [--iterator NAME]

Both are flown as `camsys fly` flies them; ticks are matched by their clock time.
"""
import argparse

import numpy as np

import camsys


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--iterator")
    args = parser.parse_args()
    old, new = (camsys.Scene.load(f).fly(args.iterator) for f in (args.old, args.new))
    times, at_old, at_new = np.intersect1d(old.time, new.time, assume_unique=True, return_indices=True)
    if len(times) == 0:
        print("no tick in common")
        return 1
    distance = np.linalg.norm(old.eye[at_old].astype(np.float64) - new.eye[at_new], axis=1)
    # The angle between the view directions (the axes' second column, forward).
    forward_old, forward_new = old.axes[at_old][:, :, 1], new.axes[at_new][:, :, 1]
    cosine = np.sum(forward_old * forward_new, axis=1) / (
        np.linalg.norm(forward_old, axis=1) * np.linalg.norm(forward_new, axis=1))
    angle = np.degrees(np.arccos(np.clip(cosine, -1, 1)))
    worst = int(np.argmax(distance))
    print("ticks: %d and %d, %d at the same times" % (len(old), len(new), len(times)))
    print("largest eye deviation: %.6g units at time %d (waypoint %d in the old flight, %d in the new)"
          % (distance[worst], times[worst], old.waypoint[at_old[worst]], new.waypoint[at_new[worst]]))
    print("largest view deviation: %.6g degrees at time %d" % (angle.max(), times[int(np.argmax(angle))]))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
