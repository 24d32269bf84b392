"""Shared pieces of the Python tests: the tool, the photos, the model."""
import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

import velmora

SOURCE = pathlib.Path(os.environ.get("VELMORA_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
MODEL = SOURCE / "models" / "velmora.model"
DATA = SOURCE.parent / "shared" / "data"
# The portraits that opencv-doc ships (scripts/setup.sh installs it): A shows one man, B two others.
PHOTO_A = pathlib.Path("/usr/share/doc/opencv-doc/opencv4/html/227943776_1.jpg")
PHOTO_B = pathlib.Path("/usr/share/doc/opencv-doc/examples/data/messi5.jpg")


@pytest.fixture(scope="session", autouse=True)
def default_model():
    """Python and the tool both take the source tree's model, whatever is installed."""
    if not MODEL.is_file():
        pytest.fail(f"no model at {MODEL}")
    os.environ["VELMORA_MODEL"] = str(MODEL)


@pytest.fixture(scope="session")
def model():
    return velmora.Model()


@pytest.fixture(scope="session")
def photos():
    if not (PHOTO_A.is_file() and PHOTO_B.is_file()):
        pytest.skip("the opencv-doc photos are absent (apt-get install opencv-doc)")
    return PHOTO_A, PHOTO_B


def orl(person, number):
    path = DATA / "orl" / f"s{person}" / f"{number}.pgm"
    if not path.is_file():
        pytest.skip(f"ORL photos are absent ({path})")
    return path


def tool(*args, json_out=True, ok=(0,)):
    """Runs the velmora tool built beside this module; returns its parsed --json output."""
    exe = os.environ.get("VELMORA_TOOL", "velmora")
    run = subprocess.run([exe, *map(str, args), *(["--json"] if json_out else [])],
                         capture_output=True, text=True, env={**os.environ, "VELMORA_MODEL": str(MODEL)})
    assert run.returncode in ok, f"velmora {' '.join(map(str, args))}: {run.returncode}\n{run.stderr}"
    return json.loads(run.stdout) if json_out else run


def bgr_bmp(path, bgr):
    """Writes a 24-bit BMP of a (H, W, 3) BGR array, the plainest colour file the tool reads."""
    h, w, _ = bgr.shape
    row = (3 * w + 3) // 4 * 4
    header = b"BM" + (54 + row * h).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    info = (40).to_bytes(4, "little") + w.to_bytes(4, "little") + h.to_bytes(4, "little") + \
        (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(24)
    rows = np.zeros((h, row), np.uint8)
    rows[:, :3 * w] = bgr[::-1].reshape(h, 3 * w)
    pathlib.Path(path).write_bytes(header + info + rows.tobytes())
