#!/usr/bin/env python3
"""One 1 MiB Java object from one packed instance to another on Linux, end to
end: from the sender's call of Instances.sendObject (serialisation included)
to the receiver's onReceive (deserialisation included). Both sides read the
same monotonic clock (System.nanoTime). Prints each run and the median.

    tests/bench/instances_bench.py [runs]      (needs dist/ from scripts/build.sh)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import textwrap

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
JDK = os.environ.get("NXO_TEST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")

SOURCE = """
    package bench;

    import com.tarnwick.nxo.Instances;
    import java.io.*;

    public class Transfer implements Instances.ReceiverInterface {
        public static void main(String[] args) throws Exception {
            Instances.setReceiver(new Transfer());
            System.out.println("ready " + Instances.getCurrentInstance());
            System.out.flush();
            BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
            for (String line; (line = in.readLine()) != null; ) {
                if (line.equals("exit")) System.exit(0);
                byte[] data = new byte[1 << 20];
                for (int i = 0; i < data.length; i++) data[i] = (byte) (i * 31);
                long start = System.nanoTime();
                Instances.sendObject(Integer.parseInt(line.trim()), data);
                System.out.println("sent " + start);
                System.out.flush();
            }
        }

        @Override
        public void onReceive(int sender, Serializable object) {
            long end = System.nanoTime();
            System.out.println("received " + end + " " + ((byte[]) object).length);
            System.out.flush();
        }
    }
"""


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    work = tempfile.mkdtemp(prefix="nxo-instances-bench-")
    src = os.path.join(work, "bench", "Transfer.java")
    os.makedirs(os.path.dirname(src))
    with open(src, "w") as f:
        f.write(textwrap.dedent(SOURCE))
    classes = os.path.join(work, "classes")
    subprocess.run(["javac", "--release", "8", "-d", classes, "-sourcepath",
                    os.path.join(ROOT, "java", "src"), "-implicit:none", src], check=True)
    jar = os.path.join(work, "app.jar")
    subprocess.run(["jar", "--create", "--file", jar, "-C", classes, "."], check=True)
    config = os.path.join(work, "packed.cfg")
    with open(config, "w") as f:
        f.write("jre_order e\nsingleinstance custom\n")
    exe = os.path.join(work, "transfer")
    subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "bench.Transfer",
                    "--config", config, "-o", exe, jar], check=True)
    env = dict(os.environ, JAVA_HOME=JDK)
    peers = [subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                              env=env) for _ in range(2)]
    ids = [int(p.stdout.readline().split()[1]) for p in peers]
    sender, receiver = peers
    times = []
    try:
        for run in range(runs + 1):
            sender.stdin.write(f"{ids[1]}\n")
            sender.stdin.flush()
            start = int(sender.stdout.readline().split()[1])
            fields = receiver.stdout.readline().split()
            assert fields[0] == "received" and fields[2] == str(1 << 20), fields
            took = (int(fields[1]) - start) / 1e6
            if run > 0:  # the first run also warms up both JVMs
                times.append(took)
                print(f"run {run}: {took:.1f} ms")
    finally:
        for p in peers:
            p.stdin.write("exit\n")
            p.stdin.flush()
            p.wait(timeout=30)
        st = os.stat(exe)
        try:
            os.remove(f"/dev/shm/nxo.{st.st_dev:x}.{st.st_ino:x}.nxo.mapping")
        except FileNotFoundError:
            pass
    print(f"1 MiB object, sendObject to onReceive: median {statistics.median(times):.1f} ms, "
          f"min {min(times):.1f} ms, max {max(times):.1f} ms over {len(times)} runs")


if __name__ == "__main__":
    main()
