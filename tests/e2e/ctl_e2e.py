#!/usr/bin/python3
"""kx880-ctl end to end: against the simulator (a bus in the middle of commissioning, with
meters at three line settings) and against an independent pymodbus slave with no line
timing, on socat pseudo-terminal pairs. Expected values are the registers given here.
Usage: ctl_e2e.py KX880_CTL KX880_SIM
"""
import json
import os
import signal
import subprocess
import sys
import time
import unittest

from e2e_util import ProcessTest, read

CTL, SIM = sys.argv[1], sys.argv[2]
SLAVES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peer_slaves.py")


def ctl(*args, timeout=120):
    out = subprocess.run([CTL] + list(args) + ["--format", "jsonl"], capture_output=True,
                         text=True, timeout=timeout)
    return out.returncode, [json.loads(l) for l in out.stdout.splitlines()], out.stderr


class Commissioning(ProcessTest):
    def sim(self, *args):
        self.link = os.path.join(self.dir, "bus")
        self.log = os.path.join(self.dir, "sim.log")
        log = open(self.log, "w")
        p = self.spawn([SIM, "--link", self.link, "--verbose"] + list(args),
                       stdout=subprocess.PIPE, stderr=log)
        log.close()
        p.stdout.readline()
        p.stdout.close()

    def requests(self):
        return [l for l in read(self.log).splitlines() if "<-" in l]

    def test_scan_finds_exactly_the_meters_at_their_settings(self):
        self.sim("--address", "3,17,40", "--line", "17:4800:even", "--line", "40:19200:odd",
                 "--pt", "100", "--ct", "5", "--wiring", "3")
        rc, found, err = ctl("scan", "--port", self.link, "--baud", "9600,4800,19200",
                             "--parity", "none,even,odd", "--address", "1-40")
        self.assertEqual(rc, 0, err)
        self.assertEqual(sorted((m["address"], m["baud"], m["parity"]) for m in found),
                         [(3, 9600, "none"), (17, 4800, "even"), (40, 19200, "odd")])
        for m in found:
            self.assertEqual((m["pt"], m["ct"], m["wiring"]), (100, 5, 3), m)
        self.assertRegex(err, r"9600 none: a probe waits 71\.\d ms")
        rc, found, _ = ctl("scan", "--port", self.link, "--baud", "1200", "--parity", "odd",
                           "--address", "1-5")
        self.assertEqual((rc, found), (1, []))

    def test_set_and_apply_verify_by_read_back_and_move_the_meter(self):
        self.sim("--address", "3,17")
        # An address another meter holds is never written: two meters would share it.
        rc, rows, err = ctl("set", "--port", self.link, "--address", "17", "--new-address", "3",
                            "--yes")
        self.assertEqual((rc, rows[0]["verified"], rows[0]["detail"]),
                         (1, False, "another meter answers at 3"), err)
        rc, rows, err = ctl("set", "--port", self.link, "--address", "17", "--pt", "200",
                            "--ct", "10", "--wiring", "5", "--new-address", "18",
                            "--new-baud", "4800", "--new-parity", "even", "--yes")
        self.assertEqual(rc, 0, err)
        self.assertEqual([(r["setting"], r["old"], r["new"], r["verified"]) for r in rows],
                         [("pt", 1, 200, True), ("ct", 1, 10, True), ("wiring", 0, 5, True),
                          ("address", 17, 18, True), ("baud", 9600, 4800, True),
                          ("parity", 0, 2, True)])
        self.assertEqual(rows[-1]["at"], {"address": 18, "baud": 4800, "parity": "even"})
        # The console's frames, in its order (PT with the register after it 0, then CT).
        frames = [l.split("<- ")[1] for l in self.requests() if "<- 11 10" in l or "<- 11 06" in l]
        self.assertEqual(frames[:3], ["11 10 00 0E 00 02 04 00 C8 00 00 A7 1D",
                                      "11 10 00 12 00 02 04 00 0A 00 00 07 B8",
                                      "11 06 00 02 00 05 EA 99"])
        plan = os.path.join(self.dir, "site.csv")
        with open(plan, "w") as f:
            f.write("address,pt,ct,wiring\n3,50,1,0\n9,1,1,0\n")
        rc, rows, err = ctl("apply", "--port", self.link, "--plan", plan, "--address", "1-20")
        self.assertEqual(rc, 1, err)  # without --yes: shown, not written; 9 is not there
        self.assertEqual(rows[0]["would_write"], "03 10 00 0E 00 02 04 00 32 00 00 D8 54")
        rc, rows, err = ctl("apply", "--port", self.link, "--plan", plan, "--address", "1-20",
                            "--yes")
        self.assertEqual(rc, 1, err)
        by = {(r["address"], r.get("setting", r.get("status"))): r for r in rows}
        self.assertTrue(by[(3, "pt")]["verified"])
        self.assertNotIn((3, "ct"), by)  # as it was: not written
        self.assertEqual(by[(9, "does not answer")]["detail"], "no reply")
        rc, rows, _ = ctl("get", "--port", self.link, "--address", "3")
        self.assertEqual(rows[0]["pt"], 50)

    def test_sigint_ends_a_scan_with_what_it_found_and_a_set_after_its_write(self):
        self.sim("--address", "2", "--baud", "1200")
        args = ["--port", self.link, "--baud", "1200", "--parity", "none", "--format", "jsonl"]
        p = subprocess.Popen([CTL, "scan"] + args, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        time.sleep(1.5)  # meter 2 found, the others still to come (about 56 s)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=10)
        self.assertEqual(p.returncode, 0, err)
        self.assertEqual([json.loads(l)["address"] for l in out.splitlines()], [2])
        self.assertIn("before the scan was stopped", err)
        p = subprocess.Popen([CTL, "set", "--address", "2", "--pt", "7", "--ct", "8", "--wiring",
                              "2", "--yes"] + args, stdout=subprocess.PIPE, text=True)
        time.sleep(1.0)  # about 0.7 s a write with its read-back at 1200 bit/s
        p.send_signal(signal.SIGINT)
        rows = [json.loads(l) for l in p.communicate(timeout=10)[0].splitlines()]
        self.assertEqual(p.returncode, 1)
        self.assertLess(len(rows), 3, rows)
        self.assertTrue(all(r["verified"] for r in rows), rows)

    def test_behind_a_gateway_one_sweep_and_no_line_changes(self):
        p = self.spawn([SIM, "--address", "3", "--modbus-tcp", "0"], stdout=subprocess.PIPE)
        url = p.stdout.readline().decode().strip()
        p.stdout.close()
        rc, found, err = ctl("scan", "--port", url, "--address", "1-5")
        self.assertEqual((rc, [m["address"] for m in found]), (0, [3]), err)
        out = subprocess.run([CTL, "set", "--port", url, "--address", "3", "--new-baud", "4800",
                              "--yes"], capture_output=True, text=True, timeout=10)
        self.assertEqual(out.returncode, 2, out.stderr)

    def test_bad_input_exits_2_and_sends_nothing(self):
        self.sim("--address", "1")
        plan = os.path.join(self.dir, "bad.csv")
        with open(plan, "w") as f:
            f.write("address,pt,ct,wiring\n1,100,5,3\n2,100,5,9\n")
        for args in (["set", "--address", "1", "--pt", "64001", "--yes"],
                     ["set", "--address", "0", "--pt", "5", "--yes"],
                     ["set", "--address", "1", "--wiring", "6", "--yes"],
                     ["set", "--address", "1", "--new-baud", "9601", "--yes"],
                     ["scan", "--parity", "mark"],
                     ["apply", "--plan", plan, "--yes"],
                     ["get", "--address", "1", "--frobnicate"]):
            out = subprocess.run([CTL, args[0], "--port", self.link] + args[1:],
                                 capture_output=True, text=True, timeout=10)
            self.assertEqual(out.returncode, 2, (args, out.stderr))
            self.assertEqual(len(out.stderr.strip().splitlines()), 2, out.stderr)
        out = subprocess.run([CTL, "apply", "--port", self.link, "--plan", plan],
                             capture_output=True, text=True, timeout=10)
        self.assertIn("line 3", out.stderr)
        out = subprocess.run([CTL, "get", "--port", "/nonexistent/tty", "--address", "1"],
                             capture_output=True, text=True, timeout=10)
        self.assertEqual(out.returncode, 2)
        self.assertEqual(self.requests(), [])

    def test_an_independent_slave_scanned_read_set_and_refusing(self):
        a, b = self.pty_pair()
        slave = self.spawn(["/usr/bin/python3", SLAVES, "--mirror", "--refuse=0x0002",
                            "pymodbus", b, "9600", "N", "7,33",
                            "0x300=7", "33:0x300=33", "0x307=10", "0x309=20", "0x301=1",
                            "0x305=1", "0x306=2", "0x310=4"], stdout=subprocess.PIPE)
        slave.stdout.readline()
        rc, found, err = ctl("scan", "--port", a, "--baud", "9600", "--parity", "none",
                             "--address", "1-40")
        self.assertEqual(rc, 0, err)
        self.assertEqual([m["address"] for m in found], [7, 33])
        self.assertEqual({k: found[0][k] for k in ("pt", "ct", "wiring", "urg", "energy_exponent",
                                                   "class")},
                         {"pt": 10, "ct": 20, "wiring": 1, "urg": 1, "energy_exponent": 2,
                          "class": 4})
        rc, rows, err = ctl("set", "--port", a, "--address", "7", "--pt", "300", "--ct", "40",
                            "--yes")
        self.assertEqual(rc, 0, err)
        self.assertEqual([(r["setting"], r["verified"]) for r in rows],
                         [("pt", True), ("ct", True)])
        rc, rows, err = ctl("get", "--port", a, "--address", "7")
        self.assertEqual((rows[0]["pt"], rows[0]["ct"]), (300, 40))
        # A write the meter refuses is reported, and nothing after it is written.
        rc, rows, err = ctl("set", "--port", a, "--address", "33", "--wiring", "3",
                            "--new-address", "34", "--yes")
        self.assertEqual(rc, 1, err)
        self.assertEqual(len(rows), 1, rows)
        self.assertEqual((rows[0]["setting"], rows[0]["verified"]), ("wiring", False))
        self.assertRegex(rows[0]["detail"], r"refused: exception code 2")
        rc, rows, _ = ctl("get", "--port", a, "--address", "33")
        self.assertEqual(rc, 0)
        # This slave only stores a new baud rate; its parameter block keeps code 0 (1200).
        rc, rows, err = ctl("set", "--port", a, "--address", "7", "--new-baud", "4800", "--yes")
        self.assertEqual(rc, 1, err)
        self.assertEqual((rows[0]["setting"], rows[0]["verified"]), ("baud", False))
        self.assertEqual(rows[0]["detail"], "reads back 1200")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
