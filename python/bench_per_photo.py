"""Per-photo time of the velmora module against the velmora tool on the same photos.

One photo's work is the same in both: read the file (the tool's reader), find the
first face, make its template. Both run as child processes, `velmora template`
and a Python script doing the same through the module, and the time per photo
is (run on N photos - run on 1 photo) / (N - 1), which leaves out start-up,
import and model loading. Rounds alternate between the two; minimum and median
are reported, of wall-clock and of CPU time (user + system).

    /usr/bin/python3 python/bench_per_photo.py --tool build/tools/velmora/velmora \\
        --photos ../shared/data/lfw --count 100 --rounds 5
(with build/python/package on PYTHONPATH)
"""
import argparse
import os
import pathlib
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import velmora


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_child(command):
    wall, cpu = time.perf_counter(), child_cpu()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - wall, child_cpu() - cpu


MODULE_SCRIPT = """
import sys, velmora
model = velmora.Model()
templates = [model.template(velmora.load_image(p)) for p in sys.argv[1:]]
"""


def per_photo(command, photos):
    one = run_child(command(photos[:1]))
    many = run_child(command(photos))
    return [(m - o) / (len(photos) - 1) for m, o in zip(many, one)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--photos", required=True, help="folder searched for .jpg/.pgm/.png files, sorted")
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    photos = sorted(p for p in pathlib.Path(args.photos).rglob("*") if p.suffix in (".jpg", ".pgm", ".png"))
    photos = photos[: args.count]
    print(f"{len(photos)} photos from {args.photos}, model {velmora.Model().path}")
    tool_per, module_per = [], []
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "t.tpl")
        tool = lambda chosen: [args.tool, "template", *map(str, chosen), "-o", out]
        module = lambda chosen: [sys.executable, "-c", MODULE_SCRIPT, *map(str, chosen)]
        for _ in range(args.rounds):
            tool_per.append(per_photo(tool, photos))
            module_per.append(per_photo(module, photos))
    for name, rows in (("tool", tool_per), ("module", module_per)):
        wall, cpu = zip(*rows)
        print(f"{name:7s} per photo: wall min {min(wall) * 1e3:.2f} ms, median {statistics.median(wall) * 1e3:.2f} ms;"
              f" CPU min {min(cpu) * 1e3:.2f} ms, median {statistics.median(cpu) * 1e3:.2f} ms")
    ratio = lambda i, f: f([r[i] for r in module_per]) / f([r[i] for r in tool_per])
    print(f"module / tool: wall {ratio(0, min):.3f} (min), {ratio(0, statistics.median):.3f} (median); "
          f"CPU {ratio(1, min):.3f} (min), {ratio(1, statistics.median):.3f} (median)")


if __name__ == "__main__":
    main()
