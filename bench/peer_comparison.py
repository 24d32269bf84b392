#!/usr/bin/python3
"""Velmora beside OpenCV's Eigen, Fisher and LBPH face recognisers, on the same faces.

Measures in one run:
  ORL  images 1-5 of each of the 40 people enrolled / trained, 6-10 probed: rank-1 identification.
  LFW  five-fold verification on pairs_dev.txt: for fold k the recogniser is trained on every person
       of the LFW folder who is not in fold k, the 600 pairs of fold k are scored by the distance of
       the two faces in the trained subspace (LBPH: chi-square between their histograms), and the
       threshold is the one most accurate on the other four folds' pairs. Per-fold accuracy, mean,
       standard error, and the equal error rate (mean of the per-fold ones).
  time per face: features of one cropped face plus one match.
Each OpenCV recogniser runs on two kinds of crops of the same photos: eye-aligned crops as OpenCV's
face recognition tutorial makes them (rotated and scaled so the eyes land at fixed places, 70 x 70,
grey) and Velmora's normalised 64 x 64 faces (`velmora cut`). Both use the same eye centres: those
`velmora detect` finds (the face nearest the image centre); where it finds none, the median eye
centres of that data set. Velmora's own rows come from `velmora evaluate orl|lfw --json` and, for
speed, from the template_bench and compare_bench programs.

Needs Debian's python3-opencv (OpenCV with the contrib face module) and python3-numpy, run with
the system Python, e.g. on 2 shared cores:
  nice /usr/bin/python3 bench/peer_comparison.py --velmora build/tools/velmora/velmora \\
      --data /work/shared/data --work /tmp/velmora-peers --csv /tmp/velmora-peers/peers.csv
Expensive steps (eye detection, crops) are cached in the work folder, which must lie outside the
repository: the crops are derived from the face data.
"""
import argparse
import csv
import json
import os
import random
import subprocess
import sys
import tempfile
import time

import numpy as np

try:
    import cv2
    cv2.face  # the contrib face module
except (ImportError, AttributeError):
    sys.exit("peer_comparison: needs OpenCV with its face module: apt-get install python3-opencv")

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peer_metrics as pm  # noqa: E402

# Eye-aligned crops as the OpenCV tutorial makes them: 70 x 70, eyes 20 % in from the sides and
# 20 % down from the top.
ALIGNED_SIZE = 70
ALIGNED_OFFSET = 0.2
CHUNK = 400  # images per velmora detect / cut run
RECOGNISERS = ("Eigen", "Fisher", "LBPH")
CROPS = ("aligned", "velmora")


# ------------------------------------------------------------------ data

def orl_images(data):
    return [os.path.join(data, "orl", "s%d" % p, "%d.pgm" % i) for p in range(1, 41) for i in range(1, 11)]


def lfw_people(data):
    """{name: [image paths]} for every person folder of the LFW subset."""
    root = os.path.join(data, "lfw")
    people = {}
    for name in sorted(os.listdir(root)):
        folder = os.path.join(root, name)
        if os.path.isdir(folder):
            images = sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".jpg"))
            if images:
                people[name] = images
    return people


def lfw_image(data, name, number):
    return os.path.join(data, "lfw", name, "%s_%04d.jpg" % (name, number))


def read_pairs(path, data):
    """[(genuine pairs, impostor pairs)] per fold; a pair is two image paths."""
    with open(path) as f:
        head = f.readline().split()
        folds_n, per = int(head[0]), int(head[1])
        folds = []
        for _ in range(folds_n):
            genuine, impostor = [], []
            for _ in range(per):
                name, i, j = f.readline().rstrip("\n").split("\t")
                genuine.append((lfw_image(data, name, int(i)), lfw_image(data, name, int(j))))
            for _ in range(per):
                a, i, b, j = f.readline().rstrip("\n").split("\t")
                impostor.append((lfw_image(data, a, int(i)), lfw_image(data, b, int(j))))
            folds.append((genuine, impostor))
    return folds


def person_of(path):
    return os.path.basename(os.path.dirname(path))


# ------------------------------------------------------------------ eyes and crops

def run_velmora_json(args, ok_codes=(0, 4)):
    return run_velmora_jsons([args], 1, ok_codes)[0]


