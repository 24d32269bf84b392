"""The velmora module against the velmora tool: same faces, scores, templates and galleries."""
import logging
import os
import pathlib
import pickle
import re
import struct
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import velmora
from conftest import MODEL, SOURCE, bgr_bmp, orl, tool


def test_readme_example_runs_as_written(photos, tmp_path):
    readme = (SOURCE / "README.md").read_text()
    section = readme[readme.index("\n## Python"):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    module_dir = os.path.dirname(velmora.__file__)
    run = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True,
                         env={**os.environ, "VELMORA_MODEL": str(MODEL),
                              "PYTHONPATH": os.pathsep.join([module_dir, os.environ.get("PYTHONPATH", "")])})
    assert run.returncode == 0, run.stderr
    # The tool's own decision on the different-person pair, whichever it is with this model.
    decided = "same person" if tool("compare", *photos)["same_person"] else "different people"
    assert run.stdout.splitlines()[:2] == ["same person", decided]
    assert "('A', " in run.stdout


def file_bytes(path):
    return pathlib.Path(path).read_bytes()


def test_faces_templates_and_scores_are_the_tool_s(model, photos, tmp_path):
    a_path, b_path = photos
    a, b = velmora.load_image(a_path), velmora.load_image(b_path)
    assert a.dtype == np.uint8 and a.ndim == 2

    detected = tool("detect", a_path, b_path)
    faces = velmora.find_faces(b)
    assert [f.eyes for f in faces] == [(e["left_eye"]["x"], e["left_eye"]["y"], e["right_eye"]["x"],
                                        e["right_eye"]["y"]) for e in detected["images"][1]["faces"]]
    assert faces and velmora.find_face(b) == faces[0]
    for f in faces:  # each box holds its eyes; a face made from eyes has none
        x, y, w, h = f.box
        assert all(x < ex < x + w and y < ey < y + h for ex, ey in (f.left_eye, f.right_eye))
    assert velmora.Face(faces[0].left_eye, faces[0].right_eye).box is None

    # Templates: the tool's file, bytes and vectors describe one and the same template.
    tool("template", a_path, "-o", tmp_path / "a.tpl")
    ta = model.template(a)
    assert file_bytes(tmp_path / "a.tpl") == bytes(ta) == bytes(velmora.Template.load(tmp_path / "a.tpl"))
    assert velmora.Template.from_bytes(bytes(ta)) == ta == pickle.loads(pickle.dumps(ta))
    assert ta.vectors.shape == (6, 200) and len(ta) == 6 and ta.dimension == 200
    np.testing.assert_array_equal(ta.vectors.ravel(), np.frombuffer(bytes(ta)[8:], "<f8"))
    # Its second vector is the face of the photo mirrored left to right.
    lx, ly, rx, ry = velmora.find_face(a).eyes
    w = a.shape[1]
    (tmp_path / "m.pgm").write_bytes(b"P5 %d %d 255\n" % (w, a.shape[0]) + a[:, ::-1].tobytes())
    tool("template", tmp_path / "m.pgm", "-o", tmp_path / "m.tpl", "--single-vector",
         "--eyes", "%d,%d,%d,%d" % (w - 1 - rx, ry, w - 1 - lx, ly))
    np.testing.assert_array_equal(velmora.Template.load(tmp_path / "m.tpl").vectors[0], ta.vectors[1])
    # Its third is the face cut with the eyes a pixel further apart.
    tool("template", a_path, "-o", tmp_path / "w.tpl", "--single-vector", "--eyes", "%d,%d,%d,%d" % (lx - 1, ly, rx + 1, ry))
    np.testing.assert_array_equal(velmora.Template.load(tmp_path / "w.tpl").vectors[0], ta.vectors[2])
    # Eyes 3 pixels apart cannot come 2 closer: the face as found (and its mirror image) stands in.
    tool("template", a_path, "-o", tmp_path / "c.tpl", "--eyes", "%d,%d,%d,%d" % (lx, ly, lx + 3, ly))
    close = velmora.Template.load(tmp_path / "c.tpl").vectors
    assert (close[4:] == close[:2]).all() and not (close[2] == close[0]).all()
    ta.save(tmp_path / "py.tpl")
    assert tool("compare", tmp_path / "py.tpl", tmp_path / "a.tpl", "--mode", "max")["score"] == pytest.approx(1.0)

    # The same score as the tool's, exactly: it prints each double so that it reads back unchanged.
    theirs = tool("compare", a_path, b_path)
    tb = model.template(b)
    assert model.compare(a, b) == theirs["score"] == velmora.compare(ta, tb)
    assert model.same_person(ta, tb) == theirs["same_person"]
    assert model.threshold == theirs["threshold"]

    # Several photos, one template: the tool's joined file, merge, and the modes.
    tool("template", a_path, b_path, "-o", tmp_path / "ab.tpl")
    both = velmora.Template.merge(model.templates([a, b]))
    assert bytes(both) == file_bytes(tmp_path / "ab.tpl") and len(both) == 12
    for mode in ("mean", "line"):
        assert model.compare(both, ta, mode) == tool("compare", tmp_path / "ab.tpl", tmp_path / "a.tpl",
                                                     "--mode", mode)["score"]

    # Cuts: the tool's files; a strided view and a BGR colour array give what their copies give.
    eyes = faces[0]
    tool("cut", b_path, "-o", tmp_path / "cut.png", "--eyes", ",".join(map(str, eyes.eyes)))
    np.testing.assert_array_equal(velmora.cut(b, eyes), velmora.load_image(tmp_path / "cut.png"))
    assert velmora.cut(b, eyes).shape == (64, 64)
    assert velmora.cut_display(b, eyes.eyes, 100).shape == (122, 100)
    flipped = b[:, ::-1]
    assert velmora.find_faces(flipped) == velmora.find_faces(np.ascontiguousarray(flipped))
    colour = np.stack([b, np.roll(b, 7, axis=1), np.roll(b, 3, axis=0)], axis=2)
    bgr_bmp(tmp_path / "colour.bmp", colour)
    np.testing.assert_array_equal(velmora.cut(colour, eyes), velmora.cut(velmora.load_image(tmp_path / "colour.bmp"), eyes))


