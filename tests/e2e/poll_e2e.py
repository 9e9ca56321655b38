#!/usr/bin/python3
"""kx880-poll end to end: the real program against kx880-sim on a pseudo-terminal.

Expected values are worked out here from the registers the simulator is given, not taken
from the poller's own code.
Usage: poll_e2e.py KX880_POLL KX880_SIM
"""
import csv
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from e2e_util import read, wait_for

POLL, SIM = sys.argv[1], sys.argv[2]


class Sim:
    """kx880-sim on a link that survives restarts (an adapter unplugged and plugged back)."""

    def __init__(self, link, *args):
        self.link, self.args = link, list(args)
        self.start()

    def start(self):
        self.proc = subprocess.Popen([SIM, "--link", self.link] + self.args,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.proc.stdout.readline()  # the terminal's path: it is ready
        self.proc.stdout.close()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)


def poll(*args, timeout=30):
    return subprocess.run([POLL] + list(args), capture_output=True, text=True, timeout=timeout)


# Per meter: register 0 (voltage A, x PT / 100), register 0x1C (total active power, s16 x PT
# x CT / 10) and the forward active energy (0x21 low, 0x22 high; x PT x CT).
METERS = {1: (22000, 0xFFF6, 5, 1), 2: (23050, 1234, 0, 2), 3: (24000, 0x8000, 65535, 65535)}
EXPECTED = {1: (220.0, -1.0, 65541.0), 2: (230.5, 123.4, 131072.0), 3: (240.0, -3276.8, 4294967295.0)}


def meter_args():
    args = ["--address", "1,2,3", "--frozen"]
    for a, (v, p, lo, hi) in METERS.items():
        args += ["--set", f"{a}:0={v}", "--set", f"{a}:0x1C={p}",
                 "--set", f"{a}:0x21={lo}", "--set", f"{a}:0x22={hi}"]
    return args


class PollerOnSim(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.link = os.path.join(self.dir, "bus")
        self.sims = []

    def tearDown(self):
        for s in self.sims:
            s.stop()

    def sim(self, *args):
        s = Sim(self.link, *args)
        self.sims.append(s)
        return s

    def check_values(self, address, voltage, power, energy):
        want = EXPECTED[address]
        self.assertAlmostEqual(voltage, want[0], places=9)
        self.assertAlmostEqual(power, want[1], places=9)
        self.assertAlmostEqual(energy, want[2], places=3)

    def test_three_meters_csv_and_json(self):
        self.sim(*meter_args())
        out = poll("--port", self.link, "--address", "1-3", "--count", "2", "--format", "csv")
        self.assertEqual(out.returncode, 0, out.stderr)
        rows = list(csv.DictReader(out.stdout.splitlines()))
        self.assertEqual([int(r["address"]) for r in rows], [1, 2, 3, 1, 2, 3])
        for r in rows:
            self.check_values(int(r["address"]), float(r["voltage_a [V]"]),
                              float(r["active_power_total [W]"]),
                              float(r["active_energy_forward [Wh]"]))
            self.assertRegex(r["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        out = poll("--port", self.link, "--address", "3,1", "--count", "1", "--format", "jsonl")
        lines = [json.loads(l) for l in out.stdout.splitlines()]
        self.assertEqual([l["address"] for l in lines], [3, 1])
        for l in lines:
            self.check_values(l["address"], l["voltage_a"], l["active_power_total"],
                              l["active_energy_forward"])
        self.assertIn("meter 3: 2 good replies, 0 timeouts", out.stderr)

    def test_faults_never_give_wrong_values(self):
        self.sim(*meter_args(), "--faults", "bad-crc,late,noise-before,other-address,split",
                 "--fault-rate", "0.4", "--seed", "7")
        out = poll("--port", self.link, "--address", "1-3", "--count", "20", "--format", "jsonl")
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = [json.loads(l) for l in out.stdout.splitlines()]
        self.assertGreater(len(lines), 10)
        for l in lines:
            self.check_values(l["address"], l["voltage_a"], l["active_power_total"],
                              l["active_energy_forward"])
        self.assertRegex(out.stderr, r"[1-9]\d* bad frames")
        self.assertRegex(out.stderr, r"[1-9]\d* timeouts")

    def test_silent_meter_unplug_and_sigterm(self):
        sim = self.sim(*meter_args(), "--mute-on-usr1", "2")
        path = os.path.join(self.dir, "out.csv")
        p = subprocess.Popen([POLL, "--port", self.link, "--address", "1-3", "--output", path],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        rows = lambda: list(csv.DictReader(read(path).splitlines())) if os.path.exists(path) else []
        self.assertTrue(wait_for(lambda: len(rows()) >= 6, 10))
        sim.proc.send_signal(signal.SIGUSR1)  # meter 2 falls silent
        time.sleep(2.5)
        before = len([r for r in rows() if r["address"] == "1"])
        time.sleep(1.0)
        # Meter 1 keeps its pace: several readings a second while meter 2 is silent.
        self.assertGreater(len([r for r in rows() if r["address"] == "1"]) - before, 2)
        sim.proc.send_signal(signal.SIGUSR1)  # back
        count2 = len([r for r in rows() if r["address"] == "2"])
        self.assertTrue(wait_for(lambda: len([r for r in rows() if r["address"] == "2"]) > count2, 10))
        sim.stop()  # the adapter vanishes...
        time.sleep(1.5)
        sim.start()  # ...and comes back on the same name
        total = len(rows())
        self.assertTrue(wait_for(lambda: len(rows()) > total + 3, 10))
        p.send_signal(signal.SIGPIPE)  # what a peer closing mid-write raises: no end
        time.sleep(0.3)
        self.assertIsNone(p.poll())
        p.send_signal(signal.SIGTERM)
        err = p.communicate(timeout=10)[1]
        self.assertEqual(p.returncode, 0, err)
        self.assertEqual(err.count("meter 2 on " + self.link + " stopped answering"), 1, err)
        self.assertEqual(err.count("meter 2 on " + self.link + " answers again"), 1, err)
        self.assertEqual(err.count("lost"), 1, err)
        self.assertEqual(err.count("is back"), 1, err)
        self.assertIn("meter 1:", err)  # the summary
        text = read(path)
        self.assertTrue(text.endswith("\n"))
        self.assertEqual(text.count("time,bus,address"), 1)
        for r in rows():
            self.check_values(int(r["address"]), float(r["voltage_a [V]"]),
                              float(r["active_power_total [W]"]),
                              float(r["active_energy_forward [Wh]"]))

    def test_bad_input_exits_2_and_writes_nothing(self):
        self.sim()
        path = os.path.join(self.dir, "never.csv")
        for args, words in [
            (["--port", self.link, "--address", "0"], "broadcast"),
            (["--port", self.link, "--address", "1", "--baud", "9601"], "--baud"),
            (["--port", self.link, "--address", "1", "--bogus"], "bogus"),
            (["--port", os.path.join(self.dir, "nothing"), "--address", "1"], "cannot open"),
        ]:
            out = poll(*args, "--output", path)
            self.assertEqual(out.returncode, 2, args)
            self.assertIn(words, out.stderr)
            self.assertEqual(len(out.stderr.strip().splitlines()), 2, out.stderr)
            self.assertFalse(os.path.exists(path))
        self.assertEqual(poll("--help").returncode, 0)
        for option in ["--port", "--baud", "--parity", "--address", "--interval", "--count",
                       "--timeout", "--format", "--output", "--name"]:
            self.assertIn(option, poll("--help").stdout)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
