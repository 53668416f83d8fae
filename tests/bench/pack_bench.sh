#!/bin/sh
# Packing speed: nxo pack of 200 MB of generated jars against "zip -0" of the
# same files (both store the jars: they copy and checksum every byte). Not
# part of the test run; prints wall times (best of $RUNS) and the ratio.
#
# Usage: tests/bench/pack_bench.sh [NXO [STUB [SUPPORT_JAR]]]
# Defaults: build/tools/tools/nxo/nxo, build/tools/launcher/nxo-linux, and a
# small support jar made here with javac and jar.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
nxo=${1:-$root/build/tools/tools/nxo/nxo}
stub=${2:-$root/build/tools/launcher/nxo-linux}
support=${3:-}
total_mb=${TOTAL_MB:-200}
jars=${JARS:-40}
RUNS=${RUNS:-3}

work=$(mktemp -d "${TMPDIR:-/tmp}/nxo-pack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Jars of incompressible entries, so that neither tool can win by deflating.
python3 - "$work/lib" "$total_mb" "$jars" <<'PY'
import os, sys, zipfile
out, total_mb, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
os.makedirs(out)
per_jar = total_mb * 1024 * 1024 // count
for j in range(count):
    with zipfile.ZipFile(os.path.join(out, "lib%03d.jar" % j), "w", zipfile.ZIP_STORED) as z:
        left, n = per_jar, 0
        while left > 0:
            size = min(left, 256 * 1024)
            z.writestr("data/e%05d.bin" % n, os.urandom(size))
            left -= size
            n += 1
PY

if [ -z "$support" ]; then
  mkdir -p "$work/src/probe" "$work/classes"
  echo 'package probe; public class Main { public static void main(String[] a) {} }' > "$work/src/probe/Main.java"
  javac -d "$work/classes" "$work/src/probe/Main.java"
  jar cf "$work/support.jar" -C "$work/classes" .
  support=$work/support.jar
fi

best() {  # best wall time in seconds of running "$@" $RUNS times
  b=""
  for _ in $(seq "$RUNS"); do
    rm -f "$work/out" "$work/out.zip"
    /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null
    t=$(tail -1 "$work/time")
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

cd "$work"
du -sh lib | sed 's/^/input: /'
nxo_time=$(best "$nxo" pack --target linux --stub "$stub" --support "$support" -m probe.Main -o "$work/out" --lib lib)
nxo_integrity_time=$(best "$nxo" pack --target linux --stub "$stub" --support "$support" -m probe.Main -o "$work/out" --lib lib --verify-integrity)
zip_time=$(best zip -q -0 -r "$work/out.zip" lib)
echo "nxo pack:                    ${nxo_time} s"
echo "nxo pack --verify-integrity: ${nxo_integrity_time} s"
echo "zip -0:                      ${zip_time} s"
echo "ratio nxo/zip:               $(echo "scale=2; $nxo_time / $zip_time" | bc)"
echo "ratio nxo (integrity)/zip:   $(echo "scale=2; $nxo_integrity_time / $zip_time" | bc)"