def run_velmora_jsons(commands, jobs, ok_codes=(0, 4), done=None):
    """Runs velmora commands, `jobs` at a time, and returns their JSON documents in order;
    done(i, doc) is called as each finishes, in order."""
    results = []
    running = []

    def finish_oldest():
        cmd, proc, out, err = running.pop(0)
        proc.wait()
        out.seek(0)
        err.seek(0)
        if proc.returncode not in ok_codes:
            for _, other, _, _ in running:
                other.kill()
                other.wait()
            raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd[:3]), proc.returncode,
                                                       err.read().decode(errors="replace").strip()[-2000:]))
        results.append(json.loads(out.read()))
        out.close()
        err.close()
        if done is not None:
            done(len(results) - 1, results[-1])

    for args in commands:
        if len(running) >= max(1, jobs):
            finish_oldest()
        # Files rather than pipes, so no run waits for its output to be read.
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        running.append((args, subprocess.Popen(args, stdout=out, stderr=err), out, err))
    while running:
        finish_oldest()
    return results


def load_json(path):
    if os.path.exists(path):
        with open(path) as f:
            return json.load(f)
    return None


def save_json(path, value):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(value, f)
    os.replace(tmp, path)


def detect_eyes(velmora, images, cache_path, jobs):
    """{image: [[lx, ly, rx, ry], ...]} from velmora detect, cached and extended chunk by chunk."""
    found = load_json(cache_path) or {}
    todo = [p for p in images if p not in found]

    def done(_, doc):
        for entry in doc["images"]:
            found[entry["path"]] = {
                "size": [entry["width"], entry["height"]],
                "faces": [[f["left_eye"]["x"], f["left_eye"]["y"], f["right_eye"]["x"], f["right_eye"]["y"]]
                          for f in entry["faces"]]}
        save_json(cache_path, found)
        log("  eyes: %d / %d images" % (len(found), len(images)))

    commands = [[velmora, "detect", "--json"] + todo[s:s + CHUNK] for s in range(0, len(todo), CHUNK)]
    run_velmora_jsons(commands, jobs, done=done)
    return found


def central_face(faces, size):
    """The face whose eye midpoint lies nearest the image centre (LFW photos centre their subject)."""
    cx, cy = size[0] / 2.0, size[1] / 2.0
    return min(faces, key=lambda e: ((e[0] + e[2]) / 2.0 - cx) ** 2 + ((e[1] + e[3]) / 2.0 - cy) ** 2)


def choose_eyes(images, found):
    """Eyes per image, how many images fell back to the set's median eyes, and those eyes."""
    chosen = {p: central_face(found[p]["faces"], found[p]["size"]) for p in images if found[p]["faces"]}
    if not chosen:
        raise RuntimeError("no face found in any image")
    median = [int(round(float(np.median([e[k] for e in chosen.values()])))) for k in range(4)]
    missing = [p for p in images if p not in chosen]
    for p in missing:
        chosen[p] = median
    return chosen, len(missing), median


def aligned_transform(eyes, size=ALIGNED_SIZE, offset=ALIGNED_OFFSET):
    """2 x 3 similarity transform taking the eyes to (offset, offset) and (1 - offset, offset) of the crop."""
    lx, ly, rx, ry = [float(v) for v in eyes]
    dst_l = np.array([offset * size, offset * size])
    dst_r = np.array([(1.0 - offset) * size, offset * size])
    src = np.array([rx - lx, ry - ly])
    dst = dst_r - dst_l
    # Complex-number view: dst = z * src, z = a + ib
    denom = src[0] ** 2 + src[1] ** 2
    a = (dst[0] * src[0] + dst[1] * src[1]) / denom
    b = (dst[1] * src[0] - dst[0] * src[1]) / denom
    m = np.array([[a, -b, 0.0], [b, a, 0.0]])
    m[:, 2] = dst_l - m[:, :2] @ np.array([lx, ly])
    return m


def aligned_crop(grey, eyes):
    return cv2.warpAffine(grey, aligned_transform(eyes), (ALIGNED_SIZE, ALIGNED_SIZE),
                          flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)


def read_grey(path):
    img = cv2.imread(path, cv2.IMREAD_GRAYSCALE)
    if img is None:
        raise RuntimeError("cannot read " + path)
    return img


def cached_crops(name, images, eyes, work, make):
    """Crops of `images` as one uint8 array, rebuilt when the images or their eyes change."""
    key_path = os.path.join(work, name + ".json")
    array_path = os.path.join(work, name + ".npy")
    key = [[p, list(eyes[p])] for p in images]
    if load_json(key_path) == key and os.path.exists(array_path):
        return np.load(array_path)
    crops = make()
    np.save(array_path, crops)
    save_json(key_path, key)
    return crops


