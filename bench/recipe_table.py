#!/usr/bin/env python3
"""Training recipes side by side on LFW pairs_dev.txt, each fold scored by models that never saw its people.

For every recipe and fold k the velmora tool trains a model on the sample file's people outside fold k
(`velmora train --exclude`); the fold's photos then get templates of one vector (the photo), of two (the
photo and its mirror image) and of six (the tool's: both again with the eyes a pixel further apart and a
pixel closer), the last two compared in modes max, mean and line. Each fold is judged at the
threshold that is best on the other folds' pairs, as `velmora evaluate lfw` does. The eyes of every photo
are found once (the tool's face finder, through the Python module) and kept in the work folder, as are
the models and scores, so a second run only does what is new.

    PYTHONPATH=build/python/package /usr/bin/python3 bench/recipe_table.py \\
        --tool build/tools/velmora/velmora --lfw ../shared/data/lfw --work /tmp/recipes \\
        --samples lfw.samples --all-samples all.samples

--samples: `velmora samples LFW -o lfw.samples --min-images 2`; --all-samples: the same with
--min-images 1 (for the recipes with people seen once).
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import time


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peer_metrics as pm  # noqa: E402
import velmora  # noqa: E402

# name, sample file key, extra `velmora train` arguments
RECIPES = [
    ("train", "samples", ["--recipe", "train"]),
    ("refit, 300 components", "samples", ["--recipe", "refit"]),
    ("refit, 250 components", "samples", ["--recipe", "refit", "--refit-dim", "250"]),
    ("refit, at most 10 faces per person", "samples", ["--recipe", "refit", "--max-per-person", "10"]),
    ("refit + mirror images", "samples", ["--recipe", "refit", "--mirror"]),
    ("refit + people seen once", "all", ["--recipe", "refit", "--singles"]),
    ("refit + mirror images + people seen once", "all", ["--recipe", "refit", "--mirror", "--singles"]),
]
TEMPLATES = [("one vector", 1, "max")] + [("photo + mirror, " + m, 2, m) for m in ("max", "mean", "line")] + \
            [("six views, " + m, 6, m) for m in ("max", "mean", "line")]


def read_folds(pairs_path):
    """Per fold: list of (name A, image A, name B, image B, same)."""
    with open(pairs_path) as f:
        count, per = (int(v) for v in f.readline().split())
        folds = []
        for _ in range(count):
            pairs = []
            for _ in range(per):
                name, i, j = f.readline().rstrip("\n").split("\t")
                pairs.append((name, int(i), name, int(j), True))
            for _ in range(per):
                a, i, b, j = f.readline().rstrip("\n").split("\t")
                pairs.append((a, int(i), b, int(j), False))
            folds.append(pairs)
    return folds


def photo_path(lfw, name, number):
    return os.path.join(lfw, name, "%s_%04d.jpg" % (name, number))


def find_eyes(lfw, folds, cache):
    if os.path.exists(cache):
        with open(cache) as f:
            return json.load(f)
    eyes = {}
    for pairs in folds:
        for a, i, b, j, _ in pairs:
            for path in (photo_path(lfw, a, i), photo_path(lfw, b, j)):
                if path not in eyes:
                    face = velmora.find_face(velmora.load_image(path))
                    eyes[path] = list(face.eyes) if face is not None else None
    with open(cache, "w") as f:
        json.dump(eyes, f)
    return eyes


def first_vectors(template, count):
    """The template of the first `count` vectors (1: the photo alone; 2: it and its mirror image)."""
    vectors = template.vectors[:count]
    return velmora.Template.from_bytes(struct.pack("<ii", count, vectors.shape[1]) + vectors.astype("<f8").tobytes())


def fold_scores(model_path, pairs, lfw, eyes):
    """Scores of the fold's pairs per template kind (0 where a photo has no face)."""
    model = velmora.Model(model_path)
    made = {}
    for a, i, b, j, _ in pairs:
        for path in (photo_path(lfw, a, i), photo_path(lfw, b, j)):
            if path in made or eyes[path] is None:
                continue
            views = model.template(velmora.load_image(path), eyes=tuple(eyes[path]))  # the tool's six views
            made[path] = {1: first_vectors(views, 1), 2: first_vectors(views, 2), 6: views}
    scores = {}
    for label, count, mode in TEMPLATES:
        column = []
        for a, i, b, j, same in pairs:
            ta, tb = made.get(photo_path(lfw, a, i)), made.get(photo_path(lfw, b, j))
            if ta is None or tb is None:
                column.append((0.0, same))
            else:
                column.append((velmora.compare(ta[count], tb[count], mode), same))
        scores[label] = column
    return scores


def summarise(per_fold):
    """Mean and standard error of the per-fold accuracies (threshold from the other folds)."""
    folds = [([-s for s, same in f if same], [-s for s, same in f if not same]) for f in per_fold]
    accuracies = [100.0 * acc for _, acc in pm.fold_accuracies(folds)]
    return accuracies, pm.mean_and_standard_error(accuracies)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tool", required=True)
    ap.add_argument("--lfw", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--samples", required=True)
    ap.add_argument("--all-samples")
    ap.add_argument("--only", nargs="*", help="recipe names to run (default all)")
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    folds = read_folds(os.path.join(a.lfw, "pairs_dev.txt"))
    eyes = find_eyes(a.lfw, folds, os.path.join(a.work, "eyes.json"))
    samples = {"samples": a.samples, "all": a.all_samples}
    results_path = os.path.join(a.work, "results.json")
    results = json.load(open(results_path)) if os.path.exists(results_path) else {}
    for name, key, args in RECIPES:
        if a.only and name not in a.only:
            continue
        if name in results or samples[key] is None:
            continue
        per_kind = {label: [] for label, _, _ in TEMPLATES}
        seconds = []
        for k, pairs in enumerate(folds):
            people = os.path.join(a.work, "fold%d.people" % (k + 1))
            with open(people, "w") as f:
                f.write("\n".join(sorted({p[0] for p in pairs} | {p[2] for p in pairs})) + "\n")
            model = os.path.join(a.work, "model.fold%d" % (k + 1))
            start = time.time()
            out = subprocess.run([a.tool, "train", samples[key], "-o", model, "--exclude", people, "--json"] + args,
                                 check=True, stdout=subprocess.PIPE, text=True).stdout
            report = json.loads(out)
            seconds.append(time.time() - start)
            for label, column in fold_scores(model, pairs, a.lfw, eyes).items():
                per_kind[label].append(column)
            print("%s, fold %d: trained on %d people (%s) in %.0f s" %
                  (name, k + 1, report["people"], report.get("refit_people", "-"), seconds[-1]), flush=True)
        results[name] = {"train_seconds": seconds,
                         "kinds": {label: summarise(cols) for label, cols in per_kind.items()}}
        with open(results_path, "w") as f:
            json.dump(results, f, indent=1)
    print("| recipe | " + " | ".join(label for label, _, _ in TEMPLATES) + " |")
    print("|---|" + "---|" * len(TEMPLATES))
    for name, _, _ in RECIPES:
        if name in results:
            cells = ["%.2f +- %.2f" % tuple(results[name]["kinds"][label][1]) for label, _, _ in TEMPLATES]
            print("| %s | %s |" % (name, " | ".join(cells)))


if __name__ == "__main__":
    main()
