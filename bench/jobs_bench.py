#!/usr/bin/env python3
"""Wall time and peak memory of the photo pipelines with --jobs 1 and --jobs 2.

Times the whole `velmora samples` over the LFW folder and `velmora evaluate lfw` on its
pairs_dev.txt with the default model, each run under /usr/bin/time -v (Debian package `time`),
the --jobs values taking turns in every round. Reports per command and --jobs value the min and
median wall time, the largest peak resident memory and the load average (1 minute) before each
run, and checks that the outputs of every run equal the first run's byte for byte: samples' three
files and its report; evaluate's CSV of every pair's score and its report without the timing.
Exits 1 when they differ.

    /usr/bin/python3 bench/jobs_bench.py [--tool build/tools/velmora/velmora] [--data ../shared/data]
                                         [--lfw DIR] [--pairs FILE] [--work /tmp/velmora-jobs]
                                         [--jobs 1,2] [--rounds 3]
"""
import argparse
import hashlib
import os
import re
import statistics
import subprocess
import sys


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def timed(command):
    """Runs the command under /usr/bin/time -v: (wall seconds, peak KB, stdout)."""
    run = subprocess.run(["/usr/bin/time", "-v"] + command, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"jobs_bench.py: {' '.join(command)} failed ({run.returncode}):\n{run.stderr[-2000:]}")
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+)", run.stderr)
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
    seconds = int(wall.group(1) or 0) * 3600 + int(wall.group(2)) * 60 + float(wall.group(3))
    return seconds, int(peak.group(1)), run.stdout


def digest(*parts):
    h = hashlib.sha256()
    for part in parts:
        if os.path.isfile(part):
            with open(part, "rb") as f:
                h.update(f.read())
        else:
            h.update(part.encode())
    return h.hexdigest()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--tool", default=os.path.join(here, "..", "build", "tools", "velmora", "velmora"))
    ap.add_argument("--data", default=os.path.join(here, "..", "..", "shared", "data"))
    ap.add_argument("--lfw", help="photo folder (default: DATA/lfw)")
    ap.add_argument("--pairs", help="pairs list (default: LFW/pairs_dev.txt)")
    ap.add_argument("--work", default="/tmp/velmora-jobs", help="folder for the outputs, outside the repository")
    ap.add_argument("--jobs", default="1,2", help="--jobs values to compare")
    ap.add_argument("--rounds", type=int, default=3)
    args = ap.parse_args()
    lfw = args.lfw or os.path.join(args.data, "lfw")
    pairs = args.pairs or os.path.join(lfw, "pairs_dev.txt")
    if not os.path.isdir(lfw):
        sys.exit(f"jobs_bench.py: no LFW folder at {lfw}")
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("jobs_bench.py: needs /usr/bin/time (apt-get install time)")
    os.makedirs(args.work, exist_ok=True)
    samples = os.path.join(args.work, "lfw.samples")
    csv = os.path.join(args.work, "pairs.csv")
    commands = {
        "samples": ([args.tool, "samples", lfw, "-o", samples],
                    lambda out: digest(out, samples, samples + ".faces", samples + ".names")),
        "evaluate lfw": ([args.tool, "evaluate", "lfw", lfw, pairs, "--csv", csv],
                         lambda out: digest(re.sub(r"time per photo[^\n]*", "", out), csv)),
    }
    start_load = os.getloadavg()
    jobs = [j.strip() for j in args.jobs.split(",")]
    results = {(name, j): [] for name in commands for j in jobs}
    digests = {}
    for r in range(args.rounds):
        for j in jobs:
            for name, (command, outputs) in commands.items():
                load = load_average()
                seconds, peak, out = timed(command + ["--jobs", j])
                results[(name, j)].append((seconds, peak, load))
                digests.setdefault(name, set()).add(outputs(out))
                print(f"round {r + 1}, {name}, --jobs {j}: {seconds:.1f} s, {peak / 1024:.0f} MB, "
                      f"load before {load:.2f}", file=sys.stderr)

    print(f"{args.tool}, {args.rounds} rounds, {os.cpu_count()} cores; load average (1, 5, 15 min) "
          f"{' '.join(f'{l:.2f}' for l in start_load)} before the first run, "
          f"{' '.join(f'{l:.2f}' for l in os.getloadavg())} after the last")
    print("| command | --jobs | wall min (s) | wall median (s) | peak memory (MB) | load average before the runs |")
    print("|---|---:|---:|---:|---:|---|")
    for (name, j), runs in results.items():
        walls = [s for s, _, _ in runs]
        loads = ", ".join(f"{l:.2f}" for _, _, l in runs)
        print(f"| {name} | {j} | {min(walls):.1f} | {statistics.median(walls):.1f} | "
              f"{max(p for _, p, _ in runs) / 1024:.0f} | {loads} |")
    same = all(len(d) == 1 for d in digests.values())
    for name, d in digests.items():
        print(f"{name}: outputs of all {len(jobs) * args.rounds} runs "
              f"{'byte-identical' if len(d) == 1 else f'DIFFER ({len(d)} versions)'}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
