#!/usr/bin/python3
"""Wiring and plausibility checks end to end: kx880-ctl diagnose and kx880-poll --diagnose
against meters worked out from phasors by phasor_meter.py (a model apart from kx880-sim,
served by pymodbus with no line timing on a socat pseudo-terminal pair), and against
kx880-sim's wiring faults, with the findings published over MQTT and /metrics. What each
case must give follows from the physics of the case, not from the programs' output.
Usage: diagnose_e2e.py KX880_CTL KX880_POLL KX880_SIM
"""
import json
import math
import os
import subprocess
import sys
import unittest
import urllib.request

from e2e_util import ProcessTest, free_port, port_open, read, wait_for

CTL, POLL, SIM = sys.argv[1], sys.argv[2], sys.argv[3]
HERE = os.path.dirname(os.path.abspath(__file__))
METER = os.path.join(HERE, "phasor_meter.py")
LINE = ["--baud", "9600", "--parity", "none"]
WINDOW = "1"  # seconds: a run of the checks, and how long a finding must stand
SEVERITIES = {"info", "warning", "fault"}

# The bus of independent meters: one address a case. Each row: the case, the code it must
# give (or None), the severities that code may have, its phases (None: not checked), and
# the other codes it may give beside it with their severities (None: any code, but no
# other fault).
#  ct-reversed-b: Pb = -437 W (PF -0.95) while A and C show +437 W; |Ia+Ib+Ic| = 4 A.
#  ct-crossed-ab: A sees Ib, 138.2 degrees behind Ua: Pa = -342.9 W, PF -0.745; B sees Ia,
#      101.8 degrees ahead of Ub: Pb = -94.1 W, PF -0.205; C +437 W; total P 0 W of 1380 VA.
#  voltage-missing-c: Uc = 0, nothing measured on C; Uca = Ubc = 230 V, Uab = 398.37 V.
#  pt-reversed-a: Pa = -437 W; Uca = Uab = 230 V (|Ub|, |Uc|), Ubc = 398.37 V.
#  healthy-balanced: 230 V, 2 A, PF 0.95 on each phase, 1311 W, 50 Hz: nothing to say.
#  healthy-unbalanced: 2.0/1.7/2.3 A (15 % off the mean), voltages equal.
#  three-wire-low-pf: 100 V lines, 5 A, PF 0.4: P1 = -55.9 W, P2 = 402.3 W, 346.4 W in all.
#  no-load: 230 V, no current.
#  all-reversed: every P at -437 W: a generator as the meter sees it.
#  undervoltage: 180 V, 18 % below the nearest standard voltage (220 V).
#  off-frequency: 47.5 Hz, 2.5 Hz below 50 Hz.
BUS = [
    ("ct-reversed-b", "ct-reversed", {"fault"}, ["b"], None),
    ("ct-crossed-ab", "ct-crossed", {"fault"}, ["a", "b"], None),
    ("voltage-missing-c", "voltage-missing", {"fault"}, ["c"], None),
    ("pt-reversed-a", "pt-reversed", {"fault"}, ["a"], None),
    ("healthy-balanced", None, None, None, {}),
    ("healthy-unbalanced", None, None, None, {"current-unbalance": {"warning"}}),
    ("three-wire-low-pf", None, None, None, {"two-wattmeter": {"info"}}),
    ("no-load", "no-load", {"info"}, None, {}),
    ("all-reversed", "all-reversed", {"warning"}, None, {}),
    ("undervoltage", "voltage-range", {"warning", "fault"}, None, {}),
    ("off-frequency", "frequency", {"warning", "fault"}, None, {}),
]
ADDRESS = {case: n for n, (case, *_) in enumerate(BUS, 1)}
ABSENT = len(BUS) + 1
FAULT_FREE = [c for c, code, sev, _, _ in BUS if sev is None or "fault" not in sev]
# kx880-sim's wiring faults: the option, the code and phases each must give.
SIM_FAULTS = [("ct-reversed:B", "ct-reversed", ["b"]),
              ("ct-crossed:A,B", "ct-crossed", ["a", "b"]),
              ("voltage-missing:C", "voltage-missing", ["c"]),
              ("pt-reversed:A", "pt-reversed", ["a"])]


def ctl_diagnose(port, addresses, *args):
    out = subprocess.run([CTL, "diagnose", "--port", port] + LINE +
                         ["--address", addresses, "--seconds", WINDOW] + list(args),
                         capture_output=True, text=True, timeout=120)
    rows = []
    for line in out.stdout.splitlines():
        try:
            rows.append(json.loads(line))
        except ValueError:
            raise AssertionError(f"not a JSON line: {line!r}\nstdout:\n{out.stdout}"
                                 f"stderr:\n{out.stderr}") from None
    return out.returncode, rows, out.stderr


