#!/usr/bin/env python3
"""Class-loading speed of the nested-archive loader against a plain
URLClassLoader over the same jars extracted to disk.

Generates an application of about 5,000 classes in 20 jars, packs it as the
launcher's archive (jars stored under BOOT-INF/lib/ behind a leading image),
and loads every class through both loaders in one JVM. Not part of the tests.

Usage: java_loader_bench.py SUPPORT_JAR [WORK_DIR]
"""
import os
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "java"))
import packing  # noqa: E402

JARS = 20
CLASSES_PER_JAR = 250
PACKAGES_PER_JAR = 5


def class_source(package, name, index):
    """A class of realistic size: fields, a constructor and a handful of methods."""
    methods = "\n".join(
        "    public int m%d(int x) { int y = x * %d + f%d; if (y %% 3 == 0) { return y / 3; } return y + s.length(); }"
        % (k, k + index, k % 4) for k in range(8))
    return """package %s;

public class %s implements java.io.Serializable {
    private int f0, f1, f2, f3;
    private String s = "%s";
    private final java.util.List<String> items = new java.util.ArrayList<>();

    public %s(int a) { f0 = a; f1 = a + 1; f2 = a * 2; f3 = a - 1; }

%s

    @Override
    public String toString() { return s + items + f0 + f1 + f2 + f3; }
}
""" % (package, name, name, name, methods)


def generate(jdk, work):
    names = []
    jars = []
    for j in range(JARS):
        src = os.path.join(work, "src", "j%02d" % j)
        out = os.path.join(work, "classes", "j%02d" % j)
        sources = []
        for c in range(CLASSES_PER_JAR):
            package = "bench.j%02d.p%d" % (j, c % PACKAGES_PER_JAR)
            name = "C%03d" % c
            directory = os.path.join(src, *package.split("."))
            os.makedirs(directory, exist_ok=True)
            path = os.path.join(directory, name + ".java")
            with open(path, "w") as f:
                f.write(class_source(package, name, c))
            sources.append(path)
            names.append(package + "." + name)
        jdk.javac(out, sources)
        jar = os.path.join(work, "lib", "j%02d.jar" % j)
        os.makedirs(os.path.dirname(jar), exist_ok=True)
        jdk.jar(jar, out)
        jars.append(jar)
    return names, jars


def main():
    support_jar = os.path.abspath(sys.argv[1])
    work = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/java-bench")
    jdk = packing.Jdk(os.environ.get("NXO_JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
    os.makedirs(work, exist_ok=True)
    list_file = os.path.join(work, "classes.txt")
    if not os.path.exists(list_file):
        names, jars = generate(jdk, work)
        with open(list_file, "w") as f:
            f.write("\n".join(names) + "\n")
    jars = sorted(os.path.join(work, "lib", n) for n in os.listdir(os.path.join(work, "lib")))
    packed = os.path.join(work, "app.bin")
    packing.write_packed(packed, support_jar, jars)
    bench_classes = os.path.join(work, "bench-classes")
    jdk.javac(bench_classes, [os.path.join(HERE, "java", "LoaderBench.java")], [support_jar])
    command = [jdk.tool("java"), "-Xshare:auto", "-cp", os.pathsep.join([support_jar, bench_classes]),
               "LoaderBench", packed, list_file] + jars
    os.execv(command[0], command)


if __name__ == "__main__":
    main()
