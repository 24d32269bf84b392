#!/usr/bin/env python3
"""Same/different decisions of `velmora compare` on ORL photo pairs.

Same person: photos (1,6), (2,7), (3,8), (4,9), (5,10) of each person.
Different people: photo k of person i against photo k of the next person (k = 1..5).
Prints how many pairs the model's calibrated threshold decides rightly. By default on people
s21-s40 only: the default model's threshold was calibrated with pairs of s1-s20.

    bench/orl_pairs.py [--tool build/tools/velmora/velmora] [--orl ../shared/data/orl] [--model M]
                       [--people 21-40]
"""
import argparse
import json
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor


def compare(tool, model, a, b):
    command = [tool, "compare", a, b, "--json"] + (["--model", model] if model else [])
    run = subprocess.run(command, capture_output=True, text=True)
    if run.returncode != 0:
        return None, run.stderr.strip()
    return json.loads(run.stdout), None


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", default=os.path.join(here, "..", "build", "tools", "velmora", "velmora"))
    parser.add_argument("--orl", default=os.path.join(here, "..", "..", "shared", "data", "orl"))
    parser.add_argument("--model", default="")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--people", default="21-40", help="range of ORL people, e.g. 1-40")
    args = parser.parse_args()
    first, last = (int(v) for v in args.people.split("-"))
    if not 1 <= first < last <= 40:
        sys.exit("orl_pairs.py: --people must be a range within 1-40, e.g. 21-40")
    people = list(range(first, last + 1))
    if not os.path.isdir(args.orl):
        sys.exit(f"orl_pairs.py: no ORL folder at {args.orl}")

    def photo(person, k):
        return os.path.join(args.orl, f"s{person}", f"{k}.pgm")

    def following(p):
        return p + 1 if p < last else first

    pairs = [(photo(p, k), photo(p, k + 5), True) for p in people for k in range(1, 6)]
    pairs += [(photo(p, k), photo(following(p), k), False) for p in people for k in range(1, 6)]
    with ThreadPoolExecutor(args.jobs) as pool:
        results = list(pool.map(lambda t: compare(args.tool, args.model, t[0], t[1]), pairs))

    right = {True: 0, False: 0}
    failed = {True: 0, False: 0}
    threshold = None
    for (a, b, same), (result, error) in zip(pairs, results):
        if result is None or "same_person" not in result:
            failed[same] += 1
            continue
        threshold = result["threshold"]
        right[same] += result["same_person"] == same
    if threshold is None:
        sys.exit("orl_pairs.py: no pair was scored with a calibrated threshold: " + (results[0][1] or "?"))
    for same, label in ((True, "same person"), (False, "different people")):
        n = sum(1 for p in pairs if p[2] == same)
        print(f"{label:17s}: {right[same]}/{n} decided rightly ({100.0 * right[same] / n:.1f}%), "
              f"{failed[same]} without a score (no face found)")
    print(f"threshold {threshold}, ORL people s{first}-s{last}")


if __name__ == "__main__":
    main()