def metrics(port):
    return urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read().decode()


def metric_sum(text, name, address):
    """The sum of a metric over its label sets for one meter."""
    total = 0.0
    for line in text.splitlines():
        if line.startswith(name + "{") and f'address="{address}"' in line:
            total += float(line.rsplit(" ", 1)[1])
    return total


class Checks(ProcessTest):
    """What every finding and every meter's report must look like, and what a case must
    give."""

    def well_formed(self, f, address=None):
        if address is not None:
            self.assertEqual(f["address"], address, f)
        self.assertIn(f["severity"], SEVERITIES, f)
        self.assertIsInstance(f["phases"], list, f)
        self.assertTrue(set(f["phases"]) <= {"a", "b", "c"}, f)
        self.assertIsInstance(f["evidence"], dict, f)
        for name, value in f["evidence"].items():
            self.assertTrue(isinstance(value, (int, float)) and not isinstance(value, bool)
                            and math.isfinite(value), (name, f))
        self.assertTrue(isinstance(f["advice"], str) and f["advice"].strip(), f)

    def findings(self, rows, address):
        mine = [r for r in rows if r.get("address") == address]
        self.assertTrue(mine, f"nothing about meter {address}: {rows}")
        found = [r for r in mine if "code" in r]
        for f in found:
            self.well_formed(f, address)
        statuses = [r["status"] for r in mine if "code" not in r]
        if found:
            self.assertEqual(statuses, [], mine)
        else:
            self.assertEqual(statuses, ["no findings"], mine)
        return found

    def gives(self, found, what, code, severities, phases, others):
        """The case's code (once, with its phases, where they are given), no other fault,
        and nothing outside others (None: any other code that is not a fault)."""
        if code:
            mine = [f for f in found if f["code"] == code]
            self.assertTrue(mine, f"{what}: want {code}, got {found}")
            for f in mine:
                self.assertIn(f["severity"], severities, f"{what}: {f}")
            if phases is not None:
                self.assertEqual([sorted(f["phases"]) for f in mine], [phases],
                                 f"{what}: {found}")
        wrong = [f for f in found if f["code"] != code and f["severity"] == "fault"]
        self.assertEqual(wrong, [], f"{what}: faults beside {code}")
        if others is not None:
            extra = [f for f in found if f["code"] != code and
                     f["severity"] not in others.get(f["code"], ())]
            self.assertEqual(extra, [], f"{what}: findings it should not give")


