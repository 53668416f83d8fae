#!/usr/bin/env python3
"""Start-up benchmarks of the Linux launcher (run by hand, after
scripts/build.sh):

1. A packed hello application against `java -cp hello.jar` on the same JVM:
   whole-process wall time, runs alternating, medians and their ratio.
2. The launcher's own time before JVM creation, for a 1 MB and a 200 MB
   payload: the stub is pointed at a JVM library whose creation entry refuses
   at once, so the process does everything up to creating the JVM and then
   ends (with code 4).

Usage: tests/bench/startup_bench.py [ROUNDS]"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.path.join(ROOT, "dist", "nxo")
JDK = "/usr/lib/jvm/java-17-openjdk-amd64"
ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 20

HELLO = """package app;
public class Hello { public static void main(String[] a) { System.out.println("hello"); } }
"""
REFUSING_JVM = "int JNI_CreateJavaVM(void** vm, void** env, void* args) { return -1; }\n"


def timed(cmd, expect):
    start = time.perf_counter()
    result = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if result.returncode != expect:
        raise SystemExit(f"{cmd[0]} exited {result.returncode}, expected {expect}")
    return elapsed


def alternate(commands, rounds):
    """{name: [seconds]} with the commands run in turn, round after round."""
    times = {name: [] for name, _, _ in commands}
    for _ in range(rounds):
        for name, cmd, expect in commands:
            times[name].append(timed(cmd, expect))
    return {name: statistics.median(values) for name, values in times.items()}


def pack(work, name, jar, lines, filler_mb=0):
    config = os.path.join(work, name + ".cfg.in")
    with open(config, "w") as f:
        f.write("\n".join(lines) + "\n")
    inputs = [jar]
    if filler_mb:
        filler = os.path.join(work, f"filler{filler_mb}.jar")
        with open(os.path.join(work, "blob.bin"), "wb") as f:
            f.write(os.urandom(filler_mb << 20))
        subprocess.run(["jar", "--create", "--no-compress", "--file", filler, "-C", work, "blob.bin"],
                       check=True)
        inputs.append(filler)
    exe = os.path.join(work, name)
    subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Hello", "--config", config,
                    "-o", exe, *inputs], check=True, stdout=subprocess.DEVNULL)
    return exe


def main():
    work = tempfile.mkdtemp(prefix="nxo-startup-bench-")
    os.makedirs(os.path.join(work, "src", "app"))
    with open(os.path.join(work, "src", "app", "Hello.java"), "w") as f:
        f.write(HELLO)
    subprocess.run(["javac", "--release", "8", "-d", os.path.join(work, "classes"),
                    os.path.join(work, "src", "app", "Hello.java")], check=True)
    jar = os.path.join(work, "hello.jar")
    subprocess.run(["jar", "--create", "--file", jar, "-C", os.path.join(work, "classes"), "."],
                   check=True)

    java = os.path.join(JDK, "bin", "java")
    packed = pack(work, "hello", jar, [f"jvmdll {JDK}/lib/server/libjvm.so", "jre_order c"])
    medians = alternate([("packed", [packed], 0), ("java -cp", [java, "-cp", jar, "app.Hello"], 0)],
                        ROUNDS)
    print(f"packed hello      {medians['packed'] * 1000:8.1f} ms (median of {ROUNDS})")
    print(f"java -cp hello    {medians['java -cp'] * 1000:8.1f} ms")
    print(f"ratio             {medians['packed'] / medians['java -cp']:8.3f}")

    refusing = os.path.join(work, "libjvm.so")
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-x", "c", "-", "-o", refusing],
                   input=REFUSING_JVM.encode(), check=True)
    small = pack(work, "small", jar, [f"jvmdll {refusing}", "jre_order c"], filler_mb=1)
    large = pack(work, "large", jar, [f"jvmdll {refusing}", "jre_order c"], filler_mb=200)
    # A process that does nothing, started the same way, is the floor the
    # launcher's own time sits on.
    medians = alternate([("1 MB", [small], 4), ("200 MB", [large], 4), ("nothing", ["/bin/true"], 0)],
                        ROUNDS * 2)
    for name in ("1 MB", "200 MB"):
        print(f"up to JVM creation, {name:>6} payload: {medians[name] * 1000:6.2f} ms whole process, "
              f"{(medians[name] - medians['nothing']) * 1000:6.2f} ms above /bin/true")


if __name__ == "__main__":
    main()