def test_gallery_file_is_shared_with_the_tool(model, photos, tmp_path):
    a_path, b_path = photos
    a, b = velmora.load_image(a_path), velmora.load_image(b_path)
    a_again = velmora.cut_display(a, velmora.find_face(a), 200)
    db = tmp_path / "g.db"
    tool("enroll", "--gallery", db, "A", a_path)
    with velmora.Gallery(db, model) as gallery:
        assert gallery.names() == ["A"] and len(gallery) == 1 and "A" in gallery
        assert gallery.template("A") == model.template(a)
        assert gallery.enroll("B", [b, model.template(velmora.cut_display(b, velmora.find_face(b), 200))]) == 12
        ranked = gallery.identify(a_again, top=5)
        assert [name for name, _ in ranked] == ["A", "B"] and ranked[0][1] == model.compare(a_again, a, "line")
        assert gallery.identify(model.template(b), top=1)[0][0] == "B"
        with pytest.raises(velmora.NotEnrolledError) as raised:
            gallery.remove("C")
        assert isinstance(raised.value, KeyError)
    with pytest.raises(velmora.GalleryError, match="closed"):
        gallery.names()

    listed = tool("gallery", "list", "--gallery", db)
    assert [(p["name"], p["vectors"]) for p in listed["people"]] == [("A", 6), ("B", 12)]
    answer = tool("identify", "--gallery", db, b_path)["results"][0]
    assert answer["answer"] == "B"
    velmora.Gallery(db, model).remove("A")
    assert [p["name"] for p in tool("gallery", "list", "--gallery", db)["people"]] == ["B"]

    # A gallery of another model is refused.
    other = tmp_path / "other.model"
    other.write_bytes(MODEL.read_bytes())
    with open(other, "r+b") as f:
        f.seek(20)
        f.write(b"\x01")
    with pytest.raises(velmora.GalleryError, match="not with other.model"):
        velmora.Gallery(db, velmora.Model(other))