class IndependentMeters(Checks):
    def meters(self, cases, *extra):
        """The cases at addresses 1, 2, ... on one bus; our end of it."""
        ours, theirs = self.pty_pair()
        p = self.spawn(["/usr/bin/python3", METER, theirs, "9600", "N",
                        ",".join(str(n) for n in range(1, len(cases) + 1)), ",".join(cases)]
                       + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = p.stdout.readline()
        self.assertEqual(line, "ready\n", p.stderr.read() if not line else line)
        return ours

    def test_every_case_on_one_bus(self):
        port = self.meters([case for case, *_ in BUS])
        rc, rows, err = ctl_diagnose(port, f"1-{ABSENT}")
        self.assertEqual(rc, 1, err)  # faults, and a meter not read
        for case, code, severities, phases, others in BUS:
            with self.subTest(case=case):
                found = self.findings(rows, ADDRESS[case])
                self.gives(found, case, code, severities, phases, others)
                if case == "healthy-balanced":
                    self.assertEqual(found, [])
        silent = [r for r in rows if r.get("address") == ABSENT]
        self.assertEqual([r.get("status") for r in silent], ["does not answer"], silent)
        # Exit status: 0 without a fault, 1 with one.
        rc, rows, err = ctl_diagnose(port, ",".join(str(ADDRESS[c]) for c in FAULT_FREE))
        self.assertEqual(rc, 0, (err, rows))
        rc, rows, err = ctl_diagnose(port, str(ADDRESS["ct-reversed-b"]))
        self.assertEqual(rc, 1, (err, rows))
        self.assertIn("ct-reversed", [f.get("code") for f in rows])

    def test_nominal_voltage_is_primary_and_frequency_is_the_one_given(self):
        # PT 10: 230 V on the secondary is 2300 V, 180 V is 1800 V.
        port = self.meters(["healthy-balanced", "undervoltage"], "--pt", "10")
        rc, rows, err = ctl_diagnose(port, "2", "--nominal-voltage", "1800")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.findings(rows, 2), [])
        rc, rows, err = ctl_diagnose(port, "2", "--nominal-voltage", "2300")  # 21.7 % low
        found = self.findings(rows, 2)
        self.gives(found, "1800 V of 2300 V", "voltage-range", {"warning", "fault"}, None, {})
        self.assertEqual(rc, 1 if any(f["severity"] == "fault" for f in found) else 0, err)
        rc, rows, err = ctl_diagnose(port, "1", "--nominal-voltage", "2300")
        self.assertEqual((rc, self.findings(rows, 1)), (0, []), err)
        rc, rows, err = ctl_diagnose(port, "1", "--frequency", "60")  # 50 Hz of 60
        self.gives(self.findings(rows, 1), "50 Hz on a 60 Hz grid", "frequency",
                   {"warning", "fault"}, None, {})

    def test_bad_input_exits_2_naming_what_is_wrong(self):
        port = self.meters(["healthy-balanced"])
        for args, words in [(["--address", "1", "--frequency", "55"], "--frequency"),
                            (["--address", "0"], "--address"),
                            (["--address", "1", "--nominal-voltage", "volts"],
                             "--nominal-voltage"),
                            (["--address", "1", "--seconds", "-1"], "--seconds")]:
            out = subprocess.run([CTL, "diagnose", "--port", port] + LINE + args,
                                 capture_output=True, text=True, timeout=30)
            self.assertEqual(out.returncode, 2, (args, out.stdout, out.stderr))
            self.assertIn(words, out.stderr.splitlines()[0] if out.stderr else "", args)
            self.assertEqual(out.stdout, "", args)

    def poller(self, steps, count=9):
        """kx880-poll --diagnose over a healthy meter whose forward active counter takes
        the steps; the published counter of the first readings, /metrics, stderr."""
        port = self.meters(["healthy-balanced"], "--energy-steps", ",".join(map(str, steps)))
        http, path = free_port(), os.path.join(self.dir, "poll.jsonl")
        p = self.spawn([POLL, "--port", port] + LINE + ["--address", "1", "--format", "jsonl",
                       "--output", path, "--diagnose", "--diagnose-window", WINDOW,
                       "--http", f"127.0.0.1:{http}"], stderr=subprocess.PIPE, text=True)
        lines = lambda: read(path).splitlines() if os.path.exists(path) else []
        wait_for(lambda: len(lines()) >= count or p.poll() is not None, 20)
        self.assertGreaterEqual(len(lines()), count,
                                p.communicate(timeout=10)[1] if p.poll() is not None else lines())
        text = wait_for(lambda: metrics(http), 10)
        p.terminate()
        err = p.communicate(timeout=10)[1]
        self.assertEqual(p.returncode, 0, err)
        readings = [json.loads(l) for l in lines()]
        for r in readings:
            self.assertIsInstance(r["findings"], list, r)
        return [r["active_energy_forward"] for r in readings], text, err

    def resets_reported(self, err):
        return [l for l in err.splitlines() if "reset" in l.lower() and "good replies" not in l]

    def test_a_counter_that_steps_back_once_is_held(self):
        published, text, err = self.poller([1000, 1010, 1005, 1020])
        self.assertEqual(published[:4], [1000, 1010, 1010, 1020], published)
        self.assertEqual(set(published[4:]), {1020}, published)
        self.assertEqual(metric_sum(text, "kx880_energy_held_total", 1), 1, text)
        self.assertEqual(metric_sum(text, "kx880_energy_resets_total", 1), 0, text)
        self.assertEqual(self.resets_reported(err), [], err)

    def test_a_drop_that_persists_three_readings_is_a_reset(self):
        published, text, err = self.poller([1000, 1010, 500, 501, 502, 503])
        # 500 and 501 are held at 1010; 502, the third reading below it, is a reset.
        self.assertEqual(published[:6], [1000, 1010, 1010, 1010, 502, 503], published)
        self.assertEqual(set(published[6:]), {503}, published)
        self.assertGreaterEqual(metric_sum(text, "kx880_energy_held_total", 1), 1, text)
        self.assertEqual(metric_sum(text, "kx880_energy_resets_total", 1), 1, text)
        self.assertEqual(len(self.resets_reported(err)), 1, err)


