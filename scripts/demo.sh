#!/usr/bin/env bash
# Runs the velmora tool once on two portraits that Debian's opencv-doc package
# ships: finds the faces and their eyes, then scores a same-person pair and a
# different-person pair with the default model.
#
#   scripts/demo.sh [--tool PATH] [--out FOLDER]
#
# The tool is PATH, else $VELMORA, else the installed velmora, else the one in
# build/. The model is the tool's default ($VELMORA_MODEL, the installed one, or
# models/velmora.model of the source tree). Without a model the demo shows the
# detection, says that no model is present and still ends with success.
set -euo pipefail
cd "$(dirname "$0")/.."

tool="${VELMORA:-}"
out="${VELMORA_DEMO_DIR:-${TMPDIR:-/tmp}/velmora-demo}"
while [ $# -gt 0 ]; do
  case "$1" in
    --tool) tool="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done
if [ -z "$tool" ]; then
  if command -v velmora >/dev/null 2>&1; then tool="$(command -v velmora)"
  elif [ -x build/tools/velmora/velmora ]; then tool="$PWD/build/tools/velmora/velmora"
  else echo "demo.sh: no velmora tool found: build it (scripts/setup.sh) or give --tool PATH" >&2; exit 3
  fi
fi

# Two photos of two different men from the OpenCV documentation: a portrait from
# its face swapping tutorial and its classic football sample. Machines that leave
# /usr/share/doc out of installed packages get them from the package file itself.
package=opencv-doc
photo_a=/usr/share/doc/opencv-doc/opencv4/html/227943776_1.jpg
photo_b=/usr/share/doc/opencv-doc/examples/data/messi5.jpg
mkdir -p "$out"
a="$photo_a"
b="$photo_b"
if [ ! -f "$a" ] || [ ! -f "$b" ]; then
  echo "The photos are not in /usr/share/doc; taking them from the $package package file."
  if ! (cd "$out" && rm -f ${package}_*.deb && apt-get download "$package" >"$out/apt.log" 2>&1); then
    cat "$out/apt.log" >&2
    echo "demo.sh: cannot get the $package package; install it (apt-get install $package)" >&2
    exit 3
  fi
  dpkg-deb --fsys-tarfile "$out"/${package}_*.deb | tar -x -C "$out" ".$photo_a" ".$photo_b"
  rm -f "$out"/${package}_*.deb
  a="$out$photo_a"
  b="$out$photo_b"
fi
again="$out/A-again.png"

echo "Velmora demo: $tool"
echo "  photo A:       $a"
echo "  photo B:       $b (someone else)"
echo
echo "1. Faces and eye centres (velmora detect):"
"$tool" detect "$a" --draw "$out/A-marked.png" | sed 's/^/   /'
"$tool" detect "$b" --draw "$out/B-marked.png" | sed 's/^/   /'
# A second photo of person A: A's face cut out again larger, turned so that the
# eyes are level, rescaled and made grey. It goes through face finding anew.
"$tool" cut "$a" --display 200 -o "$again" >/dev/null
echo "   A again ($again: A's face cut out, eyes levelled, rescaled, grey):"
"$tool" detect "$again" | sed 's/^/   /'
echo

compare() {
  local rc=0
  "$tool" compare "$1" "$2" >"$out/compare.txt" 2>"$out/compare.err" || rc=$?
  if [ "$rc" -eq 5 ]; then
    echo "   No model is present, so there are no scores yet."
    sed 's/^velmora: //; s/^/   /' "$out/compare.err"
    if [ ! -f models/velmora.model ]; then
      echo "   This source tree has no default model (models/velmora.model) yet."
    fi
    echo "   With a model of your own ('velmora samples', then 'velmora train'), run:"
    echo "   VELMORA_MODEL=FILE scripts/demo.sh"
    return 5
  elif [ "$rc" -ne 0 ]; then
    sed 's/^/   /' "$out/compare.err" >&2
    exit "$rc"
  fi
  sed 's/^/   /' "$out/compare.txt"
}

echo "2. Same person, A against A again (velmora compare):"
compare "$a" "$again" || exit 0
echo
echo "3. Different people, A against B (velmora compare):"
compare "$a" "$b"
