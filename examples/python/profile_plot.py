"""A flight's profile plotted with matplotlib: speed, acceleration and the view's turn over time,
with the waypoints reached and the cuts marked.

    PYTHONPATH=build/python python3 examples/python/profile_plot.py SCENE OUT.png [--iterator NAME]
"""
import argparse

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import camsys  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("scene")
    parser.add_argument("output")
    parser.add_argument("--iterator")
    args = parser.parse_args()
    scene = camsys.Scene.load(args.scene)
    flight = scene.fly(args.iterator)
    analysis = flight.analysis(level=scene.level)
    seconds = (flight.time - flight.time[0]) / 1000.0
    panels = [("speed", "units/s"), ("acceleration", "units/s²"), ("angular_rate", "degrees/s")]
    if scene.level:
        panels.append(("clearance", "units"))
    figure, axes = plt.subplots(len(panels), 1, sharex=True, figsize=(10, 2.2 * len(panels)))
    for axis, (name, unit) in zip(axes, panels):
        axis.plot(seconds, getattr(analysis, name), linewidth=1)
        axis.set_ylabel("%s\n(%s)" % (name.replace("_", " "), unit))
        for kind, time, end, _ in analysis.marks:
            x = (time - flight.time[0]) / 1000.0
            if kind == "pause":
                axis.axvspan(x, (end - flight.time[0]) / 1000.0, color="0.9")
            else:
                axis.axvline(x, color="red" if kind == "cut" else "0.6", linewidth=0.6)
    axes[-1].set_xlabel("seconds since the first tick")
    figure.suptitle("%s: %s" % (args.scene, flight.iterator))
    figure.tight_layout()
    figure.savefig(args.output, dpi=100)
    print("%s: %d ticks" % (args.output, len(flight)))


if __name__ == "__main__":
    main()