def make_aligned(images, eyes):
    return np.stack([aligned_crop(read_grey(p), eyes[p]) for p in images])


def make_velmora_cuts(velmora, images, eyes, folder, jobs):
    commands = []
    for start in range(0, len(images), CHUNK):
        chunk = images[start:start + CHUNK]
        target = os.path.join(folder, "%06d" % start)
        args = [velmora, "cut", "--json", "-o", target]
        for p in chunk:
            args += ["--eyes", "%d,%d,%d,%d" % tuple(eyes[p])]
        if len(chunk) == 1:  # a single image writes to the file named by -o
            os.makedirs(target, exist_ok=True)
            args[4] = os.path.join(target, "face.png")
        commands.append(args + chunk)
    out = []

    def done(_, doc):
        for face in doc["faces"] if "faces" in doc else [doc]:
            out.append(read_grey(face["output"]))
        log("  velmora cut: %d / %d images" % (len(out), len(images)))

    run_velmora_jsons(commands, jobs, ok_codes=(0,), done=done)
    return np.stack(out)


def prepare(args, label, images):
    found = detect_eyes(args.velmora, images, os.path.join(args.work, "eyes_%s.json" % label), args.jobs)
    eyes, fallback, median = choose_eyes(images, found)
    crops = {
        "aligned": cached_crops("%s_aligned" % label, images, eyes, args.work, lambda: make_aligned(images, eyes)),
        "velmora": cached_crops("%s_velmora" % label, images, eyes, args.work,
                                lambda: make_velmora_cuts(args.velmora, images, eyes,
                                                          os.path.join(args.work, "cut_" + label), args.jobs)),
    }
    log("%s: %d images, %d without a face found (median eyes %s used)" % (label, len(images), fallback,
                                                                           eyes_text(median)))
    return crops, fallback, median


# ------------------------------------------------------------------ recognisers

def create(kind):
    if kind == "Eigen":
        return cv2.face.EigenFaceRecognizer_create()
    if kind == "Fisher":
        return cv2.face.FisherFaceRecognizer_create()
    return cv2.face.LBPHFaceRecognizer_create()


class Subspace:
    """An Eigen or Fisher model's projection: (x - mean) W, compared by Euclidean distance as predict does."""

    def __init__(self, model):
        self.mean = np.asarray(model.getMean(), dtype=np.float64).reshape(1, -1)
        self.basis = np.ascontiguousarray(np.asarray(model.getEigenVectors(), dtype=np.float64).T)

    def features(self, faces):
        rows = faces.reshape(len(faces), -1).astype(np.float64)
        return cv2.PCAProject(rows, self.mean, self.basis)

    @staticmethod
    def distance(a, b):
        return cv2.norm(a.reshape(-1), b.reshape(-1), cv2.NORM_L2)


class Histograms:
    """LBPH's spatial histograms, read back from a model 'trained' on the faces; chi-square as predict uses."""

    @staticmethod
    def features(faces):
        model = create("LBPH")
        model.train(list(faces), np.arange(len(faces), dtype=np.int32))
        return [h.reshape(-1) for h in model.getHistograms()]

    @staticmethod
    def distance(a, b):
        return cv2.compareHist(a, b, cv2.HISTCMP_CHISQR_ALT)


def train(kind, faces, labels):
    model = create(kind)
    model.train(list(faces), np.asarray(labels, dtype=np.int32))
    return model


# ------------------------------------------------------------------ ORL

def orl_rank1(kind, crops):
    faces = crops.reshape(40, 10, *crops.shape[1:])
    gallery = faces[:, :5].reshape(-1, *crops.shape[1:])
    probes = faces[:, 5:].reshape(-1, *crops.shape[1:])
    gallery_labels = np.repeat(np.arange(40), 5)
    probe_labels = np.repeat(np.arange(40), 5)
    model = train(kind, gallery, gallery_labels)
    predicted = [model.predict(p)[0] for p in probes]
    return pm.rank1(predicted, list(probe_labels))


# ------------------------------------------------------------------ LFW

