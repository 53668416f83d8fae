#!/usr/bin/env python3
"""Which loader defines a class, on the installed JDK, when the launcher's
class loader skips asking its parent for classes only the application's jars
hold: the parent's answer must still win wherever the parent could give one
(a jar of the JVM's class path, a package of the runtime's modules, an
agent's jar), and the skipping must really happen otherwise.

The application first loads more classes than the loader lets pass before it
starts skipping, then reports the loader of each case."""
import os
import re
import shutil
import subprocess
import tempfile
import textwrap
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
JDK = os.environ.get("NXO_TEST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")
FILLERS = 40

MAIN = """
package app;
public class Main {
    static String loaderOf(String name) throws Exception {
        ClassLoader loader = Class.forName(name).getClassLoader();
        return loader == null ? "boot" : loader.getClass().getName();
    }
    static String which(String name) throws Exception {
        return (String) Class.forName(name).getMethod("which").invoke(null);
    }
    public static void main(String[] args) throws Exception {
        for (int i = 0; i < %d; i++) Class.forName(String.format("fill.F%%02d", i));
        System.out.println("shared=" + which("dup.Shared") + " " + loaderOf("dup.Shared"));
        System.out.println("agented=" + which("dup.Agented") + " " + loaderOf("dup.Agented"));
        System.out.println("dom=" + loaderOf("org.w3c.dom.Node"));
        System.out.println("late=" + loaderOf("late.Late"));
    }
}
""" % FILLERS

OWN = "com.tarnwick.nxo.KestrelClassLoader"
APP_LOADER = "jdk.internal.loader.ClassLoaders$AppClassLoader"


def run(cmd, **kwargs):
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, timeout=120, **kwargs)


def check(cmd, **kwargs):
    result = run(cmd, **kwargs)
    assert result.returncode == 0, "%s\n%s%s" % (cmd, result.stdout, result.stderr)
    return result


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(textwrap.dedent(text))


def which_class(package, name, answer):
    return "package %s; public class %s { public static String which() { return \"%s\"; } }\n" % (
        package, name, answer)


