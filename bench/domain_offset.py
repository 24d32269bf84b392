#!/usr/bin/env python3
"""Why ORL's studio photos of different people score high: each set's templates share an offset.

Templates of the default model, six views each. For every photo set the mean of its unit vectors is
printed: near 0 for a set that is spread round the model's centre, as LFW's news photos (the kind the model
was trained on) are; long for a set whose faces all lean one way. Next, the thresholds at which ORL s21-s40's
pairs alone are decided 85% rightly both ways, and LFW's same-person rate there. Then the calibration of
scripts/calibrate_default_model.sh (LFW fold 1 plus ORL s1-s20, threshold at the pooled equal error)
is redone with a set's mean direction projected out of every vector (nuisance attribute projection),
and the held-out ORL pairs of bench/orl_pairs.py (s21-s40) are judged at that threshold.

    PYTHONPATH=build/python/package /usr/bin/python3 bench/domain_offset.py [--data ../shared/data]
"""
import argparse
import glob
import os
import struct
import sys

import numpy as np
import velmora

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recipe_table  # noqa: E402


def unit(v):
    return v / np.linalg.norm(v, axis=-1, keepdims=True)


def set_mean(templates):
    return np.mean([unit(t).mean(0) for t in templates], 0)


def as_template(vectors):
    return velmora.Template.from_bytes(struct.pack("<ii", *vectors.shape) + vectors.astype("<f8").tobytes())


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--data", default=os.path.join(here, "..", "..", "shared", "data"))
    args = parser.parse_args()
    model = velmora.Model()

    def vectors(path):
        try:
            return model.template(velmora.load_image(path)).vectors
        except velmora.Error:
            return None  # no face found: the pair is left out

    orl = {(p, k): vectors(f"{args.data}/orl/s{p}/{k}.pgm") for p in range(1, 41) for k in range(1, 11)}
    fold1 = recipe_table.read_folds(f"{args.data}/lfw/pairs_dev.txt")[0]
    lfw_pairs = [((a, i), (b, j), same) for a, i, b, j, same in fold1]
    lfw = {}
    for a, b, _ in lfw_pairs:
        for name, i in (a, b):
            if (name, i) not in lfw:
                lfw[name, i] = vectors(recipe_table.photo_path(f"{args.data}/lfw", name, i))
    bioid = [v for v in map(vectors, sorted(glob.glob(f"{args.data}/bioid/*.pgm"))) if v is not None]

    means = {"LFW fold 1": set_mean([v for v in lfw.values() if v is not None]),
             "ORL s1-s20": set_mean([orl[p, k] for p in range(1, 21) for k in range(1, 11)]),
             "ORL s21-s40": set_mean([orl[p, k] for p in range(21, 41) for k in range(1, 11)]),
             "BioID": set_mean(bioid)}
    for name, m in means.items():
        print(f"{name:12s} mean unit vector: length {np.linalg.norm(m):.3f}, cosine with ORL s1-s20's "
              f"{unit(m) @ unit(means['ORL s1-s20']):+.3f}")

    # The calibration pairs of scripts/calibrate_default_model.sh and the test pairs of bench/orl_pairs.py.
    cal_same = [((p, k), (p, k + 1)) for p in range(1, 21) for k in range(1, 10)]
    cal_same += [((p, k), (p, k + 5)) for p in range(1, 21) for k in range(1, 6)] + [((p, 1), (p, 10)) for p in range(1, 21)]
    cal_diff = [((p, d % 10 + 1), ((p - 1 + d) % 20 + 1, (d + p) % 10 + 1)) for p in range(1, 21) for d in range(1, 16)]
    test_same = [((p, k), (p, k + 5)) for p in range(21, 41) for k in range(1, 6)]
    test_diff = [((p, k), (p + 1 if p < 40 else 21, k)) for p in range(21, 41) for k in range(1, 6)]

    lfw_centre = means["LFW fold 1"]
    for label, away in (("nothing", None), ("BioID's", "BioID"), ("ORL s1-s20's", "ORL s1-s20")):
        u = None if away is None else unit(means[away] - lfw_centre)

        def score(x, y):
            if x is None or y is None:
                return None
            if u is not None:
                x, y = x - np.outer(x @ u, u), y - np.outer(y @ u, u)
            return velmora.compare(as_template(x), as_template(y), "mean")

        def scores(pairs, photos):
            return np.array([s for s in (score(photos[a], photos[b]) for a, b in pairs) if s is not None])

        lfw_same = scores([(a, b) for a, b, same in lfw_pairs if same], lfw)
        lfw_diff = scores([(a, b) for a, b, same in lfw_pairs if not same], lfw)
        same = np.concatenate([lfw_same, scores(cal_same, orl)])
        diff = np.concatenate([lfw_diff, scores(cal_diff, orl)])
        t = min(np.unique(np.concatenate([same, diff])), key=lambda t: abs(np.mean(same < t) - np.mean(diff >= t)))
        if u is None:  # where ORL's held-out pairs alone would have to be split, and LFW's same-person rate there
            ts, td = scores(test_same, orl), scores(test_diff, orl)
            both = [v for v in np.unique(np.concatenate([ts, td])) if np.mean(ts >= v) >= 0.85 and np.mean(td < v) >= 0.85]
            if both:
                print(f"ORL s21-s40 alone: 85% both ways at thresholds {min(both):.4f} to {max(both):.4f}, where "
                      f"{100 * np.mean(lfw_same >= min(both)):.1f}% to {100 * np.mean(lfw_same >= max(both)):.1f}% "
                      "of LFW fold 1's same-person pairs pass")
        print(f"{label} direction projected out: threshold {t:.4f}")
        for name, s, d in (("LFW fold 1", lfw_same, lfw_diff),
                           ("ORL s1-s20", scores(cal_same, orl), scores(cal_diff, orl)),
                           ("ORL s21-s40", scores(test_same, orl), scores(test_diff, orl))):
            print(f"  {name:12s} same person {100 * np.mean(s >= t):5.1f}%, different people {100 * np.mean(d < t):5.1f}%")


if __name__ == "__main__":
    main()