def training_set(kind, people, excluded, cap, seed):
    """Images and labels of the people not in the tested fold; Fisher needs >= 2 images a person.

    Whole people are drawn at random (fixed seed) until `cap` images are reached (0: no cap).
    """
    names = [n for n in sorted(people) if n not in excluded and (kind != "Fisher" or len(people[n]) >= 2)]
    if cap:
        random.Random(seed).shuffle(names)
    images, labels = [], []
    for label, name in enumerate(names):
        if cap and len(images) + len(people[name]) > cap:
            continue
        images += people[name]
        labels += [label] * len(people[name])
    return images, labels


def lfw_scores(kind, crops, index, folds, people, cap):
    """Distances of every fold's pairs, [(genuine, impostor)] per fold, and the training sizes."""
    scored, sizes = [], []
    if kind == "LBPH":  # nothing is learnt: one set of histograms serves every fold
        needed = sorted({p for g, i in folds for pair in g + i for p in pair})
        hist = dict(zip(needed, Histograms.features(crops[[index[p] for p in needed]])))
        for genuine, impostor in folds:
            scored.append(([Histograms.distance(hist[a], hist[b]) for a, b in genuine],
                           [Histograms.distance(hist[a], hist[b]) for a, b in impostor]))
            sizes.append((0, 0))
        return scored, sizes, None
    model = None
    for k, (genuine, impostor) in enumerate(folds):
        fold_people = {person_of(p) for pair in genuine + impostor for p in pair}
        images, labels = training_set(kind, people, fold_people, cap, seed=k)
        started = time.time()
        model = train(kind, crops[[index[p] for p in images]], labels)
        space = Subspace(model)
        needed = sorted({p for pair in genuine + impostor for p in pair})
        feats = dict(zip(needed, space.features(crops[[index[p] for p in needed]])))
        scored.append(([space.distance(feats[a], feats[b]) for a, b in genuine],
                       [space.distance(feats[a], feats[b]) for a, b in impostor]))
        sizes.append((len(images), len(set(labels))))
        log("    fold %d: trained on %d images of %d people in %.0f s, %d dimensions"
            % (k + 1, len(images), len(set(labels)), time.time() - started, space.basis.shape[0]))
    return scored, sizes, model


def summarise_lfw(scored):
    per_fold = pm.fold_accuracies(scored)
    accs = [a for _, a in per_fold]
    mean, se = pm.mean_and_standard_error(accs)
    eer = float(np.mean([pm.equal_error_rate(g, i) for g, i in scored]))
    return {"folds": accs, "thresholds": [t for t, _ in per_fold], "mean": mean, "se": se, "eer": eer}


def write_scores(path, scored):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["fold", "same_person", "distance"])
        for k, (genuine, impostor) in enumerate(scored):
            w.writerows([k + 1, 1, "%.9g" % d] for d in genuine)
            w.writerows([k + 1, 0, "%.9g" % d] for d in impostor)


# ------------------------------------------------------------------ speed

def time_per_face(kind, model, faces, repetitions=5):
    """Microseconds for the features of one cropped face plus one match: (minimum, median) of
    `repetitions` runs, each the mean over `faces`."""
    runs = []
    if kind == "LBPH":
        single = train("LBPH", faces[:1], [0])  # predict = histogram of the probe + one chi-square
        for _ in range(repetitions):
            start = time.perf_counter()
            for face in faces:
                single.predict(face)
            runs.append((time.perf_counter() - start) / len(faces))
    else:
        space = Subspace(model)
        reference = space.features(faces[:1])
        for _ in range(repetitions):
            start = time.perf_counter()
            for face in faces:
                space.distance(space.features(face[np.newaxis]), reference)
            runs.append((time.perf_counter() - start) / len(faces))
    return 1e6 * min(runs), 1e6 * float(np.median(runs))


