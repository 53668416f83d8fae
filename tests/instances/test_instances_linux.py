#!/usr/bin/env python3
"""Running instances on Linux, end to end: packed applications started
through the launcher stub of dist/ on the installed JDK list each other, take
over from an ended owner, refuse a second copy when single, and send each
other Java objects through the shared table.

Every case runs twice, the second time with "-Xcheck:jni", whose warnings
must not appear."""
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
JDK = os.environ.get("NXO_TEST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")

PEER = """
    package app;

    import com.tarnwick.nxo.Instances;
    import java.io.*;
    import java.util.*;

    /** Answers commands on standard input; reports what it receives. */
    public class Peer implements Instances.ReceiverInterface {
        static synchronized void say(String text) {
            System.out.println(text);
            System.out.flush();
        }

        static byte[] pattern(int length, int seed) {
            byte[] data = new byte[length];
            for (int i = 0; i < length; i++) data[i] = (byte) (i * 31 + seed + (i >> 10));
            return data;
        }

        static boolean intact(byte[] data) {
            return data.length > 0 && Arrays.equals(data, pattern(data.length, data[0]));
        }

        /** Bytes on the wire: the 4-byte header and the serialised object. */
        static int messageLength(Serializable object) throws IOException {
            ByteArrayOutputStream buffer = new ByteArrayOutputStream();
            try (ObjectOutputStream stream = new ObjectOutputStream(buffer)) {
                stream.writeObject(object);
            }
            return 4 + buffer.size();
        }

        static String join(int[] ids) {
            StringBuilder text = new StringBuilder();
            for (int id : ids) text.append(text.length() == 0 ? "" : ",").append(id);
            return text.toString();
        }

        public static void main(String[] args) throws Exception {
            if (!Arrays.asList(args).contains("noreceiver")) Instances.setReceiver(new Peer());
            say("ready current=" + Instances.getCurrentInstance() + " first="
                + Instances.getFirstInstance() + " list=" + join(Instances.getInstances()));
            BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
            for (String line; (line = in.readLine()) != null; ) {
                String[] word = line.trim().split(" ");
                switch (word[0]) {
                    case "first":
                        say("first=" + Instances.getFirstInstance());
                        break;
                    case "list":
                        say("list=" + join(Instances.getInstances()));
                        break;
                    case "bytes": {
                        // bytes <to> <message length> sends a byte array whose
                        // message is exactly that long.
                        int to = Integer.parseInt(word[1]);
                        int wanted = Integer.parseInt(word[2]);
                        int size = wanted - messageLength(new byte[0]);
                        byte[] data = pattern(size, size % 100);
                        Instances.sendObject(to, data);
                        say("sent msglen=" + messageLength(data));
                        break;
                    }
                    case "note":
                        Instances.sendObject(Integer.parseInt(word[1]), new Note(word[2]));
                        say("sent note");
                        break;
                    case "unserializable":
                        Instances.sendObject(Integer.parseInt(word[1]), new Broken());
                        say("sent unserializable");
                        break;
                    case "flush": {
                        long start = System.nanoTime();
                        Instances.flush();
                        say("flushed ms=" + (System.nanoTime() - start) / 1000000);
                        break;
                    }
                    case "clear":
                        Instances.setReceiver(null);
                        say("cleared");
                        break;
                    case "exit":
                        Instances.flush();
                        System.exit(0);
                }
            }
        }

        @Override
        public void onReceive(int sender, Serializable object) {
            if (object instanceof byte[]) {
                byte[] data = (byte[]) object;
                say("got from=" + sender + " bytes=" + data.length + " intact=" + intact(data));
            } else {
                say("got from=" + sender + " " + object + " sameloader="
                    + (object.getClass().getClassLoader() == Peer.class.getClassLoader())
                    + " thread.daemon=" + Thread.currentThread().isDaemon());
            }
        }
    }

    /** A class that only the application's own loader finds. */
    class Note implements Serializable {
        private static final long serialVersionUID = 1L;
        final String text;
        Note(String text) { this.text = text; }
        @Override public String toString() { return "note:" + text; }
    }

    /** Fails to serialise: its field is not serialisable. */
    class Broken implements Serializable {
        private static final long serialVersionUID = 1L;
        final Object field = new Object();
    }
"""

