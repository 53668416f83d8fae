#!/bin/sh
# The main job: builds the Linux and Windows (32- and 64-bit) products into
# dist/, then packs the example application for both targets and runs the
# Linux one.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"

jobs=$(nproc)
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DNXO_BUILD_TESTS=OFF \
  -DNXO_DIST_DIR="$root/dist" >/dev/null
cmake --build build/linux -j "$jobs"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DNXO_BUILD_TESTS=OFF -DNXO_DIST_DIR="$root/dist" >/dev/null
cmake --build build/win32 -j "$jobs"
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DNXO_BUILD_TESTS=OFF -DNXO_DIST_DIR="$root/dist" >/dev/null
cmake --build build/win64 -j "$jobs"

[ "${1:-}" = "--no-demo" ] && exit 0
if [ -x scripts/demo.sh ]; then
  exec scripts/demo.sh
fi
echo "built: $(ls dist/stubs)"