def bench_time(program, name_filter):
    """(minimum, median) real time in microseconds of one Google Benchmark case, 5 repetitions."""
    r = subprocess.run([program, "--benchmark_filter=" + name_filter, "--benchmark_repetitions=5",
                        "--benchmark_format=json", "--benchmark_min_time=0.2"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=True)
    runs = [b for b in json.loads(r.stdout)["benchmarks"] if b.get("run_type") == "iteration"]
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
    times = sorted(b["real_time"] * scale[b["time_unit"]] for b in runs)
    return times[0], float(np.median(times))


def velmora_speed(bench_dir):
    if not bench_dir:
        return None
    template = bench_time(os.path.join(bench_dir, "template_bench"), "BM_CreateTemplateFromFace$")
    match = bench_time(os.path.join(bench_dir, "compare_bench"), "BM_CompareTemplate/vectors:1/mode:1$")
    return template[0] + match[0], template[1] + match[1]


# ------------------------------------------------------------------ ours

def read_velmora_pair_scores(path, folds_n=5):
    """[(genuine, impostor)] per fold from velmora evaluate lfw's CSV, as distances (negated scores)."""
    folds = [([], []) for _ in range(folds_n)]
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            folds[int(row["fold"]) - 1][0 if row["same"] == "1" else 1].append(-float(row["score"]))
    return folds


def eyes_text(eyes):
    return "%d,%d,%d,%d" % tuple(eyes)


def velmora_samples(args):
    """A training sample file of every LFW person with two or more photos (cached): `velmora samples`."""
    samples = os.path.join(args.work, "lfw.samples")
    if not os.path.exists(samples + ".names"):
        # A person seen once adds nothing to the within-person scatter the discriminant stage learns.
        cmd = [args.velmora, "samples", os.path.join(args.data, "lfw"), "-o", samples, "--min-images", "2",
               "--json"]
        log("  " + " ".join(cmd))
        run_velmora_json(cmd, ok_codes=(0,))
    return samples


DEFAULT_MODEL = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "models", "velmora.model")


def velmora_model(args):
    """The model for ORL: --velmora-model, else the repository's default model (no ORL person is in LFW)."""
    if args.velmora_model:
        return args.velmora_model, "given"
    if not os.path.exists(DEFAULT_MODEL):
        raise RuntimeError("no default model at %s; give --velmora-model" % DEFAULT_MODEL)
    return DEFAULT_MODEL, "the default model, models/velmora.model"


def velmora_orl(args, fallback_eyes):
    out = os.path.join(args.work, "velmora_orl.csv")
    model, _ = velmora_model(args)
    cmd = [args.velmora, "evaluate", "orl", os.path.join(args.data, "orl"), "--json", "--csv", out,
           "--model", model, "--fallback-eyes", eyes_text(fallback_eyes)] + args.velmora_option
    log("  " + " ".join(cmd))
    doc = run_velmora_json(cmd, ok_codes=(0,))
    save_json(os.path.join(args.work, "velmora_evaluate_orl.json"), doc)
    return doc["rank1_rate"], doc


def velmora_lfw(args, fallback_eyes):
    """Our LFW rows: `velmora samples` over the LFW folder once (cached), then `velmora evaluate lfw`
    training for each fold on the sample file's people not in that fold."""
    samples = velmora_samples(args)
    out = os.path.join(args.work, "velmora_lfw_%s.csv" % args.velmora_recipe)
    cmd = [args.velmora, "evaluate", "lfw", os.path.join(args.data, "lfw"), args.pairs, "--json",
           "--train-samples", samples, "--recipe", args.velmora_recipe, "--csv", out,
           "--roc", os.path.join(args.work, "velmora_lfw_%s.svg" % args.velmora_recipe),
           "--fallback-eyes", eyes_text(fallback_eyes)] + args.velmora_option + args.velmora_lfw_option
    log("  " + " ".join(cmd))
    doc = run_velmora_json(cmd, ok_codes=(0,))
    save_json(os.path.join(args.work, "velmora_evaluate_lfw_%s.json" % args.velmora_recipe), doc)
    # The same measures as for the peers, from the same kind of scores.
    result = summarise_lfw(read_velmora_pair_scores(out))
    own = [f["accuracy"] for f in doc["folds"]]
    if max(abs(a - b) for a, b in zip(own, result["folds"])) > 0.01:
        log("  note: velmora's own per-fold accuracies %s differ from ours %s (threshold ties)"
            % (own, result["folds"]))
    return result, doc


# ------------------------------------------------------------------ report

CROP_NAMES = {"whole": "whole ORL photo, 92 x 112", "aligned": "eye-aligned, 70 x 70",
              "velmora": "Velmora normalised, 64 x 64"}


def pct(v):
    return "-" if v is None else "%.1f" % (100.0 * v)


def log(text):
    print(text, file=sys.stderr, flush=True)


