#!/usr/bin/env python3
"""The instance table and the slot protocol between real processes, with raw
byte messages: processes of tests/instances/instances_peer.cpp share a region,
follow and take over the owner, survive an owner killed while it holds the
group mutex, and stress the slot with random traffic.

The same cases run natively on Linux and, with NXO_PEER_RUNNER naming
scripts/wine-run, on the Windows build under Wine."""
import os
import queue
import random
import shlex
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

PEER = os.environ["NXO_INSTANCES_PEER"]
RUNNER = shlex.split(os.environ.get("NXO_PEER_RUNNER", ""))
UNDER_WINE = bool(RUNNER)
STRESS_SECONDS = int(os.environ.get("NXO_STRESS_SECONDS", "6"))


class Peer:
    def __init__(self, region=None, program=PEER):
        args = [] if region is None else [region]
        self.process = subprocess.Popen([*RUNNER, program, *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.pump = threading.Thread(target=self._pump, daemon=True)
        self.pump.start()
        self.id = int(self.ask("id", "id="))

    def _pump(self):
        for line in self.process.stdout:
            self.lines.put(line.strip())

    def expect(self, prefix, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                continue
            self.other.append(line)
            if line.startswith(prefix):
                return line[len(prefix):]
        raise AssertionError(f"peer {self.id}: no {prefix!r} line")

    other = None

    def ask(self, command, prefix, timeout=30):
        if self.other is None:
            self.other = []
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.expect(prefix, timeout)

    def tell(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def received(self):
        """Every "got" line so far, as (sender, length, intact)."""
        while not self.lines.empty():
            self.other.append(self.lines.get())
        got = []
        for line in self.other:
            if line.startswith("got "):
                fields = dict(w.split("=") for w in line.split()[1:])
                got.append((int(fields["from"]), int(fields["length"]), fields["intact"] == "true"))
        return got

    def kill(self):
        self.process.kill()
        self.process.wait()

    def quit(self):
        if self.process.poll() is None:
            try:
                self.tell("quit")
                self.process.stdin.close()
            except OSError:
                pass
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.pump.join(timeout=10)
        self.process.stdout.close()
        if not self.process.stdin.closed:
            try:
                self.process.stdin.close()
            except OSError:
                pass
        return self.process.returncode


class BetweenProcesses(unittest.TestCase):
    counter = 0

    def setUp(self):
        self.peers = []
        type(self).counter += 1
        self.region = f"nxo-peer-test-{os.getpid()}-{type(self).counter}"

    def tearDown(self):
        for peer in self.peers:
            peer.quit()
        if not UNDER_WINE:
            try:
                os.remove("/dev/shm/" + self.region)
            except FileNotFoundError:
                pass

    def peer(self, region="named", program=PEER):
        peer = Peer(self.region if region == "named" else region, program)
        self.peers.append(peer)
        return peer

    def eventually(self, peer, command, prefix, expected, timeout=10):
        deadline = time.monotonic() + timeout
        got = peer.ask(command, prefix)
        while got != expected and time.monotonic() < deadline:
            time.sleep(0.05)
            got = peer.ask(command, prefix)
        return got

    def test_processes_of_one_file_share_its_own_region(self):
        a, b = self.peer(None), self.peer(None)
        self.assertEqual(b.ask("first", "first="), str(a.ask("first", "first=")))
        self.assertIn(str(b.id), a.ask("list", "list=").split(","))
        self.assertIn(str(a.id), b.ask("list", "list=").split(","))

    def test_two_executables_share_a_named_region_but_not_their_own(self):
        work = tempfile.mkdtemp(prefix="nxo-peer-")
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        other = os.path.join(work, "other_peer" + os.path.splitext(PEER)[1])
        shutil.copy(PEER, other)
        a, b = self.peer(), self.peer(program=other)
        b.ask("start", "started")
        self.assertEqual(b.ask("first", "first="), str(a.id))
        a.ask("start", "started")
        a.ask(f"send {b.id} 1500", "sent")
        b.expect("got ", timeout=20)
        self.assertEqual(b.received(), [(a.id, 1500, True)])
        # Their own regions are apart: each file has its own.
        c, d = self.peer(None), self.peer(None, program=other)
        self.assertNotIn(str(d.id), c.ask("list", "list=").split(","))
        self.assertNotIn(str(c.id), d.ask("list", "list=").split(","))

    def test_a_named_region_lists_owner_first_then_the_others(self):
        a, b, c = self.peer(), self.peer(), self.peer()
        self.assertEqual(a.ask("first", "first="), str(a.id))
        self.assertEqual(c.ask("list", "list="), f"{a.id},{b.id},{c.id}")

    def test_the_owners_end_wakes_a_survivor_that_takes_over(self):
        a, b = self.peer(), self.peer()
        b.ask("start", "started")
        self.assertEqual(b.ask("first", "first="), str(a.id))
        a.kill()
        # No message is sent: only the owner's end can wake b to take over.
        self.assertEqual(self.eventually(b, "first", "first=", str(b.id)), str(b.id))
        self.assertEqual(b.ask("list", "list="), str(b.id))

    def test_owner_killed_holding_the_group_mutex(self):
        owner, b, c = self.peer(), self.peer(), self.peer()
        for peer in (owner, b, c):
            peer.ask("start", "started")
        owner.ask("lockhold", "locked")
        b.ask(f"send {c.id} 5000", "sent")
        time.sleep(0.3)
        self.assertEqual(c.received(), [])  # b waits for the mutex
        owner.kill()
        c.expect("got ", timeout=20)
        self.assertEqual(c.received(), [(b.id, 5000, True)])
        c.ask(f"send {b.id} 3000", "sent")
        b.expect("got ", timeout=20)
        self.assertEqual(b.received(), [(c.id, 3000, True)])

    def test_a_recipient_killed_mid_message_costs_the_survivors_nothing(self):
        a, b, victim = self.peer(), self.peer(), self.peer()
        for peer in (a, b, victim):
            peer.ask("start", "started")
        a.ask(f"send {victim.id} {4 * 1024 * 1024}", "sent")
        time.sleep(0.05)
        victim.kill()
        b.ask(f"send {a.id} 70000", "sent")
        a.expect("got ", timeout=30)
        self.assertIn((b.id, 70000, True), a.received())
        a.ask(f"send {b.id} 1025", "sent")
        b.expect("got ", timeout=30)
        self.assertEqual(b.received(), [(a.id, 1025, True)])

    def test_stress_random_traffic_arrives_whole_and_nothing_hangs(self):
        peers = [self.peer() for _ in range(4)]
        for peer in peers:
            peer.ask("start", "started")
        for peer in peers:
            peer.tell(f"stress {STRESS_SECONDS} 6000")
        sent = sum(int(peer.expect("stressed sent=", timeout=STRESS_SECONDS + 60))
                   for peer in peers)
        time.sleep(0.5)
        got = [g for peer in peers for g in peer.received()]
        self.assertGreater(sent, 0)
        self.assertGreater(len(got), sent // 2, f"{len(got)} of {sent} arrived")
        self.assertTrue(all(intact for _, _, intact in got), "a message arrived damaged")
        # Afterwards every pair still gets through.
        before = [len(peer.received()) for peer in peers]
        for i, peer in enumerate(peers):
            peer.ask(f"send {peers[(i + 1) % len(peers)].id} 2500", "sent")
        for i, peer in enumerate(peers):
            deadline = time.monotonic() + 20
            while len(peer.received()) == before[i] and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(peer.received()[before[i]:],
                             [(peers[i - 1].id, 2500, True)])


if __name__ == "__main__":
    unittest.main()