class Simulator(Checks):
    def sim(self, *args, link="bus"):
        link, log = os.path.join(self.dir, link), os.path.join(self.dir, "sim.log")
        with open(log, "w") as err:
            p = self.spawn([SIM, "--link", link, "--address", "1"] + list(args),
                           stdout=subprocess.PIPE, stderr=err)
        started = p.stdout.readline()  # its path: it serves
        p.stdout.close()
        self.assertTrue(started, f"kx880-sim {args} did not start: {read(log)}")
        return p, link

    def stop(self, p):
        p.terminate()
        p.wait(10)

    def test_each_wiring_fault_and_a_healthy_meter(self):
        for option, code, phases in SIM_FAULTS + [(None, None, None)]:
            with self.subTest(fault=option):
                p, link = self.sim(*(["--wiring-fault", option] if option else []))
                rc, rows, err = ctl_diagnose(link, "1")
                self.stop(p)
                found = self.findings(rows, 1)
                self.gives(found, option or "healthy", code, {"fault"}, phases, None)
                self.assertEqual(rc, 1 if option else 0, (err, rows))

    def broker(self):
        port = free_port()
        conf = os.path.join(self.dir, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\n")
        self.spawn(["mosquitto", "-c", conf])
        self.assertTrue(wait_for(lambda: port_open(port), 10), "broker did not start")
        return port

    def retained(self, port, topic):
        """The retained message on the topic (its retain flag checked), or None."""
        out = subprocess.run(["mosquitto_sub", "-p", str(port), "-t", topic, "-F", "%r %p",
                              "--retained-only", "-C", "1", "-W", "1"],
                             capture_output=True, text=True)
        if not out.stdout:
            return None
        flag, payload = out.stdout.rstrip("\n").split(" ", 1)
        self.assertEqual(flag, "1", out.stdout)
        return json.loads(payload)

    def test_poller_publishes_a_standing_finding_then_clears_it(self):
        sim, link = self.sim("--wiring-fault", "ct-reversed:B")
        broker, http = self.broker(), free_port()
        path = os.path.join(self.dir, "poll.jsonl")
        p = self.spawn([POLL, "--port", link] + LINE + ["--address", "1", "--name", "diag",
                       "--format", "jsonl", "--output", path, "--diagnose",
                       "--diagnose-window", WINDOW, "--mqtt", f"127.0.0.1:{broker}",
                       "--ha-discovery", "--http", f"127.0.0.1:{http}"],
                       stderr=subprocess.PIPE, text=True)
        topic = "kx880/diag/1/findings"
        standing_fault = lambda: (lambda m: m if m and m["problem"] else None)(
            self.retained(broker, topic))
        state = wait_for(lambda: p.poll() is not None or standing_fault(), 20)
        self.assertIsNone(p.poll(), p.communicate(timeout=10)[1] if p.poll() is not None else "")
        self.assertIsNotNone(state, "no retained finding")
        self.assertEqual([(f["code"], f["severity"], f["phases"]) for f in state["findings"]
                          if f["severity"] == "fault"], [("ct-reversed", "fault", ["b"])], state)
        for f in state["findings"]:
            self.well_formed(f)
            self.assertTrue(f["since"], f)
        config = self.retained(broker, "homeassistant/binary_sensor/kx880_diag_1/problem/config")
        self.assertIsNotNone(config, "no Home Assistant config")
        self.assertEqual((config["device_class"], config["state_topic"],
                          config["json_attributes_topic"]), ("problem", topic, topic), config)
        standing = 'kx880_finding{bus="diag",address="1",code="ct-reversed",phase="b"} 1'
        text = wait_for(lambda: (lambda t: t if standing in t.splitlines() else None)(
            metrics(http)), 10)
        self.assertIsNotNone(text, f"no {standing} in /metrics")
        # A finding is reported only after it has stood for the whole window: the first
        # reading has none; a later one carries it, with the time it began.
        readings = [json.loads(l) for l in read(path).splitlines()]
        self.assertEqual(readings[0]["findings"], [], readings[0])
        later = [f for r in readings for f in r["findings"] if f["code"] == "ct-reversed"]
        self.assertTrue(later and later[-1]["phases"] == ["b"] and later[-1]["since"], later)

        # The meter put right (the adapter gone and back with a healthy meter behind it):
        # no finding stands once a window has passed without it.
        self.stop(sim)
        self.sim()
        cleared = wait_for(lambda: (lambda m: m if m and not m["findings"] else None)(
            self.retained(broker, topic)), 30)
        self.assertIsNotNone(cleared, f"findings still stand: {self.retained(broker, topic)}")
        self.assertFalse(cleared["problem"], cleared)
        lines = [l for l in metrics(http).splitlines()
                 if l.startswith('kx880_finding{bus="diag",address="1"')]
        self.assertEqual([l for l in lines if not l.endswith(" 0")], [], lines)
        p.terminate()
        err = p.communicate(timeout=10)[1]
        self.assertEqual(p.returncode, 0, err)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
