#!/usr/bin/python3
"""kx880-poll --history end to end: block demand on every reading, the minutes of the SQLite
store as `kx880-poll history` and /api/history export them, a poller killed and restarted
on its file, a second poller refused, a damaged file set aside, and bad input. The meter is
an independent pymodbus slave with constant registers, so that every value is known here.
Usage: history_e2e.py KX880_POLL KX880_SIM
"""
import csv
import datetime
import json
import math
import os
import re
import statistics
import subprocess
import sys
import time
import unittest
import urllib.request

from e2e_util import ProcessTest, free_port, read, wait_for

POLL, SIM = sys.argv[1], sys.argv[2]
SLAVES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peer_slaves.py")
MINUTE, QUARTER = 60000, 900000

# PT 1 (0x307), CT 1 (0x309), Urg flag 0 (x 1), energy exponent 0 (x 1), wiring 3, class 1.
# Each phase 230 V, 2.1739 A, 400 W, 300 var, 500 VA, PF 0.8; the totals three times that.
REGS = {0x300: 1, 0x301: 3, 0x305: 0, 0x306: 0, 0x307: 1, 0x309: 1, 0x310: 1,
        0x00: 23000, 0x08: 23000, 0x10: 23000, 0x19: 23000,  # U x 100
        0x01: 39837, 0x09: 39837, 0x11: 39837,  # line U x 100: 230 V x sqrt(3)
        0x02: 21739, 0x0A: 21739, 0x12: 21739, 0x1A: 21739, 0x18: 0,  # I x 10000: 500 / 230
        0x04: 4000, 0x0C: 4000, 0x14: 4000, 0x1C: 12000,  # P x 10
        0x05: 8000, 0x0D: 8000, 0x15: 8000, 0x1D: 8000,  # PF x 10000: 1200 / 1500
        0x06: 3000, 0x0E: 3000, 0x16: 3000, 0x1E: 9000,  # Q x 10: sqrt(1500^2 - 1200^2) = 900
        0x07: 2500, 0x0F: 2500, 0x17: 2500, 0x1F: 7500,  # S x 5
        0x1B: 46811,  # f / 0.00106813
        0x21: 3456, 0x22: 1}  # forward active energy, low word first; the other counters 0
HAND = {"voltage_a": 23000 / 100, "current_a": 21739 / 10000, "active_power_a": 4000 / 10,
        "active_power_total": 12000 / 10, "apparent_power_total": 7500 / 5,
        "power_factor_total": 8000 / 10000, "frequency": 46811 * 0.00106813,
        "active_energy_forward": 1 * 65536 + 3456}  # 68992 Wh
COUNTERS = {"active_energy_forward"}


def ms(iso):
    t = datetime.datetime.fromisoformat(iso.replace("Z", "+00:00"))
    return int(t.timestamp()) * 1000 + t.microsecond // 1000


