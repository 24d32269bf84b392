#!/usr/bin/env bash
# Installs what Velmora needs from Debian, builds it into build/, installs it
# (with its Python module) under /usr/local and runs the installed tool once on
# two portraits that a Debian package ships (scripts/demo.sh). Run it on Debian 12
# as root, or as the user who will run the tests (it calls sudo for the
# installing steps only).
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(build-essential cmake pkg-config libgtest-dev libbenchmark-dev
          libopencv-dev opencv-data opencv-doc libcli11-dev nlohmann-json3-dev liblapack-dev libsqlite3-dev
          libdlib-dev libdlib-data
          python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
$SUDO cmake --install build
$SUDO ldconfig
# The Python module installs where Debian's interpreter looks.
/usr/bin/python3 -c "import velmora" || { echo "setup.sh: the velmora Python module does not import" >&2; exit 1; }

# Main job: the installed tool finds faces and scores a same-person and a
# different-person pair.
prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' build/CMakeCache.txt)"
scripts/demo.sh --tool "${prefix:-/usr/local}/bin/velmora"