def report(rows, args, fallbacks, caps):
    lines = ["### Accuracy", "",
             "ORL: images 1-5 of each of the 40 people enrolled, 6-10 probed, rank-1 identification. "
             "LFW: five-fold verification on pairs_dev.txt, trained for fold k on the LFW people not in "
             "fold k, threshold chosen on the other four folds; accuracy in %, mean +- standard error; "
             "EER in %, mean of the folds.", "",
             "| recogniser | crops | ORL rank-1 | LFW f1 | f2 | f3 | f4 | f5 | LFW mean +- SE | LFW EER |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        lfw = r.get("lfw")
        folds = lfw["folds"] if lfw else [None] * 5
        mean = "-" if not lfw else "%s +- %s" % (pct(lfw["mean"]), pct(lfw["se"]))
        lines.append("| %s | %s | %s | %s | %s | %s |" % (
            r["recogniser"], CROP_NAMES[r["crops"]], pct(r.get("orl")), " | ".join(pct(v) for v in folds), mean,
            pct(lfw["eer"]) if lfw else "-"))
    lines += ["", "### Speed", "",
              "Time per face: features (template) of one cropped face plus one match, in microseconds, "
              "minimum / median of 5 runs; 2 cores shared with other work.", "",
              "| recogniser | crops | per face (min) | per face (median) | measured on |",
              "|---|---|---:|---:|---|"]
    for r in rows:
        if r.get("time"):
            lines.append("| %s | %s | %.0f | %.0f | %s |" % (r["recogniser"], CROP_NAMES[r["crops"]], r["time"][0], r["time"][1],
                                                       r["time_note"]))
    lines += ["", "Faces without a detected face (median eyes used): ORL %d, LFW %d. "
              "Training images per LFW fold (images / people), capped at %s: %s." % (
                  fallbacks.get("orl", 0), fallbacks.get("lfw", 0), caps,
                  "; ".join("%s %s: %s" % (r["recogniser"], r["crops"],
                                          ", ".join("%d/%d" % s for s in r["sizes"]))
                            for r in rows if r.get("sizes") and r["sizes"][0][0]))]
    lines += [r["note"] for r in rows if r.get("note")]
    return "\n".join(lines) + "\n"


def write_csv(path, rows):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["recogniser", "crops", "orl_rank1"] + ["lfw_fold%d" % k for k in range(1, 6)]
                   + ["lfw_mean", "lfw_se", "lfw_eer", "time_us_min", "time_us_median"])
        for r in rows:
            lfw = r.get("lfw") or {}
            folds = lfw.get("folds") or [None] * 5
            t = r.get("time") or (None, None)

            def num(v):
                return "" if v is None else "%.6g" % v
            w.writerow([r["recogniser"], r["crops"], num(r.get("orl"))] + [num(v) for v in folds]
                       + [num(lfw.get("mean")), num(lfw.get("se")), num(lfw.get("eer")), num(t[0]), num(t[1])])


