#!/usr/bin/env python3
"""Start-up phase by phase, from a measure.sh output folder whose commands ran
with tools/firstpaint.c preloaded (measure-startup.sh does so):

    bench/startup-phases.py /tmp/perf/measure.XXXXXX

For each label, the medians over its recorded runs, in ms: launch to
QApplication, QApplication's construction, from there to the first map
request (the window built and shown), the window manager's map, and the first
paint after the map."""
import pathlib
import statistics
import sys

PHASES = ("to QApplication", "QApplication", "window built and shown", "window manager",
          "first paint after map", "mapped")


def run_phases(folder):
    watch = (folder / "watch.txt").read_text(errors="replace").split("\n")
    log = (folder / "app.log").read_text(errors="replace").split("\n")
    launch = mapped = None
    for line in watch:
        parts = line.split()
        if parts[:1] == ["LAUNCH"]:
            launch = int(parts[1]) / 1e6
        elif parts[:1] == ["MAPPED"]:
            mapped = int(parts[1]) / 1e6
    stamps = {}
    for line in watch + log:
        parts = line.split()
        if len(parts) == 3 and parts[0] == "STAMP":
            stamps.setdefault(parts[1], float(parts[2]))
        elif len(parts) == 2 and parts[0] == "FIRST_PAINT":
            stamps.setdefault("paint", float(parts[1]))
    needed = ("qapp_begin", "qapp_done", "map_window", "paint")
    if launch is None or mapped is None or any(key not in stamps for key in needed):
        return None
    return (stamps["qapp_begin"] - launch, stamps["qapp_done"] - stamps["qapp_begin"],
            stamps["map_window"] - stamps["qapp_done"], mapped - stamps["map_window"],
            stamps["paint"] - mapped, mapped - launch)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    runs = pathlib.Path(sys.argv[1]) / "runs"
    by_label = {}
    for folder in sorted(runs.iterdir()):
        label, _, run = folder.name.rpartition("-")
        if run.startswith("warmup"):
            continue
        phases = run_phases(folder)
        if phases:
            by_label.setdefault(label, []).append(phases)
    print("%-14s %5s " % ("label", "runs") + " ".join("%22s" % name for name in PHASES))
    for label, rows in by_label.items():
        medians = [statistics.median(column) for column in zip(*rows)]
        print("%-14s %5d " % (label, len(rows)) + " ".join("%22.1f" % m for m in medians))


if __name__ == "__main__":
    main()
