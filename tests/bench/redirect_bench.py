#!/usr/bin/env python3
"""Output redirection throughput of the Linux launcher (run by hand, after
scripts/build.sh): one packed application prints LINES lines with
System.out.println, its output going

  file:  to a "stdout" file target,   against the shell's `app > file`;
  pipe:  to a "stdout |cat" target,   against the shell's `app | cat > file`.

Runs alternate, round after round; the report gives median lines per second
and the launcher's figure as a share of the shell's (goal: at least 90%).

Usage: tests/bench/redirect_bench.py [ROUNDS] [LINES]"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.path.join(ROOT, "dist", "nxo")
JDK = "/usr/lib/jvm/java-17-openjdk-amd64"
ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 7
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000

PRINTER = """package app;
public class Printer {
    public static void main(String[] a) {
        int n = Integer.getInteger("lines");
        for (int i = 0; i < n; i++) System.out.println("line " + i + " of the redirection benchmark");
    }
}
"""


def main():
    work = tempfile.mkdtemp(prefix="nxo-redirect-bench-")
    try:
        os.makedirs(os.path.join(work, "src", "app"))
        with open(os.path.join(work, "src", "app", "Printer.java"), "w") as f:
            f.write(PRINTER)
        subprocess.run(["javac", "-d", os.path.join(work, "classes"),
                        os.path.join(work, "src", "app", "Printer.java")], check=True)
        jar = os.path.join(work, "printer.jar")
        subprocess.run(["jar", "--create", "--file", jar, "-C", os.path.join(work, "classes"), "."], check=True)
        config = os.path.join(work, "packed.cfg")
        with open(config, "w") as f:
            f.write(f"jre_order e\nproperty lines={LINES}\n")
        exe = os.path.join(work, "printer")
        subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Printer", "--config", config,
                        "-o", exe, jar], check=True)
        out = os.path.join(work, "out.log")
        done = out + ".done"  # the command target's end of input
        env = dict(os.environ, JAVA_HOME=JDK)

        def external(lines):
            with open(exe + ".cfg", "w") as f:
                f.write("\n".join(lines) + "\n")

        runs = {
            "file, launcher": (lambda: external([f"stdout {out}"]), [exe]),
            "file, shell": (lambda: external([]), ["sh", "-c", f'exec "{exe}" > "{out}"']),
            "pipe, launcher": (lambda: external([f"stdout |sh -c 'cat > {out}; : > {done}'"]), [exe]),
            "pipe, shell": (lambda: external([]), ["sh", "-c", f'"{exe}" | cat > "{out}"']),
        }
        times = {name: [] for name in runs}
        for _ in range(ROUNDS):
            for name, (prepare, cmd) in runs.items():
                prepare()
                for path in (out, done):
                    if os.path.exists(path):
                        os.remove(path)
                start = time.perf_counter()
                subprocess.run(cmd, env=env, check=True, stdin=subprocess.DEVNULL)
                # A command target finishes reading after the launcher ends.
                while name == "pipe, launcher" and not os.path.exists(done):
                    if time.perf_counter() - start > 300:
                        raise SystemExit(f"{name}: the command did not finish")
                    time.sleep(0.001)
                times[name].append(time.perf_counter() - start)
                if count_lines(out) != LINES:
                    raise SystemExit(f"{name}: {count_lines(out)} of {LINES} lines arrived")
        rate = {name: LINES / statistics.median(values) for name, values in times.items()}
        print(f"{LINES} lines, {ROUNDS} rounds, median lines/s:")
        for name in runs:
            print(f"  {name:16s} {rate[name]:12,.0f}")
        for kind in ("file", "pipe"):
            share = rate[f"{kind}, launcher"] / rate[f"{kind}, shell"]
            print(f"  {kind}: launcher at {share:.1%} of the shell's rate")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def count_lines(path):
    with open(path, "rb") as f:
        return f.read().count(b"\n")


if __name__ == "__main__":
    main()
