#!/bin/sh
# Runs every test: the native suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows suite under Wine (with a virtual X
# display), and each fuzzer for a short while. Ends with one summary line.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/build.sh" --no-demo || exit 1
jobs=$(nproc)
status=0
passed=0
failed=0

# Runs ctest in build directory $1 and adds its counts to the totals.
run_ctest() {
  dir=$1
  shift
  log="$root/$dir/ctest-summary.log"
  (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    status=1
    return
  fi
  total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || status=1
}

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
  run_ctest build/linux-test -j "$jobs" || status=1

# The Windows suite runs as the x86-64 build everywhere, and as the i686 build
# under 32-bit Wine where this machine runs 32-bit programs (see
# scripts/wine-run); elsewhere the 32-bit stub is checked as a file above.
echo "== Windows tests under Wine (x86-64 build)"
cmake -S . -B build/win64-test -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
  cmake --build build/win64-test -j "$jobs" &&
  scripts/wine-run --boot &&
  run_ctest build/win64-test || status=1

if scripts/can-run-i386; then
  echo "== Windows tests under 32-bit Wine (i686 build)"
  export NXO_WINE_BITS=32
  cmake -S . -B build/win32-test -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
    cmake --build build/win32-test -j "$jobs" &&
    run_ctest build/win32-test || status=1
  unset NXO_WINE_BITS
else
  echo "== Windows tests: this machine cannot run 32-bit x86 programs; ran the x86-64 build alone"
fi

echo "== fuzzers"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNXO_BUILD_FUZZERS=ON -DNXO_BUILD_TESTS=OFF -DNXO_BUILD_TOOLS=OFF >/dev/null &&
  cmake --build build/fuzz -j "$jobs" &&
  run_ctest build/fuzz -j "$jobs" || status=1

echo
[ "$status" -eq 0 ] || echo "some stage failed: see the output above"
echo "tests: $passed passed, $failed failed"
exit $status
