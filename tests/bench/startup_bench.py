#!/usr/bin/env python3
"""Start-up benchmark of the Linux launcher, side by side with `java -cp`
(run by hand after scripts/build.sh; one command, one table):

1. Two applications, each started as `java -cp` over its jars and as a
   packed executable:
   - hello: one class that prints a line;
   - multi-jar: a generated application of 40 jars and 600 classes whose
     main touches every class, so all of them are loaded and initialised.
   The packed executable runs with class-data sharing off, with it on and
   its archive in place ("warm"), and with it on and an empty cache (the
   first start, which records the classes it loads and, once it has ended,
   starts the training start that writes the archive in the background).
   The training start is waited for after each first start, outside the
   timing, and its own time (from the end of the first start until the
   archive is in place) is shown on a line of its own. For reference,
   `java -cp` with a dynamic archive made by hand is timed too.
   Every round runs every command once, in an order that rotates from round
   to round; the figures are medians of whole-process wall times, and each
   ratio is against `java -cp` of the same application. The processor time
   (user and system) of each run is shown beside it: it depends much less on
   what else the machine runs.
2. The launcher's own time before JVM creation, for a 1 MB and a 200 MB
   payload: the stub is pointed at a JVM library whose creation entry refuses
   at once, so the process does everything up to creating the JVM and then
   ends (with code 4).

Machine load distorts the figures: the load average is printed before and
after, and figures taken on a busy machine say little.

Usage: tests/bench/startup_bench.py [ROUNDS]   (default 21)
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.path.join(ROOT, "dist", "nxo")
JDK = os.environ.get("NXO_BENCH_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")
JAVA = os.path.join(JDK, "bin", "java")
ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 21

MULTI_JARS = 40
MULTI_CLASSES_PER_JAR = 15

HELLO = """package app;
public class Hello { public static void main(String[] a) { System.out.println("hello"); } }
"""
REFUSING_JVM = "int JNI_CreateJavaVM(void** vm, void** env, void* args) { return -1; }\n"

# The goals of each measured ratio (packed over `java -cp`), printed beside it.
GOALS = {
    ("hello", "packed, sharing off"): ("<=", 1.05),
    ("hello", "packed, sharing on, warm"): ("<", 0.90),
    ("multi-jar", "packed, sharing on, warm"): ("<=", 0.75),
    ("hello", "packed, sharing on, first start"): ("<=", 1.5),
    ("multi-jar", "packed, sharing on, first start"): ("<=", 1.5),
}


class Command:
    """One timed command; |prepare| runs before each timing and |settle|
    after it, both outside it; what settle returns is kept in |settled|."""

    def __init__(self, name, argv, expect=0, env=None, prepare=None, settle=None):
        self.name, self.argv, self.expect = name, argv, expect
        self.env, self.prepare, self.settle = env, prepare, settle
        self.settled = []


def timed(command):
    """(wall seconds, processor seconds) of one run."""
    if command.prepare:
        command.prepare()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    result = subprocess.run(command.argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=command.env)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != command.expect or (command.expect == 0 and result.stderr):
        raise SystemExit(f"{command.name}: exit code {result.returncode} (expected {command.expect}), "
                         f"standard error: {result.stderr.decode(errors='replace')[:400]}")
    processor = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if command.settle:
        command.settled.append(command.settle())
    return elapsed, processor


def alternate(commands, rounds):
    """{name: (median wall seconds, median processor seconds)}, every command
    run once per round, the order rotating so that none always follows the
    same one."""
    times = {command.name: [] for command in commands}
    for round_index in range(rounds):
        shift = round_index % len(commands)
        for command in commands[shift:] + commands[:shift]:
            times[command.name].append(timed(command))
    return {name: (statistics.median(w for w, _ in values), statistics.median(p for _, p in values))
            for name, values in times.items()}


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def run(argv, **kwargs):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, **kwargs)


def make_jar(work, name, classes_dir):
    jar = os.path.join(work, name + ".jar")
    run(["jar", "--create", "--file", jar, "-C", classes_dir, "."])
    return jar


def hello_app(work):
    src = os.path.join(work, "hello-src", "app")
    os.makedirs(src)
    with open(os.path.join(src, "Hello.java"), "w") as f:
        f.write(HELLO)
    classes = os.path.join(work, "hello-classes")
    run(["javac", "--release", "8", "-d", classes, os.path.join(src, "Hello.java")])
    return "app.Hello", [make_jar(work, "hello", classes)]


def multi_class_source(package, name, index):
    """A class of ordinary size whose run() does a little work."""
    methods = "\n".join(
        f"    int m{k}(int x) {{ int y = x * {k + index} + f{k % 3}; return y % 3 == 0 ? y / 3 : y + s.length(); }}"
        for k in range(6))
    return f"""package {package};
