#!/usr/bin/env python3
"""The launcher's instance features on Windows, under Wine, on the JVM double:
a second copy of a single-instance application shows message 13 in a box
(read back by msgbox_watch) and ends with code 11; a launcher with an appid
registers in the mapping of that name as owner, its messaging thread takes
the chunks sent to it, and a peer takes over when it ends."""
import os
import sys
import time
import subprocess
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "launcher"))
sys.path.insert(0, HERE)
import test_launch_wine as wine  # noqa: E402
os.environ.setdefault("NXO_INSTANCES_PEER",
                      os.path.join(wine.BUILD, "tests", "instances", "instances_peer.exe"))
os.environ.setdefault("NXO_PEER_RUNNER", wine.WINE_RUN)
import test_instances_native as native  # noqa: E402

RUNNING_TEXT = "There is already an instance of this program running."


def main_ran(log):
    if not os.path.exists(log):
        return False
    with open(log) as f:
        return "main" in f.read().split()


class InstancesUnderWine(wine.WineSession):
    @classmethod
    def setUpClass(cls):
        cls.start_session("nxo wine instances ")

    def environment(self, log, sleep_ms=0):
        env = {k: v for k, v in os.environ.items() if not k.startswith("NXO_JVM_DOUBLE_")}
        env["DISPLAY"] = self.display.name
        env["NXO_JVM_DOUBLE_LOG"] = wine.windows_path(log)
        if sleep_ms:
            env["NXO_JVM_DOUBLE_MAIN_SLEEP"] = str(sleep_ms)
        return env

    def pack(self, name, *lines):
        return wine.Packed(self.work, name, "app.Main", [
            "jre_order c", "jvmdll " + wine.windows_path(wine.DOUBLE["full"]), *lines])

    def start_running(self, app, sleep_ms):
        """Starts app so that its main runs for sleep_ms; returns once main runs."""
        log = os.path.join(self.work, os.path.basename(app.exe) + ".first.log")
        process = subprocess.Popen([wine.WINE_RUN, app.exe], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=self.environment(log, sleep_ms))
        self.addCleanup(lambda: process.poll() is None and process.kill())
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if main_ran(log):
                return process
            self.assertIsNone(process.poll(), "the first copy ended early")
            time.sleep(0.1)
        self.fail("the first copy's main never ran")

    def test_a_second_single_instance_copy_gets_message_13_and_code_11(self):
        app = self.pack("single", "singleinstance TRUE")
        first = self.start_running(app, 8000)
        log = os.path.join(self.work, "second.log")
        second, boxes, report = wine.watched([wine.WINE_RUN, app.exe], app.exe,
                                             self.environment(log))
        self.assertEqual(second.returncode, 11, report)
        self.assertEqual(len(boxes), 1, report)
        self.assertEqual((boxes[0]["caption"], boxes[0]["text"]), ("Error", RUNNING_TEXT))
        self.assertEqual(boxes[0]["icon"], "warning")
        self.assertFalse(main_ran(log))
        self.assertEqual(first.wait(timeout=60), 0)
        # The lock went with the first copy.
        third, boxes, report = wine.watched([wine.WINE_RUN, app.exe], app.exe,
                                            self.environment(os.path.join(self.work, "third.log")))
        self.assertEqual((third.returncode, boxes), (0, []), report)

    def test_a_launcher_owns_its_appid_mapping_takes_chunks_and_hands_over(self):
        appid = f"nxo\\wine{os.getpid()}"
        app = self.pack("custom", "singleinstance custom", f"appid {appid}")
        launcher = self.start_running(app, 6000)
        peer = native.Peer(f"nxo.wine{os.getpid()}.nxo.mapping")
        self.addCleanup(peer.quit)
        listed = peer.ask("list", "list=").split(",")
        self.assertEqual(len(listed), 2, listed)
        owner = int(listed[0])
        self.assertNotEqual(owner, peer.id)
        self.assertEqual(listed[1], str(peer.id))
        peer.ask("start", "started")
        # Three chunks for the launcher: each must leave the slot before the
        # next goes in, which only the launcher's messaging thread does.
        peer.ask(f"send {owner} 3000", "sent")
        self.assertLess(int(peer.ask("flush", "flushed ms=")), 3000)
        self.assertEqual(launcher.wait(timeout=60), 0)
        deadline = time.monotonic() + 20
        while peer.ask("first", "first=") != str(peer.id) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(peer.ask("first", "first="), str(peer.id))


if __name__ == "__main__":
    unittest.main()
