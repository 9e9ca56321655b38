#!/usr/bin/python3
"""kx880-poll against independent Modbus RTU slaves (pymodbus, libmodbus) that answer the
moment a request is read, on a socat pseudo-terminal pair: every output of the poller, with
values worked out here from the registers the slaves are given.
Usage: peers_e2e.py KX880_POLL KX880_SIM
"""
import csv
import json
import math
import os
import re
import subprocess
import sys
import time
import unittest
import urllib.request

from e2e_util import ProcessTest, free_port, port_open, read, wait_for

POLL, SIM = sys.argv[1], sys.argv[2]
SLAVES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peer_slaves.py")

REGS = {
    # PT 10, CT 20, Urg flag 1 (U = 4), E 0 (x 1), wiring 3, class byte 5.
    1: {0x300: 1, 0x301: 3, 0x305: 1, 0x306: 0, 0x307: 10, 0x309: 20, 0x310: 0x0A05,
        0x00: 22010, 0x01: 38120, 0x02: 12345, 0x04: 0xFFF6, 0x05: 9500, 0x06: 250, 0x07: 1000,
        0x08: 22120, 0x09: 38200, 0x0A: 20000, 0x0C: 1500, 0x0D: 0xEC78, 0x0E: 0xFF38, 0x0F: 2000,
        0x10: 22230, 0x11: 38310, 0x12: 5000, 0x14: 300, 0x15: 8000, 0x16: 123, 0x17: 600,
        0x18: 150, 0x19: 22120, 0x1A: 12448, 0x1B: 46811, 0x1C: 1180, 0x1D: 7500, 0x1E: 0xFFE2,
        0x1F: 3600, 0x21: 1000, 0x22: 2, 0x23: 5, 0x24: 0, 0x25: 0xFFFF, 0x26: 0, 0x27: 0, 0x28: 1},
    # PT 2, CT 3, Urg flag 0 (U = 1), E 2 (x 100), wiring 1, class byte 2.
    7: {0x300: 7, 0x301: 1, 0x305: 0, 0x306: 2, 0x307: 2, 0x309: 3, 0x310: 0x0002,
        0x00: 23050, 0x01: 39920, 0x02: 50000, 0x04: 0x8000, 0x05: 0xD8F0, 0x06: 32767, 0x07: 65535,
        0x08: 23100, 0x09: 40010, 0x0A: 1, 0x0C: 1, 0x0D: 10000, 0x0E: 0xFFFF, 0x0F: 5,
        0x10: 22900, 0x11: 39800, 0x12: 33333, 0x14: 4321, 0x15: 0xF830, 0x16: 0xFC18, 0x17: 2500,
        0x18: 7, 0x19: 23017, 0x1A: 27778, 0x1B: 46816, 0x1C: 0x90E2, 0x1D: 0xFC18, 0x1E: 100,
        0x1F: 8000, 0x21: 0x4567, 0x22: 0x0123, 0x23: 1, 0x24: 0, 0x25: 0, 0x26: 0x10,
        0x27: 0xFFFF, 0x28: 0xFFFF},
    # PT 100, CT 5, Urg flag 2 (not 1: U = 1), E 1 (x 10), wiring 2, class byte 1.
    200: {0x300: 200, 0x301: 2, 0x305: 2, 0x306: 1, 0x307: 100, 0x309: 5, 0x310: 0x0301,
          0x00: 5774, 0x01: 10000, 0x02: 2000, 0x04: 0xFF9C, 0x05: 0xF060, 0x06: 0xFFF1, 0x07: 300,
          0x08: 5780, 0x09: 10010, 0x0A: 2100, 0x0C: 80, 0x0D: 6000, 0x0E: 40, 0x0F: 110,
          0x10: 5770, 0x11: 9990, 0x12: 1900, 0x14: 0xFFEC, 0x15: 0xD8F1, 0x16: 10, 0x17: 25,
          0x18: 33, 0x19: 5776, 0x1A: 2000, 0x1B: 46800, 0x1C: 0xFFC4, 0x1D: 0xF448, 0x1E: 35,
          0x1F: 435, 0x21: 12345, 0x22: 0, 0x23: 0, 0x24: 3, 0x25: 999, 0x26: 0, 0x27: 1, 0x28: 1},
}
# Voltages raw / 100 x PT, currents raw / 10000 x CT, P and Q signed raw / 10 x PT x CT x U
# (meter 1: x 800, meter 7: x 6, meter 200: x 500), S raw / 5 x PT x CT (x 200, x 6, x 500),
# PF signed raw / 10000, f raw x 0.00106813, energies (high x 65536 + low) x 10^E x PT x CT
# (x 200, x 600, x 5000). Signed words in two's complement: 0xFFF6 = 65526 - 65536 = -10.
COLUMNS = {  # quantity: (meter 1, meter 7, meter 200)
    "voltage_a": (22010 / 100 * 10, 23050 / 100 * 2, 5774 / 100 * 100),
    "voltage_b": (22120 / 100 * 10, 23100 / 100 * 2, 5780 / 100 * 100),
    "voltage_c": (22230 / 100 * 10, 22900 / 100 * 2, 5770 / 100 * 100),
    "voltage_mean": (22120 / 100 * 10, 23017 / 100 * 2, 5776 / 100 * 100),
    "line_voltage_ca": (38120 / 100 * 10, 39920 / 100 * 2, 10000 / 100 * 100),
    "line_voltage_ab": (38200 / 100 * 10, 40010 / 100 * 2, 10010 / 100 * 100),
    "line_voltage_bc": (38310 / 100 * 10, 39800 / 100 * 2, 9990 / 100 * 100),
    "line_voltage_mean": ((38120 + 38200 + 38310) / 3 / 100 * 10,  # 3821 V
                          (39920 + 40010 + 39800) / 3 / 100 * 2,  # 798.2 V
                          (10000 + 10010 + 9990) / 3 / 100 * 100),  # 10000 V
    "current_a": (12345 / 10000 * 20, 50000 / 10000 * 3, 2000 / 10000 * 5),
    "current_b": (20000 / 10000 * 20, 1 / 10000 * 3, 2100 / 10000 * 5),
    "current_c": (5000 / 10000 * 20, 33333 / 10000 * 3, 1900 / 10000 * 5),
    "current_mean": (12448 / 10000 * 20, 27778 / 10000 * 3, 2000 / 10000 * 5),
    "current_zero_sequence": (150 / 10000 * 20, 7 / 10000 * 3, 33 / 10000 * 5),
    "active_power_a": (-10 / 10 * 800, -32768 / 10 * 6, -100 / 10 * 500),
    "active_power_b": (1500 / 10 * 800, 1 / 10 * 6, 80 / 10 * 500),
    "active_power_c": (300 / 10 * 800, 4321 / 10 * 6, -20 / 10 * 500),
    "active_power_total": (1180 / 10 * 800, -28446 / 10 * 6, -60 / 10 * 500),
    "reactive_power_a": (250 / 10 * 800, 32767 / 10 * 6, -15 / 10 * 500),
    "reactive_power_b": (-200 / 10 * 800, -1 / 10 * 6, 40 / 10 * 500),
    "reactive_power_c": (123 / 10 * 800, -1000 / 10 * 6, 10 / 10 * 500),
    "reactive_power_total": (-30 / 10 * 800, 100 / 10 * 6, 35 / 10 * 500),
    "apparent_power_a": (1000 / 5 * 200, 65535 / 5 * 6, 300 / 5 * 500),
    "apparent_power_b": (2000 / 5 * 200, 5 / 5 * 6, 110 / 5 * 500),
    "apparent_power_c": (600 / 5 * 200, 2500 / 5 * 6, 25 / 5 * 500),
    "apparent_power_total": (3600 / 5 * 200, 8000 / 5 * 6, 435 / 5 * 500),
    "power_factor_a": (9500 / 10000, -10000 / 10000, -4000 / 10000),
    "power_factor_b": (-5000 / 10000, 10000 / 10000, 6000 / 10000),
    "power_factor_c": (8000 / 10000, -2000 / 10000, -9999 / 10000),
    "power_factor_total": (7500 / 10000, -1000 / 10000, -3000 / 10000),
    "frequency": (46811 * 0.00106813, 46816 * 0.00106813, 46800 * 0.00106813),  # 50.00023343 Hz..
    "active_energy_forward": ((2 * 65536 + 1000) * 200, (0x0123 * 65536 + 0x4567) * 600,
                              (0 * 65536 + 12345) * 5000),
    "active_energy_reverse": ((0 * 65536 + 5) * 200, (0 * 65536 + 1) * 600, (3 * 65536 + 0) * 5000),
    "reactive_energy_forward": ((0 * 65536 + 65535) * 200, (16 * 65536 + 0) * 600,
                                (0 * 65536 + 999) * 5000),
    "reactive_energy_reverse": ((1 * 65536 + 0) * 200, (65535 * 65536 + 65535) * 600,
                                (1 * 65536 + 1) * 5000),
    "pt": (10, 2, 100), "ct": (20, 3, 5), "wiring": (3, 1, 2), "urg_factor": (4, 1, 1),
    "class": (5, 2, 1), "energy_scale": (1, 100, 10),
}
EXPECTED = {a: {k: v[i] for k, v in COLUMNS.items()} for i, a in enumerate((1, 7, 200))}
# The live table in the console's units: a step up only above 1000 (so never for a negative
# value), V with 2 decimals, A, kilo and mega steps with 4, W/var/VA with 1, f with 3.
TABLE = {  # state, U mean, U line, I mean, P, Q, S (totals), PF, f, Ep+, Eq+
    1: ["ok", "2.21 KV", "3.82 KV", "24.8960 A", "94.4000 KW", "-2400.0 Var", "144.0000 KVA",
        "0.7500", "50.000 Hz", "26.4144 MWh", "13.1070 MVarh"],
    7: ["ok", "460.34 V", "798.20 V", "8.3334 A", "-17067.6 W", "60.0 Var", "9.6000 KVA",
        "-0.1000", "50.006 Hz", "11453.2458 MWh", "629.1456 MVarh"],
    200: ["ok", "5.78 KV", "10.00 KV", "1.0000 A", "-3000.0 W", "1.7500 KVar", "43.5000 KVA",
          "-0.3000", "49.988 Hz", "61.7250 MWh", "4.9950 MVarh"],
}