def parse_args(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--velmora", required=True, help="the velmora command-line tool")
    ap.add_argument("--data", required=True, help="folder holding orl/ and lfw/")
    ap.add_argument("--pairs", help="LFW pairs file (default: DATA/lfw/pairs_dev.txt)")
    ap.add_argument("--work", required=True, help="cache folder for eyes and crops, outside the repository")
    ap.add_argument("--csv", help="CSV of the results (default: WORK/peers.csv)")
    ap.add_argument("--bench-dir", help="folder of template_bench and compare_bench, for Velmora's speed")
    ap.add_argument("--cap", type=int, default=1000,
                    help="at most this many LFW training images for Eigen and Fisher (whole people drawn at "
                         "random; 0: all)")
    ap.add_argument("--jobs", type=int, default=2, help="velmora detect / cut runs at a time")
    ap.add_argument("--only", choices=("orl", "lfw"), help="run one protocol only")
    ap.add_argument("--skip-velmora", action="store_true", help="leave out `velmora evaluate`")
    ap.add_argument("--skip-peers", action="store_true", help="leave out the OpenCV recognisers")
    ap.add_argument("--velmora-model",
                    help="model for velmora evaluate orl (default: the repository's models/velmora.model)")
    ap.add_argument("--velmora-recipe", choices=("train", "refit"), default="refit",
                    help="how velmora evaluate lfw trains each fold's model")
    ap.add_argument("--velmora-option", action="append", default=[],
                    help="extra argument for both velmora evaluate runs (repeat for several)")
    ap.add_argument("--velmora-lfw-option", action="append", default=[],
                    help="extra argument for velmora evaluate lfw (repeat for several)")
    args = ap.parse_args(argv)
    args.pairs = args.pairs or os.path.join(args.data, "lfw", "pairs_dev.txt")
    args.csv = args.csv or os.path.join(args.work, "peers.csv")
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    work = os.path.abspath(args.work)
    if work == repo or work.startswith(repo + os.sep):
        ap.error("--work must lie outside the repository: it holds images derived from the face data")
    os.makedirs(args.work, exist_ok=True)
    return args


def main(argv):
    args = parse_args(argv)
    started = time.time()
    # ORL's photos are already roughly aligned and OpenCV's tutorial feeds them whole: a reference row.
    rows = [{"recogniser": k, "crops": c} for k in RECOGNISERS for c in ("whole",) + CROPS]
    if args.only == "lfw":
        rows = [r for r in rows if r["crops"] != "whole"]
    if args.skip_peers:
        rows = []
    fallbacks, median_eyes = {}, {}
    timing_faces = None

    if args.only in (None, "orl"):
        images = orl_images(args.data)
        crops, fallbacks["orl"], median_eyes["orl"] = prepare(args, "orl", images)
        crops["whole"] = np.stack([read_grey(p) for p in images])
        for r in rows:
            r["orl"] = orl_rank1(r["recogniser"], crops[r["crops"]])
            log("ORL %s on %s crops: rank-1 %.1f %%" % (r["recogniser"], r["crops"], 100 * r["orl"]))

    if args.only in (None, "lfw"):
        people = lfw_people(args.data)
        folds = read_pairs(args.pairs, args.data)
        images = [p for n in sorted(people) for p in people[n]]
        missing = [p for g, i in folds for pair in g + i for p in pair if p not in set(images)]
        if missing:
            raise RuntimeError("pairs name images that are not in the LFW folder, e.g. " + missing[0])
        index = {p: n for n, p in enumerate(images)}
        crops, fallbacks["lfw"], median_eyes["lfw"] = prepare(args, "lfw", images)
        for r in rows:
            if r["crops"] not in crops:
                continue
            log("LFW %s on %s crops" % (r["recogniser"], r["crops"]))
            scored, r["sizes"], model = lfw_scores(r["recogniser"], crops[r["crops"]], index, folds, people,
                                                   args.cap)
            r["lfw"] = summarise_lfw(scored)
            write_scores(os.path.join(args.work, "scores_%s_%s.csv" % (r["recogniser"], r["crops"])), scored)
            log("  accuracy %s +- %s %%, EER %s %%" % (pct(r["lfw"]["mean"]), pct(r["lfw"]["se"]),
                                                      pct(r["lfw"]["eer"])))
            r["time"] = time_per_face(r["recogniser"], model, crops[r["crops"]][:200])
            r["time_note"] = ("LFW fold-5 model, %d dimensions" % Subspace(model).basis.shape[0]
                              if model is not None else "16384-bin histograms")
        timing_faces = True

    if not args.skip_velmora:
        ours = {"recogniser": "Velmora (%s)" % args.velmora_recipe, "crops": "velmora"}
        try:
            if args.only in (None, "orl"):
                ours["orl"], _ = velmora_orl(args, median_eyes["orl"])
                ours["note"] = "Velmora's ORL model: %s." % velmora_model(args)[1]
                log("ORL velmora: rank-1 %.1f %%" % (100 * ours["orl"]))
            if args.only in (None, "lfw"):
                ours["lfw"], doc = velmora_lfw(args, median_eyes["lfw"])
                ours["sizes"] = [(f.get("train_faces", 0), f.get("train_people", 0)) for f in doc["folds"]]
                log("LFW velmora: accuracy %s +- %s %%, EER %s %%" % (
                    pct(ours["lfw"]["mean"]), pct(ours["lfw"]["se"]), pct(ours["lfw"]["eer"])))
        except RuntimeError as e:
            log("velmora evaluate: %s" % e)
        if timing_faces:
            ours["time"] = velmora_speed(args.bench_dir)
            ours["time_note"] = "template_bench + compare_bench (one vector)"
        rows.append(ours)

    caps = "%d images" % args.cap if args.cap else "no cap"
    text = report(rows, args, fallbacks, caps)
    print(text)
    write_csv(args.csv, rows)
    log("done in %.0f s; CSV: %s; pair scores: %s/scores_*.csv" % (time.time() - started, args.csv, args.work))


if __name__ == "__main__":
    main(sys.argv[1:])