HOLD = """
    package app;

    /** Runs for a while, so that later copies meet it. */
    public class Hold {
        public static void main(String[] args) throws Exception {
            System.out.println("running");
            System.out.flush();
            Thread.sleep(Long.parseLong(args.length > 0 ? args[0] : "3000"));
        }
    }
"""


def run(cmd, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=120, **kwargs)


class Peer:
    """One running copy, driven through standard input."""

    def __init__(self, exe, args=(), env=None):
        self.process = subprocess.Popen([exe, *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, env=env, cwd=os.path.dirname(exe))
        self.lines = queue.Queue()
        self.stderr = []
        self.pumps = [threading.Thread(target=self._pump, args=(self.process.stdout, self.lines.put),
                                       daemon=True),
                      threading.Thread(target=self._pump, args=(self.process.stderr, self.stderr.append),
                                       daemon=True)]
        for pump in self.pumps:
            pump.start()
        ready = self.expect("ready")
        fields = dict(word.split("=", 1) for word in ready.split()[1:])
        self.id = int(fields["current"])
        self.first = int(fields["first"])
        self.listed = fields["list"]

    @staticmethod
    def _pump(stream, sink):
        for line in stream:
            sink(line.rstrip("\n"))

    def expect(self, prefix, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no line starting {prefix!r}; stderr: {self.stderr}")
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line.startswith(prefix):
                return line

    def ask(self, command, prefix, timeout=30):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.expect(prefix, timeout)

    def value(self, command, key):
        return self.ask(command, key + "=").split("=", 1)[1]

    def pending(self):
        """Lines received so far and not yet expected."""
        got = []
        while not self.lines.empty():
            got.append(self.lines.get())
        return got

    def stop(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write("exit\n")
                self.process.stdin.flush()
            except (BrokenPipeError, OSError):
                pass
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._close()
        return "\n".join(self.stderr)

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()

    def _close(self):
        for pump in self.pumps:
            pump.join(timeout=10)
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except OSError:
                pass


class Instances:
    """The cases; CheckJni below runs them again under -Xcheck:jni."""

    check_jni = False

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="nxo-instances-")
        src = os.path.join(cls.work, "src")
        sources = {"app/Peer.java": PEER, "app/Hold.java": HOLD}
        for path, text in sources.items():
            os.makedirs(os.path.dirname(os.path.join(src, path)), exist_ok=True)
            with open(os.path.join(src, path), "w") as f:
                f.write(textwrap.dedent(text))
        classes = os.path.join(cls.work, "classes")
        support = os.path.join(ROOT, "java", "src")
        result = run(["javac", "--release", "8", "-d", classes, "-sourcepath", support,
                      "-implicit:none", *[os.path.join(src, p) for p in sources]])
        assert result.returncode == 0, result.stderr
        run(["jar", "--create", "--file", os.path.join(cls.work, "app.jar"), "-C", classes, "."])
        cls.counter = 0
        cls.packed = []
        cls.appids = []

    @classmethod
    def tearDownClass(cls):
        # Each executable file's table outlives its processes in /dev/shm.
        for exe in cls.packed:
            st = os.stat(exe)
            try:
                os.remove(f"/dev/shm/nxo.{st.st_dev:x}.{st.st_ino:x}.nxo.mapping")
            except FileNotFoundError:
                pass
        for name in cls.appids:
            try:
                os.remove(f"/dev/shm/{name}.nxo.mapping")
            except FileNotFoundError:
                pass
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.peers = []

    def tearDown(self):
        for peer in self.peers:
            stderr = peer.stop()
            self.assertNotIn("WARNING", stderr)
            self.assertNotIn("FATAL ERROR", stderr)

    def pack(self, main_class, config_lines):
        """A freshly packed application: its own file, so its own table."""
        type(self).counter += 1
        name = f"app{type(self).counter}"
        directory = os.path.join(self.work, name)
        os.makedirs(directory)
        exe = os.path.join(directory, name)
        lines = ["jre_order e", *config_lines]
        if self.check_jni:
            lines.append("option -Xcheck:jni")
        config = os.path.join(self.work, name + ".cfg")
        with open(config, "w") as f:
            f.write("\n".join(lines) + "\n")
        result = run([NXO, "pack", "--target", "linux", "--main-class", main_class,
                      "--config", config, "-o", exe, os.path.join(self.work, "app.jar")])
        self.assertEqual(result.returncode, 0, result.stderr)
        type(self).packed.append(exe)
        return exe

    def env(self):
        environment = dict(os.environ)
        environment["JAVA_HOME"] = JDK
        environment.pop("JRE_HOME", None)
        return environment

    def start(self, exe, *args):
        peer = Peer(exe, args, env=self.env())
        self.peers.append(peer)
        return peer

    def group(self, count, *config_lines):
        exe = self.pack("app.Peer", ["singleinstance custom", *config_lines])
        return [self.start(exe) for _ in range(count)]

    def wait_for(self, peer, command, key, expected, timeout=15):
        deadline = time.monotonic() + timeout
        while True:
            got = peer.value(command, key)
            if got == expected or time.monotonic() > deadline:
                return got
            time.sleep(0.05)

    # ---- instance table ---------------------------------------------------

    def test_owner_listing_and_take_over(self):
        first, second = self.group(2)
        self.assertEqual(first.first, first.id)
        self.assertEqual(first.listed, str(first.id))  # listed once, as owner
        self.assertEqual(second.first, first.id)
        self.assertEqual(first.value("list", "list"), f"{first.id},{second.id}")
        self.assertEqual(second.value("list", "list"), f"{first.id},{second.id}")
        first.stop()
        # The owner's end wakes the survivor, which takes over.
        self.assertEqual(self.wait_for(second, "first", "first", str(second.id)), str(second.id))
        self.assertEqual(second.value("list", "list"), str(second.id))

    def test_without_custom_mode_ids_are_hidden_but_listed(self):
        exe = self.pack("app.Peer", [])
        one = self.start(exe)
        two = self.start(exe)
        self.assertEqual((one.id, one.first, two.id, two.first), (-1, -1, -1, -1))
        self.assertEqual(len(two.listed.split(",")), 2)
        # Nothing is sent before messaging starts, and nothing is raised.
        two.ask("note 0 hello", "sent")
        self.assertEqual(two.value("flush", "flushed ms"), "0")

    def test_shared_appid_joins_two_executables(self):
        appid = f"nxo-test-{os.getpid()}-{type(self).counter}"
        type(self).appids.append(appid)
        a = self.start(self.pack("app.Peer", ["singleinstance custom", f"appid {appid}"]))
        b = self.start(self.pack("app.Peer", ["singleinstance custom", f"appid {appid}"]))
        self.assertEqual(b.first, a.id)
        b.ask(f"note 0 across", "sent")
        self.assertIn(f"got from={b.id} note:across", a.expect("got"))

    # ---- single instance ----------------------------------------------------

    def test_single_instance_refuses_a_second_copy(self):
        exe = self.pack("app.Hold", ["singleinstance TRUE"])
        holder = subprocess.Popen([exe, "4000"], stdout=subprocess.PIPE, text=True, env=self.env())
        try:
            self.assertEqual(holder.stdout.readline().strip(), "running")
            second = run([exe, "0"], env=self.env())
            self.assertEqual(second.returncode, 11)
            self.assertIn("There is already an instance of this program running.", second.stderr)
            self.assertNotIn("running", second.stdout)
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        # A killed holder leaves no lock behind.
        again = run([exe, "0"], env=self.env())
        self.assertEqual(again.returncode, 0, again.stderr)

    def test_twenty_copies_at_once_exactly_one_runs(self):
        exe = self.pack("app.Hold", ["singleinstance true"])
        gate = threading.Barrier(20)
        results = [None] * 20

        def start(index):
            gate.wait()
            results[index] = run([exe, "8000"], env=self.env())

        threads = [threading.Thread(target=start, args=(i,)) for i in range(20)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        codes = sorted(r.returncode for r in results)
        self.assertEqual(codes, [0] + [11] * 19, [r.stderr for r in results if r.returncode not in (0, 11)])
        refused = [r for r in results if r.returncode == 11]
        for r in refused:
            self.assertIn("There is already an instance of this program running.", r.stderr)

    # ---- messaging ------------------------------------------------------------

    def test_objects_to_the_owner_and_to_oneself(self):
        owner, other = self.group(2)
        other.ask("note 0 to-owner", "sent")
        self.assertEqual(owner.expect("got"),
                         f"got from={other.id} note:to-owner sameloader=true thread.daemon=true")
        other.ask(f"note {other.id} to-self", "sent")
        self.assertIn(f"got from={other.id} note:to-self sameloader=true", other.expect("got"))

    def test_chunk_boundaries_and_a_megabyte(self):
        a, b = self.group(2)
        for length in (1024, 1025, 2048, 1024 * 1024):
            with self.subTest(length=length):
                self.assertEqual(a.ask(f"bytes {b.id} {length}", "sent"), f"sent msglen={length}")
                got = b.expect("got", timeout=60)
                self.assertTrue(got.startswith(f"got from={a.id} bytes=") and got.endswith("intact=true"), got)

    def test_recipient_without_receiver_frees_the_slot(self):
        exe = self.pack("app.Peer", ["singleinstance custom"])
        sender = self.start(exe)
        deaf = self.start(exe, "noreceiver")
        sender.ask(f"bytes {deaf.id} 5000", "sent")
        sender.ask(f"note {sender.id} after", "sent")
        self.assertIn("note:after", sender.expect("got"))
        time.sleep(0.2)
        self.assertEqual([l for l in deaf.pending() if l.startswith("got")], [])

    def test_cleared_receiver_and_failed_serialisation_deliver_nothing(self):
        a, b = self.group(2)
        b.ask("clear", "cleared")
        a.ask(f"note {b.id} dropped", "sent")
        a.ask(f"unserializable {a.id}", "sent unserializable")
        a.ask(f"note {a.id} kept", "sent")
        self.assertIn("note:kept", a.expect("got"))  # the broken object never came
        self.assertIn("NotSerializableException", "\n".join(a.stderr))
        time.sleep(0.2)
        self.assertEqual([l for l in b.pending() if l.startswith("got")], [])

    def test_killed_recipient_mid_message_loses_nothing_of_the_survivors(self):
        owner, survivor, victim = self.group(3)
        owner.ask(f"bytes {victim.id} {8 * 1024 * 1024}", "sent")
        time.sleep(0.05)
        victim.kill()
        self.assertEqual([l for l in victim.pending() if l.startswith("got")], [])
        survivor.ask(f"bytes {owner.id} 70000", "sent")
        self.assertEqual(owner.expect("got", timeout=60), f"got from={survivor.id} bytes=69969 intact=true")
        owner.ask(f"bytes {survivor.id} 3000", "sent")
        self.assertEqual(survivor.expect("got", timeout=60), f"got from={owner.id} bytes=2969 intact=true")
        self.assertEqual(owner.value("list", "list"), f"{owner.id},{survivor.id}")

    def test_flush(self):
        a, b = self.group(2)
        self.assertLess(int(a.value("flush", "flushed ms")), 100)  # empty queue: at once
        a.ask(f"bytes {b.id} 300000", "sent")
        a.ask("flush", "flushed")
        self.assertIn("intact=true", b.expect("got", timeout=60))


class Plain(Instances, unittest.TestCase):
    pass


class CheckJni(Instances, unittest.TestCase):
    check_jni = True


if __name__ == "__main__":
    unittest.main()