def listening(port):  # seen without connecting: socat would open the terminal for nothing
    with open("/proc/net/tcp") as f:
        return any(l.split()[1].endswith(f":{port:04X}") and l.split()[3] == "0A"
                   for l in f.readlines()[1:])


class Peers(ProcessTest):
    def slaves(self, kind, device, addresses, *extra, baud=9600, parity="N"):
        regs = [f"{a}:{r:#x}={v}" for a in addresses for r, v in REGS[a].items()]
        p = self.spawn(["/usr/bin/python3", SLAVES, kind, device, str(baud), parity,
                        ",".join(map(str, addresses))] + regs + list(extra),
                       stdout=subprocess.PIPE, text=True)
        self.assertEqual(p.stdout.readline(), "ready\n")
        # pymodbus says ready before it opens the terminal, and drops what came before.
        real, fds = os.path.realpath(device), f"/proc/{p.pid}/fd"
        self.assertTrue(wait_for(lambda: any(os.path.realpath(os.path.join(fds, f)) == real
                                             for f in os.listdir(fds)), 10))
        time.sleep(0.1)  # from open to the flush of what came before

    def bus(self, kind, addresses, *extra, **line):
        ours, theirs = self.pty_pair()
        self.slaves(kind, theirs, addresses, *extra, **line)
        return ours

    def poll(self, port, addresses, *args):
        out = subprocess.run([POLL, "--port", port, "--address", ",".join(map(str, addresses))]
                             + list(args), capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        return out

    def clean_summary(self, err, addresses):
        for a in addresses:
            self.assertRegex(err, rf"meter {a}: [1-9]\d* good replies, 0 timeouts, "
                             r"0 bad frames, 0 exceptions", err)

    def check(self, reading, nulls=()):
        """Every value of a reading against the hand values; the meters in nulls have no
        valid energy exponent yet."""
        a = reading["address"]
        for key, want in EXPECTED[a].items():
            if a in nulls and ("energy" in key):
                self.assertIsNone(reading[key], key)
            else:
                self.assertTrue(math.isclose(reading[key], want, rel_tol=1e-9, abs_tol=1e-12),
                                f"meter {a} {key}: {reading[key]} != {want}")

    def checked(self, jsonl, order, nulls=()):
        lines = [json.loads(l) for l in jsonl.splitlines()]
        self.assertEqual([l["address"] for l in lines], order)
        for l in lines:
            self.check(l, nulls)

    def outputs(self, port, addresses, *args, rounds=3):
        """jsonl and csv: every reading, in order, every value; a clean summary."""
        out = self.poll(port, addresses, "--count", str(rounds), "--format", "jsonl", *args)
        self.checked(out.stdout, addresses * rounds)
        self.clean_summary(out.stderr, addresses)
        out = self.poll(port, addresses, "--count", str(rounds), "--format", "csv", *args)
        rows = list(csv.DictReader(out.stdout.splitlines()))
        self.assertEqual([int(r["address"]) for r in rows], addresses * rounds)
        for r in rows:
            self.check({k.split(" [")[0]: int(v) if k == "address" else float(v) if v else None
                        for k, v in r.items() if k not in ("time", "bus")})
        self.clean_summary(out.stderr, addresses)

    def test_pymodbus_one_and_three_meters_and_the_table(self):
        self.outputs(self.bus("pymodbus", [7]), [7])
        port = self.bus("pymodbus", [1, 7, 200])
        self.outputs(port, [1, 7, 200])
        out = self.poll(port, [1, 7, 200], "--count", "2", "--format", "table")
        text = re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", out.stdout.split("\x1b[2J")[-1])
        rows = {int(l.split()[0]): re.split(r"\s{2,}", l.strip())[1:]
                for l in text.splitlines() if re.match(r"\d+ ", l)}
        self.assertEqual(rows, TABLE, text)
        for a in (1, 7, 200):
            self.assertIn(f"meter {a}: 3 ok, 0 timeouts, 0 bad frames, 0 exceptions", text)
        self.assertNotIn("silent", text)

    def test_libmodbus_one_and_three_meters(self):
        line = ("--baud", "19200", "--parity", "even")
        self.outputs(self.bus("libmodbus", [200], baud=19200, parity="E"), [200], *line)
        self.outputs(self.bus("libmodbus", [1, 7, 200], baud=19200, parity="E"), [1, 7, 200],
                     *line)

    def test_mqtt_prometheus_and_a_file_at_once(self):
        port = self.bus("libmodbus", [1, 7, 200])
        broker = free_port()
        http = wait_for(lambda: (lambda p: p if p != broker else None)(free_port()), 5)
        conf = os.path.join(self.dir, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write(f"listener {broker} 127.0.0.1\nallow_anonymous true\n")
        self.spawn(["mosquitto", "-c", conf])
        self.assertTrue(wait_for(lambda: port_open(broker), 10), "broker did not start")
        path = os.path.join(self.dir, "site.jsonl")
        p = self.spawn([POLL, "--port", port, "--address", "1,7,200", "--name", "peers",
                        "--interval", "50", "--format", "jsonl", "--output", path,
                        "--mqtt", f"127.0.0.1:{broker}", "--ha-discovery",
                        "--http", f"127.0.0.1:{http}"], stderr=subprocess.PIPE, text=True)
        scrape = lambda: urllib.request.urlopen(f"http://127.0.0.1:{http}/metrics").read().decode()
        text = wait_for(lambda: (lambda t: 'volts{bus="peers",address="200",phase="a"}' in t and t)(
            scrape()), 15)
        self.assertTrue(text, "no /metrics with meter 200")
        check = subprocess.run(["promtool", "check", "metrics"], input=text,
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        metrics = dict(l.rsplit(" ", 1) for l in text.splitlines() if l and l[0] != "#")
        for a, want in EXPECTED.items():
            at = f'{{bus="peers",address="{a}"'
            for name, value in [("kx880_up" + at + "}", 1),
                                ("kx880_voltage_volts" + at + ',phase="a"}', want["voltage_a"]),
                                ("kx880_current_amperes" + at + ',phase="b"}', want["current_b"]),
                                ("kx880_power_watts" + at + ',phase="total"}',
                                 want["active_power_total"]),
                                ("kx880_frequency_hertz" + at + "}", want["frequency"]),
                                ("kx880_active_energy_joules_total" + at + ',direction="forward"}',
                                 want["active_energy_forward"] * 3600)]:  # Wh in J
                self.assertTrue(math.isclose(float(metrics[name]), value, rel_tol=1e-9), name)

        def retained():
            out = subprocess.run(["mosquitto_sub", "-p", str(broker), "-t", "#", "-W", "3",
                                  "-F", "%t %p", "--retained-only"], capture_output=True, text=True)
            msgs = dict((l.split(" ", 1) + [""])[:2] for l in out.stdout.splitlines())
            return msgs if len([t for t in msgs if t.startswith("homeassistant/")]) >= 3 * 34 \
                and all(f"kx880/peers/{a}/state" in msgs for a in EXPECTED) else None
        msgs = wait_for(retained, 15)
        self.assertIsNotNone(msgs, "retained states and discovery configs")
        for a in EXPECTED:
            self.check(json.loads(msgs[f"kx880/peers/{a}/state"]))
            self.assertEqual(msgs[f"kx880/peers/{a}/availability"], "online")
            configs = [t for t in msgs if t.startswith(f"homeassistant/sensor/kx880_peers_{a}/")]
            self.assertEqual(len(configs), 34)
            c = json.loads(msgs[f"homeassistant/sensor/kx880_peers_{a}/voltage_a/config"])
            self.assertEqual(c["state_topic"], f"kx880/peers/{a}/state")
        p.terminate()
        err = p.communicate(timeout=20)[1]
        self.assertEqual(p.returncode, 0, err)
        self.clean_summary(err, [1, 7, 200])
        n = len(read(path).splitlines())
        self.assertGreater(n, 6)
        self.checked(read(path), ([1, 7, 200] * n)[:n])

    def test_pymodbus_behind_a_tcp_serial_server(self):
        slaves_end, far = self.pty_pair()
        port = free_port()
        self.spawn(["socat", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr,fork",
                    f"FILE:{far},raw,echo=0"])
        self.assertTrue(wait_for(lambda: listening(port), 10))
        self.slaves("pymodbus", slaves_end, [1, 7, 200])
        out = self.poll(f"tcp://127.0.0.1:{port}", [1, 7, 200], "--count", "3", "--format", "jsonl")
        self.checked(out.stdout, [1, 7, 200] * 3)
        self.clean_summary(out.stderr, [1, 7, 200])

    def test_a_silent_meter_among_fast_ones(self):
        # Meter 7 reports exponent 9, outside its table: its energies stay null.
        port = self.bus("pymodbus", [1, 7], "7:0x306=9")
        out = self.poll(port, [1, 9, 7], "--count", "20", "--format", "jsonl")
        self.checked(out.stdout, [1, 7] * 20, nulls=(7,))
        self.assertEqual(out.stderr.count(f"meter 9 on {port} stopped answering (no reply)"), 1,
                         out.stderr)
        self.assertEqual(out.stderr.count("stopped answering"), 1, out.stderr)
        self.assertIn("meter 9: 0 good replies", out.stderr)
        self.clean_summary(out.stderr, [1, 7])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