def iso(unix_ms):
    return datetime.datetime.fromtimestamp(unix_ms / 1000, datetime.timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%SZ")


def jsonl(path):
    """The complete lines written so far (the last one may be under way)."""
    text = read(path) if os.path.exists(path) else ""
    return [json.loads(l) for l in text[:text.rfind("\n") + 1].splitlines()]


def get(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=10) as r:
        return r.status, r.headers["Content-Type"], r.read()


def until(unix_ms):
    """Seconds from now to a moment, for a deadline."""
    return max(1.0, unix_ms / 1000 - time.time())


class History(ProcessTest):
    def pymodbus_bus(self):
        ours, theirs = os.path.join(self.dir, "A"), os.path.join(self.dir, "B")
        self.spawn(["socat", f"pty,raw,echo=0,link={ours}", f"pty,raw,echo=0,link={theirs}"])
        self.assertTrue(wait_for(lambda: os.path.exists(ours) and os.path.exists(theirs), 10))
        p = self.spawn(["/usr/bin/python3", SLAVES, "pymodbus", theirs, "9600", "N", "1"]
                       + [f"{r:#x}={v}" for r, v in REGS.items()], stdout=subprocess.PIPE, text=True)
        self.assertEqual(p.stdout.readline(), "ready\n")
        # It says ready before it opens the terminal.
        real, fds = os.path.realpath(theirs), f"/proc/{p.pid}/fd"
        self.assertTrue(wait_for(lambda: any(os.path.realpath(os.path.join(fds, f)) == real
                                             for f in os.listdir(fds)), 10))
        return ours

    def sim(self):
        p = self.spawn([SIM, "--address", "1", "--frozen"], stdout=subprocess.PIPE, text=True)
        return p.stdout.readline().strip()  # the terminal's path: it is ready

    def poller(self, port, history, out, http=None, err=None):
        args = [POLL, "--port", port, "--address", "1", "--name", "hist", "--interval", "100",
                "--history", history, "--format", "jsonl", "--output", out]
        if err:
            err = open(err, "w")
            self.addCleanup(err.close)
        return self.spawn(args + (["--http", f"127.0.0.1:{http}"] if http else []), stderr=err)

    def checked(self, lines):
        """Every reading by hand, and its demand: the counters stand still, so the mean of
        the readings, 1200 W and 1500 VA, predicted the same for the rest of the quarter."""
        for l in lines:
            for q, want in HAND.items():
                self.assertTrue(math.isclose(l[q], want, rel_tol=1e-12), f"{q}: {l[q]}")
            d = l["demand"]
            self.assertEqual((d["minutes"], d["running_w"], d["running_va"], d["predicted_w"],
                              d["predicted_va"]), (15, 1200, 1500, 1200, 1500), d)
            self.assertEqual(ms(d["running_start"]), ms(l["time"]) // QUARTER * QUARTER)
        return lines

    def csv_rows(self, raw):
        self.assertTrue(raw.endswith(b"\r\n"), raw[-20:])  # RFC 4180: CR LF after every line
        self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"))
        table = list(csv.reader(raw.decode().split("\r\n")[:-1]))
        header = table[0]
        self.assertEqual(header[:4], ["time", "address", "step_s", "readings"])
        self.assertEqual(len(header), 4 + 34 * 3 + 4)  # min, mean, max; last of the counters
        for name in ("voltage_a_mean [V]", "current_a_max [A]", "active_power_total_min [W]",
                     "apparent_power_total_mean [VA]", "power_factor_total_mean",
                     "frequency_max [Hz]", "active_energy_forward_last [Wh]",
                     "reactive_energy_reverse_last [varh]"):
            self.assertIn(name, header)
        rows = []
        for line in table[1:]:
            cells = dict(zip(header, line))
            self.assertEqual(cells["address"], "1")
            values = {}
            for name, cell in cells.items():
                if m := re.fullmatch(r"(\w+)_(min|mean|max|last)( \[\w+\])?", name):
                    values[(m[1], m[2])] = float(cell) if cell else None
            rows.append({"time": ms(cells["time"]), "step_s": int(cells["step_s"]),
                         "readings": int(cells["readings"]), "values": values})
        return rows

    def json_rows(self, raw):
        doc = json.loads(raw)
        self.assertEqual((doc["address"], doc["step_s"]), (1, 60))
        return [{"time": ms(r["time"]), "step_s": r["step_s"], "readings": r["readings"],
                 "values": {(k, p): v for k, stats in r["values"].items()
                            for p, v in stats.items()}} for r in doc["rows"]]

    def exports(self, path, first, last, http=None):
        """The minutes of [first, last): the command's CSV and JSON and, given a port,
        /api/history's, all alike; None when a minute was committed between two of them."""
        span = ["--from", iso(first), "--to", iso(last), "--step", "1m"]
        found = []
        for fmt, rows in (("csv", self.csv_rows), ("json", self.json_rows)):
            p = subprocess.run([POLL, "history", "--history", path, "--address", "1", *span,
                                "--format", fmt], capture_output=True, timeout=30)
            self.assertEqual(p.returncode, 0, p.stderr)
            found.append(rows(p.stdout))
            if http:
                status, kind, body = get(http, f"/api/history?address=1&from={iso(first)}"
                                               f"&to={iso(last)}&step=1m&format={fmt}")
                self.assertEqual(status, 200)
                self.assertTrue(kind.startswith("text/csv" if fmt == "csv" else
                                                "application/json"), kind)
                found.append(rows(body))
        if len({len(rows) for rows in found}) > 1:
            return None
        for other in found[1:]:
            self.assertEqual(other, found[0])
        return found[0]

    def check_row(self, row, start, lines):
        """A minute's row against the JSON lines of that minute: exact, as the values are
        constant; the frequency is kept as a float32 (24-bit mantissa: 6e-8 relative)."""
        mine = [l for l in lines if start <= ms(l["time"]) < start + MINUTE]
        self.assertEqual((row["time"], row["step_s"], row["readings"]), (start, 60, len(mine)))
        for q in HAND:
            xs = [l[q] for l in mine]
            want = {"min": min(xs), "mean": statistics.mean(xs), "max": max(xs)}
            if q in COUNTERS:
                want["last"] = xs[-1]
            for part, value in want.items():
                got = row["values"][(q, part)]
                if q == "frequency":
                    self.assertTrue(math.isclose(got, value, rel_tol=1e-7), (q, part, got))
                else:
                    self.assertEqual(got, value, (q, part))

    def test_history_demand_restart_lock_damage_and_bad_input(self):
        bus, refused_bus, damaged_bus = self.pymodbus_bus(), self.sim(), self.sim()
        second = time.time() % 60
        if second > 50:  # too little of this minute left to fill a row: start with the next
            time.sleep(60.2 - second)
        store, out, http = os.path.join(self.dir, "h.db"), os.path.join(self.dir, "h.jsonl"), \
            free_port()
        first = self.poller(bus, store, out, http)
        damaged, damaged_out = os.path.join(self.dir, "d.db"), os.path.join(self.dir, "d.jsonl")
        garbage = b"not a database\n\x00\xff" * 300
        with open(damaged, "wb") as f:
            f.write(garbage)
        before = int(time.time())
        fixed = self.poller(damaged_bus, damaged, damaged_out, err=damaged + ".err")

        # 1. Demand on every reading, in /metrics and in the API.
        lines = wait_for(lambda: (lambda l: len(l) >= 3 and l)(jsonl(out)), 15)
        self.assertTrue(lines, "no readings")
        self.checked(lines)
        m0 = ms(lines[0]["time"]) // MINUTE * MINUTE
        scrape = lambda: get(http, "/metrics")[2].decode()
        text = wait_for(lambda: (lambda t: "kx880_demand_watts" in t and t)(scrape()), 10)
        metrics = dict(l.rsplit(" ", 1) for l in text.splitlines() if l and l[0] != "#")
        at = '{bus="hist",address="1",kind='
        for name, want in (("kx880_demand_watts", 1200), ("kx880_demand_volt_amperes", 1500)):
            for kind in ("running", "predicted"):
                self.assertEqual(float(metrics[f'{name}{at}"{kind}"}}']), want, name + kind)
            self.assertNotIn(f'{name}{at}"last"}}', metrics)  # no interval has closed yet
        status, _, body = get(http, "/api/meters/1/demand")
        doc = json.loads(body)
        self.assertEqual((status, doc["address"], doc["intervals"]), (200, 1, []))
        d = doc["demand"]
        self.assertEqual((d["minutes"], d["running_w"], d["running_va"]), (15, 1200, 1500))
        self.assertEqual(ms(d["running_start"]) % QUARTER, 0)

        # 4. A second poller on the same file is refused before it writes anything.
        other_out = os.path.join(self.dir, "other.jsonl")
        p = subprocess.run([POLL, "--port", refused_bus, "--address", "1", "--history", store,
                            "--output", other_out], capture_output=True, text=True, timeout=30)
        self.assertEqual(p.returncode, 2, p.stderr)
        self.assertRegex(p.stderr.splitlines()[0], re.escape(store) + ".* in use")
        self.assertFalse(os.path.exists(other_out))
        self.assertIsNone(first.poll())
        n = len(jsonl(out))
        self.assertTrue(wait_for(lambda: len(jsonl(out)) > n + 5, 10), "the first stopped")

        # 5. Garbage for a history file: kept aside as it was, and a new store started.
        err = wait_for(lambda: (lambda e: "moved to" in e and e)(read(damaged + ".err")), 15)
        self.assertTrue(err, "no word of the damaged file")
        m = re.search(re.escape(damaged) + r" is damaged \(.+\); moved to (" + re.escape(damaged)
                      + r"\.corrupt-(\d+)), starting a new file", err)
        self.assertTrue(m, err)
        self.assertTrue(before <= int(m[2]) <= time.time(), m[2])
        with open(m[1], "rb") as f:
            self.assertEqual(f.read(), garbage)
        self.assertIsNone(fixed.poll())

        # 6. Bad input: exit 2, a line naming the option and the hint, nothing created.
        nowhere, unused = os.path.join(self.dir, "no-port"), os.path.join(self.dir, "u.db")
        for args, option in [
                (["--port", nowhere, "--address", "1", "--history", unused, "--history-days", "0"],
                 "--history-days"),
                (["--port", nowhere, "--address", "1", "--history", unused,
                  "--demand-minutes", "20"], "--demand-minutes"),
                (["history", "--history", store, "--address", "1", "--from", iso(m0), "--to",
                  iso(m0 + MINUTE), "--step", "2m"], "--step"),
                (["history", "--history", store, "--address", "1", "--from", "yesterday", "--to",
                  iso(m0)], "--from")]:
            p = subprocess.run([POLL] + args, capture_output=True, text=True, timeout=30)
            self.assertEqual(p.returncode, 2, args)
            complaint, hint = p.stderr.splitlines()
            self.assertIn(option, complaint)
            self.assertIn("--help", hint)
            self.assertEqual(p.stdout, "")
        self.assertEqual([f for f in os.listdir(self.dir) if f.startswith("u.db")], [])

        # 2. Once the minute has turned: its row, one, exported alike four ways.
        span = (store, m0 - 10 * MINUTE, m0 + 10 * MINUTE)
        rows = wait_for(lambda: self.exports(*span, http), until(m0 + MINUTE + 20000))
        self.assertEqual(len(rows or []), 1, "no minute committed")
        self.check_row(rows[0], m0, self.checked(jsonl(out)))
        # The new store beside the damaged one works as well.
        fixed_rows = wait_for(lambda: self.exports(damaged, *span[1:]), 20)
        self.assertEqual(len(fixed_rows or []), 1)
        mine = [l for l in jsonl(damaged_out) if m0 <= ms(l["time"]) < m0 + MINUTE]
        self.assertEqual((fixed_rows[0]["time"], fixed_rows[0]["readings"]), (m0, len(mine)))
        fixed.terminate()
        self.assertEqual(fixed.wait(20), 0)

        # 3. Killed early in the next minute: what was committed stays, the readings of the
        # minute under way are lost.
        m1 = m0 + MINUTE
        first.kill()
        first.wait()
        self.assertEqual(self.exports(*span), rows)
        out2, http2 = os.path.join(self.dir, "h2.jsonl"), free_port()
        again = self.poller(bus, store, out2, http2, err=store + ".err")
        self.assertTrue(wait_for(lambda: len(jsonl(out2)) >= 3, 15), "no restart")
        self.assertEqual(read(store + ".err"), "")  # no complaint
        self.assertEqual(self.exports(*span, http2), rows)
        # A clean stop writes the minute under way as far as it got: the new run's readings
        # of that minute, not the lost ones.
        again.terminate()
        self.assertEqual(again.wait(20), 0)
        after = self.exports(*span)
        self.assertEqual(len(after or []), 2, "the stop wrote no minute")
        self.assertEqual(after[0], rows[0])
        self.check_row(after[1], m1, self.checked(jsonl(out2)))
        for line in read(store + ".err").splitlines():  # the summary alone
            self.assertTrue(line.startswith("kx880-poll: meter 1: "), line)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