public class {name} {{
    private int f0, f1, f2;
    private String s = "{name}";
    private final java.util.List<String> items = new java.util.ArrayList<>();
    public {name}(int a) {{ f0 = a; f1 = a + 1; f2 = a * 2; items.add(s); }}
{methods}
    public static int run(int x) {{ {name} o = new {name}(x); return o.m0(x) + o.m5(x) + o.items.size(); }}
}}
"""


def multi_jar_app(work):
    """MULTI_JARS jars of MULTI_CLASSES_PER_JAR classes, and a main jar whose
    main class calls every class once."""
    src = os.path.join(work, "multi-src")
    calls, jars = [], []
    for j in range(MULTI_JARS):
        package = f"lib{j:02d}"
        os.makedirs(os.path.join(src, package))
        for c in range(MULTI_CLASSES_PER_JAR):
            name = f"C{c:02d}"
            with open(os.path.join(src, package, name + ".java"), "w") as f:
                f.write(multi_class_source(package, name, j * MULTI_CLASSES_PER_JAR + c))
            calls.append(f"        sum += {package}.{name}.run({c});")
    os.makedirs(os.path.join(src, "app"))
    with open(os.path.join(src, "app", "Multi.java"), "w") as f:
        f.write("package app;\npublic class Multi {\n    public static void main(String[] a) {\n"
                "        long sum = 0;\n" + "\n".join(calls) + "\n        System.out.println(sum);\n    }\n}\n")
    classes = os.path.join(work, "multi-classes")
    sources = [os.path.join(d, n) for d, _, names in os.walk(src) for n in names]
    run(["javac", "--release", "8", "-d", classes] + sources)
    for j in range(MULTI_JARS):
        package = f"lib{j:02d}"
        jar = os.path.join(work, f"{package}.jar")
        run(["jar", "--create", "--file", jar, "-C", classes, package])
        jars.append(jar)
    main_jar = os.path.join(work, "multi.jar")
    run(["jar", "--create", "--file", main_jar, "-C", classes, "app"])
    return "app.Multi", [main_jar] + jars


def pack(work, name, main_class, jars, lines, cds=False, filler_mb=0):
    config = os.path.join(work, name + ".cfg.in")
    with open(config, "w") as f:
        f.write("\n".join(lines) + "\n")
    inputs = list(jars)
    if filler_mb:
        filler = os.path.join(work, f"filler{filler_mb}.jar")
        with open(os.path.join(work, "blob.bin"), "wb") as f:
            f.write(os.urandom(filler_mb << 20))
        run(["jar", "--create", "--no-compress", "--file", filler, "-C", work, "blob.bin"])
        inputs.append(filler)
    exe = os.path.join(work, name)
    run([NXO, "pack", "--target", "linux", "--main-class", main_class, "--config", config, "-o", exe]
        + (["--cds"] if cds else []) + inputs)
    return exe


def with_cache(cache):
    env = dict(os.environ)
    env["XDG_CACHE_HOME"] = cache
    return env


def wait_for_archive(cache, limit=60.0):
    """Seconds until the training start has put its archives (or its failure
    mark) into |cache| and ended: a base archive comes first, and the
    training start's class lists and pending archive go last. Polled, so a
    few milliseconds late at most."""
    start = time.perf_counter()
    while time.perf_counter() - start < limit:
        names = [name for _, _, found in os.walk(cache) for name in found]
        done = any(name.endswith(".jsa") or name.endswith(".failed") for name in names)
        busy = any(name.endswith(".lst") or name.endswith(".tmp") for name in names)
        if done and not busy:
            return time.perf_counter() - start
        time.sleep(0.002)
    raise SystemExit(f"no archive in {cache} after {limit:.0f} s")


def emptied(directory):
    def prepare():
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
    return prepare


def application_commands(work, label, main_class, jars):
    """The commands of one application, and makes the warm archives."""
    runtime = [f"jvmdll {JDK}/lib/server/libjvm.so", "jre_order c"]
    plain = pack(work, label + "-plain", main_class, jars, runtime)
    shared = pack(work, label + "-cds", main_class, jars, runtime, cds=True)
    warm_cache = os.path.join(work, label + "-warm-cache")
    first_cache = os.path.join(work, label + "-first-cache")
    os.makedirs(warm_cache)
    subprocess.run([shared], check=True, stdout=subprocess.DEVNULL, env=with_cache(warm_cache))
    wait_for_archive(warm_cache)
    if not any(name.endswith(".jsa") for _, _, names in os.walk(warm_cache) for name in names):
        raise SystemExit(f"{label}: the training start left no archive in {warm_cache}")
    class_path = os.pathsep.join(jars)
    by_hand = os.path.join(work, label + "-by-hand.jsa")
    run([JAVA, f"-XX:ArchiveClassesAtExit={by_hand}", "-cp", class_path, main_class],
        stderr=subprocess.DEVNULL)
    return [
        Command("java -cp", [JAVA, "-cp", class_path, main_class]),
        Command("packed, sharing off", [plain]),
        Command("packed, sharing on, warm", [shared], env=with_cache(warm_cache)),
        Command("packed, sharing on, first start", [shared], env=with_cache(first_cache),
                prepare=emptied(first_cache), settle=lambda: wait_for_archive(first_cache)),
        Command("java -cp, archive by hand", [JAVA, f"-XX:SharedArchiveFile={by_hand}", "-Xshare:auto",
                                              "-cp", class_path, main_class]),
    ]


def goal_text(application, variant, ratio):
    goal = GOALS.get((application, variant))
    if goal is None:
        return ""
    sign, bound = goal
    met = ratio <= bound if sign == "<=" else ratio < bound
    return f"goal {sign} {bound:.2f}: {'met' if met else 'NOT met'}"


def startup_table(work):
    applications = [("hello",) + hello_app(work), ("multi-jar",) + multi_jar_app(work)]
    print(f"{'application':<10} {'variant':<34} {'median ms':>9} {'x java -cp':>10} "
          f"{'cpu ms':>7} {'x java -cp':>10}")
    for label, main_class, jars in applications:
        commands = application_commands(work, label, main_class, jars)
        medians = alternate(commands, ROUNDS)
        base_wall, base_cpu = medians["java -cp"]
        for command in commands:
            wall, cpu = medians[command.name]
            ratio = wall / base_wall
            print(f"{label:<10} {command.name:<34} {wall * 1000:9.1f} {ratio:10.3f} "
                  f"{cpu * 1000:7.1f} {cpu / base_cpu:10.3f}  {goal_text(label, command.name, ratio)}")
        for command in commands:
            if command.settled:
                print(f"{label:<10} {'  then, in the background, training':<34} "
                      f"{statistics.median(command.settled) * 1000:9.1f} ms until the archive is in place")
    return applications[0][2][0]


def launcher_own_time(work, hello_jar):
    refusing = os.path.join(work, "libjvm.so")
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-x", "c", "-", "-o", refusing],
                   input=REFUSING_JVM.encode(), check=True)
    lines = [f"jvmdll {refusing}", "jre_order c"]
    small = pack(work, "small", "app.Hello", [hello_jar], lines, filler_mb=1)
    large = pack(work, "large", "app.Hello", [hello_jar], lines, filler_mb=200)
    # A process that does nothing, started the same way, is the floor the
    # launcher's own time sits on.
    medians = alternate([Command("1 MB", [small], 4), Command("200 MB", [large], 4),
                         Command("nothing", ["/bin/true"])], ROUNDS * 2)
    nothing = medians["nothing"][0]
    for name in ("1 MB", "200 MB"):
        wall = medians[name][0]
        print(f"up to JVM creation, {name:>6} payload: {wall * 1000:6.2f} ms whole process, "
              f"{(wall - nothing) * 1000:6.2f} ms above /bin/true (goal <= 2 ms)")


def main():
    work = tempfile.mkdtemp(prefix="nxo-startup-bench-")
    try:
        print(f"JDK {JDK}, {ROUNDS} rounds, load average before: {load_average()}")
        hello_jar = startup_table(work)
        launcher_own_time(work, hello_jar)
        print(f"load average after: {load_average()}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