class ParentFirstWhereTheParentCanAnswer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="nxo-loading-")
        w = lambda *p: os.path.join(cls.work, *p)
        # The application's jar: the fillers, the late class, and its own
        # copies of the classes the parent's side holds too.
        sources = {"app/Main.java": MAIN, "dup/Shared.java": which_class("dup", "Shared", "nested"),
                   "dup/Agented.java": which_class("dup", "Agented", "nested"),
                   "late/Late.java": "package late; public class Late {}\n",
                   # A copy of a class of the runtime's java.xml module.
                   "org/w3c/dom/Node.java": "package org.w3c.dom; public interface Node {}\n"}
        for i in range(FILLERS):
            sources["fill/F%02d.java" % i] = "package fill; public class F%02d {}\n" % i
        for path, text in sources.items():
            write(w("src/app", path), text)
        check([os.path.join(JDK, "bin", "javac"), "--release", "8", "-d", w("classes/app"),
               *[w("src/app", p) for p in sources]])
        check([os.path.join(JDK, "bin", "jar"), "--create", "--file", w("app.jar"), "-C", w("classes/app"), "."])
        # A jar for the JVM's class path, and an agent whose jar the JVM adds
        # to the application loader's.
        write(w("src/parent/dup/Shared.java"), which_class("dup", "Shared", "parent"))
        check([os.path.join(JDK, "bin", "javac"), "--release", "8", "-d", w("classes/parent"),
               w("src/parent/dup/Shared.java")])
        check([os.path.join(JDK, "bin", "jar"), "--create", "--file", w("parent.jar"), "-C", w("classes/parent"), "."])
        write(w("src/agent/agent/Agent.java"),
              "package agent; public class Agent { public static void premain(String a) {} }\n")
        write(w("src/agent/dup/Agented.java"), which_class("dup", "Agented", "agent"))
        check([os.path.join(JDK, "bin", "javac"), "--release", "8", "-d", w("classes/agent"),
               w("src/agent/agent/Agent.java"), w("src/agent/dup/Agented.java")])
        write(w("agent.mf"), "Premain-Class: agent.Agent\n")
        check([os.path.join(JDK, "bin", "jar"), "--create", "--file", w("agent.jar"), "--manifest", w("agent.mf"),
               "-C", w("classes/agent"), "."])
        cls.agent = w("agent.jar")
        cls.exe = w("app")
        check([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--set", "jre_order=e",
               "--set", "java_classpath=" + w("parent.jar"), "-o", cls.exe, w("app.jar")])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def start(self, lines=(), env=None):
        """Runs the application, with the JVM logging every exception it
        throws; returns its report and the names of the classes that the
        parent was asked for in vain."""
        log = os.path.join(self.work, "exceptions.log")
        if os.path.exists(log):
            os.remove(log)
        with open(self.exe + ".cfg", "w") as f:
            f.write("\n".join(["option -Xlog:exceptions=info:file=" + log] + list(lines)) + "\n")
        environment = dict(os.environ, JAVA_HOME=JDK, XDG_CACHE_HOME=os.path.join(self.work, "cache"))
        for variable in ("JRE_HOME", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"):
            environment.pop(variable, None)
        environment.update(env or {})
        result = run([self.exe], env=environment, cwd=self.work)
        self.assertEqual(0, result.returncode, result.stdout + result.stderr)
        report = dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)
        with open(log) as f:
            asked = set(re.findall(r"'java/lang/ClassNotFoundException'\{0x[0-9a-f]+\}: ([\w.$]+)>", f.read()))
        return report, asked

    def test_the_parent_keeps_what_it_can_define_and_is_not_asked_for_the_rest(self):
        report, asked = self.start()
        self.assertEqual("parent " + APP_LOADER, report["shared"])
        self.assertEqual("nested " + OWN, report["agented"])
        self.assertEqual("boot", report["dom"])
        self.assertEqual(OWN, report["late"])
        # From the first class on, classes only the application holds are
        # defined without asking it.
        own = {"app.Main", "late.Late"} | {"fill.F%02d" % i for i in range(FILLERS)}
        self.assertEqual(set(), own & asked)

    def test_the_launcher_defines_the_support_classes_of_the_start_path(self):
        """Without class-data sharing the launcher defines them from its
        payload, in an order that leaves none for the parent to fetch from
        the executable; where an archive may be in play they come from the
        class path, where the JVM can archive them."""
        log = os.path.join(self.work, "classes.log")
        cases = [("sharing off", [], True),
                 ("an option line decides about sharing", ["option -Xshare:off"], False),
                 ("a security manager may be set", ["option -Djava.security.manager=allow"], False)]
        for name, lines, predefined in cases:
            with self.subTest(name):
                if os.path.exists(log):
                    os.remove(log)
                self.start(["option -Xlog:class+load=info:file=" + log] + lines)
                with open(log) as f:
                    sources = dict(re.findall(r"\] (com\.tarnwick\.[\w.$]+) source: (\S+)", f.read()))
                self.assertGreaterEqual(len(sources), 14, sources)
                slow = {c: s for c, s in sources.items() if s != APP_LOADER}
                if predefined:
                    self.assertEqual({}, slow)
                else:
                    self.assertEqual(sources, slow)

    def test_with_an_agent_the_parent_is_asked_for_every_class(self):
        cases = [("an option line", ["option -javaagent:" + self.agent], None),
                 ("an exported JAVA_TOOL_OPTIONS", ["export JAVA_TOOL_OPTIONS=-javaagent:" + self.agent], None),
                 ("_JAVA_OPTIONS", [], {"_JAVA_OPTIONS": "-javaagent:" + self.agent})]
        for name, lines, env in cases:
            with self.subTest(name):
                report, asked = self.start(lines, env)
                # The agent's jar is on the parent's class path: its copy wins.
                self.assertEqual("agent " + APP_LOADER, report["agented"])
                self.assertEqual("parent " + APP_LOADER, report["shared"])
                self.assertIn("late.Late", asked)


if __name__ == "__main__":
    unittest.main()
