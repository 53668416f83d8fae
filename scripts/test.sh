#!/bin/sh
# Runs every test: the native suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows suite under Wine (with a virtual X
# display), and each fuzzer for a short while.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/build.sh" --no-demo || exit 1
jobs=$(nproc)
status=0

# A display for the tests that open windows.
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :87 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null' EXIT
  export DISPLAY=:87
fi

echo "== native tests (ASan/UBSan)"
cmake -S . -B build/linux-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNXO_SANITIZE=ON >/dev/null &&
  cmake --build build/linux-test -j "$jobs" &&
  (cd build/linux-test && ctest -j "$jobs" --output-on-failure) || status=1

echo "== Windows tests under Wine"
scripts/wine-run --boot || status=1
(cd build/win32 && ctest --output-on-failure) || status=1

echo "== fuzzers"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNXO_BUILD_FUZZERS=ON -DNXO_BUILD_TESTS=OFF -DNXO_BUILD_TOOLS=OFF >/dev/null &&
  cmake --build build/fuzz -j "$jobs" &&
  (cd build/fuzz && ctest -j "$jobs" --output-on-failure) || status=1

exit $status