def test_bad_input_raises_the_documented_errors(model, tmp_path, caplog):
    grey = np.zeros((40, 30), np.uint8)
    cases = [
        (lambda: velmora.find_faces(grey.astype(np.float32)), velmora.InvalidTypeError, TypeError, "uint8"),
        (lambda: velmora.find_faces(grey.tolist()), velmora.InvalidTypeError, TypeError, "NumPy array"),
        (lambda: velmora.find_faces(np.zeros((4, 4, 4), np.uint8)), velmora.InvalidValueError, ValueError,
         r"\(4, 4, 4\)"),
        (lambda: velmora.find_faces(np.zeros((0, 4), np.uint8)), velmora.InvalidValueError, ValueError, "empty"),
        (lambda: velmora.cut(grey, (10, 10, 11, 10)), velmora.InvalidValueError, ValueError, "3 pixels"),
        (lambda: velmora.cut(grey, (1, 2, 3)), velmora.InvalidValueError, ValueError, "eyes"),
        (lambda: velmora.cut(grey, (-2**31, 5, 2**31 - 1, 5)), velmora.InvalidValueError, ValueError, "range"),
        (lambda: velmora.cut(grey, "eyes"), velmora.InvalidTypeError, TypeError, "eyes"),
        (lambda: velmora.cut_display(grey, (1, 2, 20, 2), 0), velmora.InvalidValueError, ValueError, "width"),
        (lambda: model.template(grey), velmora.NoFaceError, velmora.Error, "no face"),
        (lambda: model.templates([grey, grey]), velmora.NoFaceError, velmora.Error, "image 0"),
        (lambda: velmora.load_image(tmp_path / "absent.png"), velmora.FileError, OSError, "not found"),
        (lambda: velmora.Template.load(tmp_path / "absent.tpl"), velmora.FileError, OSError, "not found"),
        (lambda: velmora.Template.from_bytes(b"\x01\x00\x00\x00\x02\x00\x00\x00" + bytes(8)),
         velmora.InvalidValueError, ValueError, "not a template"),
        (lambda: velmora.Model(tmp_path / "absent.model"), velmora.ModelError, velmora.Error, "not found"),
        (lambda: velmora.Gallery(tmp_path / "absent.db", model, create=False), velmora.FileError, OSError, ""),
        (lambda: velmora.train(tmp_path / "absent.samples", tmp_path / "m.model"), velmora.FileError, OSError, ""),
        (lambda: velmora.train(tmp_path / "absent.samples", tmp_path / "m.model", recipe="x"),
         velmora.InvalidValueError, ValueError, "recipe"),
    ]
    for call, error, base, text in cases:
        with pytest.raises(error, match=text) as raised:
            call()
        assert isinstance(raised.value, base)
    assert velmora.find_face(grey) is None and velmora.find_faces(grey) == []

    t1 = velmora.Template.from_bytes(b"\x01\x00\x00\x00\x01\x00\x00\x00" + np.float64(1).tobytes())
    t2 = velmora.Template.from_bytes(b"\x01\x00\x00\x00\x02\x00\x00\x00" + np.ones(2).tobytes())
    for bad in (lambda: velmora.compare(t1, t2), lambda: velmora.compare(t1, t1, "median"),
                lambda: velmora.Template.merge([t1, t2])):
        with pytest.raises(velmora.Error):
            bad()

    # A truncated model: the library's complaint reaches logging, not stderr.
    truncated = tmp_path / "truncated.model"
    truncated.write_bytes(MODEL.read_bytes()[:-1000])
    with caplog.at_level(logging.WARNING, logger="velmora"), pytest.raises(velmora.ModelError):
        velmora.Model(truncated)
    # The message names the counts the file announces: L vectors of E values after the PCA block.
    d, k = struct.unpack_from("<ii", MODEL.read_bytes(), 4)
    _, count, dim = struct.unpack_from("<iii", MODEL.read_bytes(), 12 + 17 * d + 8 * k + 8 * k * d)
    need = 8 * count * dim
    assert [r.getMessage() for r in caplog.records if r.name == "velmora"] == [
        f"LDA Read Eigen error (model file: {count} discriminant vectors of {dim} values need {need} bytes, "
        f"{need - 1000} are left)"]


def test_threads_take_turns_and_release_the_gil(model):
    photos = [velmora.load_image(orl(person, n)) for person in (1, 2, 3) for n in (1, 6)]
    alone = [bytes(t) for t in model.templates(photos)]
    results, took = {}, {}

    def work(key, times=1):
        start = time.perf_counter()
        results[key] = [bytes(t) for t in model.templates(photos * times)][: len(photos)]
        took[key] = time.perf_counter() - start

    workers = [threading.Thread(target=work, args=(k,)) for k in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert results == {0: alone, 1: alone}

    # During one long call, Python code keeps running in this thread: the GIL is free.
    worker = threading.Thread(target=work, args=(2, 4))
    worker.start()
    slices = set()
    while worker.is_alive():
        slices.add(int(time.perf_counter() / 0.02))
    worker.join()
    assert results[2] == alone
    assert len(slices) > took[2] / 0.02 / 3


def sample_file(path, people, per_person, size, seed):
    """A sample file (16-byte header, a count and the samples per class) of random samples."""
    rng = np.random.default_rng(seed)
    header = np.array([size[0], size[1], people * per_person, people], "<i4").tobytes()
    body = b"".join(np.array([per_person], "<i4").tobytes() +
                    rng.integers(0, 256, (per_person, size[0] * size[1]), np.uint8).tobytes()
                    for _ in range(people))
    pathlib.Path(path).write_bytes(header + body)


def test_train_and_increase_are_the_tool_s(model, tmp_path):
    probe, eyes = np.random.default_rng(3).integers(0, 256, (80, 80), np.uint8), (20, 30, 60, 30)
    before = model.template(probe, eyes)
    # 210 random people, three samples and three faces each: the least a refit trains on.
    samples = tmp_path / "s.samples"
    sample_file(samples, 210, 3, (7840, 1), 1)
    sample_file(tmp_path / "s.samples.faces", 210, 3, (64, 64), 2)
    report = velmora.train(samples, tmp_path / "py.model")
    assert (report["recipe"], report["people"], report["samples"]) == ("refit", 210, 630)
    tool("train", samples, "-o", tmp_path / "tool.model", "--recipe", "refit")
    assert (tmp_path / "py.model").read_bytes() == (tmp_path / "tool.model").read_bytes()

    report = velmora.increase(tmp_path / "s.samples.faces", tmp_path / "py2.model", model=tmp_path / "py.model")
    tool("increase", tmp_path / "s.samples.faces", "-o", tmp_path / "tool2.model", "--model", tmp_path / "py.model")
    assert (tmp_path / "py2.model").read_bytes() == (tmp_path / "tool2.model").read_bytes()
    assert report["output"] == str(tmp_path / "py2.model")

    # Training replaced the model in the library's memory: each Model gets its own back.
    assert model.template(probe, eyes) == before
    assert velmora.Model(tmp_path / "py2.model").template(probe, eyes) != before
