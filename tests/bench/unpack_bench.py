#!/usr/bin/env python3
"""What `nxo pack --unpack` costs at start (run by hand, after
scripts/build.sh; needs hyperfine).

Packs a small application with a library jar of about 8 MB (2,000 entries)
twice, with and without --unpack, and times whole starts with hyperfine:
the nested jar, the first start with --unpack (the cache emptied before each
run, so the jar is copied and checked), and the warm start (the copy is
there and only its size and CRC are checked).

Usage: tests/bench/unpack_bench.py [RUNS]"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.path.join(ROOT, "dist", "nxo")
JDK = "/usr/lib/jvm/java-17-openjdk-amd64"
RUNS = sys.argv[1] if len(sys.argv) > 1 else "10"

MAIN = """package app;
public class Main { public static void main(String[] a) throws Exception {
    System.out.println(Main.class.getClassLoader().getResource("lib/0.bin"));
} }
"""


def main():
    work = tempfile.mkdtemp(prefix="nxo-unpack-bench-")
    try:
        os.makedirs(os.path.join(work, "src", "app"))
        with open(os.path.join(work, "src", "app", "Main.java"), "w") as f:
            f.write(MAIN)
        subprocess.run([os.path.join(JDK, "bin", "javac"), "-d", os.path.join(work, "classes"),
                        os.path.join(work, "src", "app", "Main.java")], check=True)
        app = os.path.join(work, "app.jar")
        subprocess.run([os.path.join(JDK, "bin", "jar"), "--create", "--file", app, "-C",
                        os.path.join(work, "classes"), "."], check=True)
        library = os.path.join(work, "library.jar")
        rng = random.Random(1)
        with zipfile.ZipFile(library, "w", zipfile.ZIP_STORED) as z:
            for i in range(2000):
                z.writestr("lib/%d.bin" % i, rng.randbytes(4096))
        exes = {}
        for name, options in (("nested", []), ("unpack", ["--unpack", "library.jar"])):
            exes[name] = os.path.join(work, name)
            subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--set", "jre_order=e",
                            *options, "-o", exes[name], app, library], check=True)
        cache = os.path.join(work, "cache")
        env = "env JAVA_HOME=%s XDG_CACHE_HOME=%s " % (JDK, cache)
        # One prepare command per benchmark, in order: only the first-start
        # runs begin with an empty cache.
        subprocess.run(["hyperfine", "-N", "--warmup", "2", "--runs", RUNS,
                        "--prepare", "true", "--prepare", "rm -rf " + cache, "--prepare", "true",
                        "--command-name=nested jar", "--command-name=unpack, first start", "--command-name=unpack, warm",
                        env + exes["nested"], env + exes["unpack"], env + exes["unpack"]], check=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
