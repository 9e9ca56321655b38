#!/usr/bin/python3
"""kx880-poll's dashboard end to end: its JSON API by value over independent pymodbus slaves,
and the page in headless Chromium (Selenium) over those slaves and over kx880-sim: values by
value, live changes, a silenced meter, a standing finding, charts, a restarted poller, basic
authentication, and no request to another origin.
Usage: dashboard_e2e.py KX880_POLL KX880_SIM
"""
import base64
import json
import math
import os
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

from e2e_util import ProcessTest, free_port, read, wait_for

POLL, SIM = sys.argv[1], sys.argv[2]
SLAVES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peer_slaves.py")

# Two meters of a healthy 4-wire installation, worked out from phasors so that no check but
# meter 12's frequency has anything to say.
# Meter 1: PT 1, CT 1, Urg flag 0 (x 1), E 0 (x 1), wiring 0, class byte 2.
#   A 230 V 2.0 A PF 0.95: S 460 VA, P 437 W, Q 143.6 var; B 231 V 1.8 A PF 0.90: S 415.8,
#   P 374.2, Q 181.2; C 229 V 1.6 A PF 0.98: S 366.4, P 359.1, Q 72.9; lines
#   sqrt(Ux^2 + Uy^2 + UxUy): CA 397.51, AB 399.24, BC 398.37 V; |Ia + Ib + Ic| 0.1533 A.
# Meter 12: PT 100, CT 40, Urg flag 1 (x 4), E 1 (x 10), wiring 5, class byte 1; secondary
#   57.71/57.91/57.60 V, 2.5/2.4/2.6 A, PF 0.8; P and Q held / 4; 51 Hz, 2 % high.
REGS = {
    1: {0x300: 1, 0x301: 0, 0x305: 0, 0x306: 0, 0x307: 1, 0x309: 1, 0x310: 0x0002,
        0x00: 23000, 0x01: 39751, 0x02: 20000, 0x04: 4370, 0x05: 9500, 0x06: 1436, 0x07: 2300,
        0x08: 23100, 0x09: 39924, 0x0A: 18000, 0x0C: 3742, 0x0D: 9000, 0x0E: 1812, 0x0F: 2079,
        0x10: 22900, 0x11: 39837, 0x12: 16000, 0x14: 3591, 0x15: 9800, 0x16: 729, 0x17: 1832,
        0x18: 1533, 0x19: 23000, 0x1A: 18000, 0x1B: 46811, 0x1C: 11703, 0x1D: 9421,
        0x1E: 3977, 0x1F: 6211, 0x21: 1000, 0x22: 2, 0x23: 5, 0x24: 0, 0x25: 34567,
        0x26: 0, 0x27: 12, 0x28: 0},
    12: {0x300: 12, 0x301: 5, 0x305: 1, 0x306: 1, 0x307: 100, 0x309: 40, 0x310: 0x0A01,
         0x00: 5771, 0x01: 9986, 0x02: 25000, 0x04: 289, 0x05: 8000, 0x06: 216, 0x07: 721,
         0x08: 5791, 0x09: 10013, 0x0A: 24000, 0x0C: 278, 0x0D: 8000, 0x0E: 208, 0x0F: 695,
         0x10: 5760, 0x11: 10003, 0x12: 26000, 0x14: 300, 0x15: 8000, 0x16: 225, 0x17: 749,
         0x18: 1732, 0x19: 5774, 0x1A: 25000, 0x1B: 47747, 0x1C: 867, 0x1D: 8009,
         0x1E: 649, 0x1F: 2165, 0x21: 50000, 0x22: 1, 0x23: 3, 0x24: 0, 0x25: 7000,
         0x26: 0, 0x27: 25, 0x28: 0},
}
SETTINGS = {1: (1, 1, 0, 1, 2, 1, "3-phase 4-wire (unbalanced)"),  # pt, ct, wiring, urg_factor,
            12: (100, 40, 5, 4, 1, 10, "3-phase 4-wire (balanced)")}  # class, energy_scale, name


def physical(a):
    """The 34 quantities by the register map: U / 100 x PT, I / 10000 x CT, P and Q / 10 x PT x
    CT x Urg, S / 5 x PT x CT, PF / 10000, f x 0.00106813, (high x 65536 + low) x 10^E x PT x CT."""
    r, (pt, ct, _, urg, _, scale, _) = REGS[a], SETTINGS[a]
    s16 = lambda n: r[n] - (r[n] >> 15) * 65536
    v = {"line_voltage_mean": (r[0x01] + r[0x09] + r[0x11]) / 3 / 100 * pt,
         "current_zero_sequence": r[0x18] / 10000 * ct, "voltage_mean": r[0x19] / 100 * pt,
         "current_mean": r[0x1A] / 10000 * ct, "frequency": r[0x1B] * 0.00106813}
    for ph, g, line in (("a", 0, "ca"), ("b", 8, "ab"), ("c", 16, "bc"), ("total", 24, "")):
        if line:
            v.update({f"voltage_{ph}": r[g] / 100 * pt, f"current_{ph}": r[g + 2] / 10000 * ct,
                      f"line_voltage_{line}": r[g + 1] / 100 * pt})
        v.update({f"active_power_{ph}": s16(g + 4) / 10 * pt * ct * urg,
                  f"power_factor_{ph}": s16(g + 5) / 10000,
                  f"reactive_power_{ph}": s16(g + 6) / 10 * pt * ct * urg,
                  f"apparent_power_{ph}": r[g + 7] / 5 * pt * ct})
    for n, key in ((0x21, "active_energy_forward"), (0x23, "active_energy_reverse"),
                   (0x25, "reactive_energy_forward"), (0x27, "reactive_energy_reverse")):
        v[key] = (r[n + 1] * 65536 + r[n]) * scale * pt * ct
    return v


# The page's table (phases A, B, C, then the total or mean) and the values beside it.
ROWS = [["voltage_a", "voltage_b", "voltage_c", "voltage_mean"],
        ["line_voltage_ca", "line_voltage_ab", "line_voltage_bc", "line_voltage_mean"],
        ["current_a", "current_b", "current_c", "current_mean"]] + [
    [f"{q}_{p}" for p in ("a", "b", "c", "total")]
    for q in ("active_power", "reactive_power", "apparent_power", "power_factor")] + [
    ["current_zero_sequence", "frequency"], ["active_energy_forward", "active_energy_reverse",
                                             "reactive_energy_forward", "reactive_energy_reverse"]]
# The console's texts, by hand: V with 2 decimals, A and every kilo or mega step with 4,
# W/Var/VA/Wh/Varh with 1, a step up only strictly above 1000; reverse energies with a "-".
TEXT_ROWS = {
    1: [["230.00 V", "231.00 V", "229.00 V", "230.00 V"],
        ["397.51 V", "399.24 V", "398.37 V", "398.37 V"],  # mean 119512 / 300 = 398.373
        ["2.0000 A", "1.8000 A", "1.6000 A", "1.8000 A"],
        ["437.0 W", "374.2 W", "359.1 W", "1.1703 KW"],  # 11703 / 10 = 1170.3 W
        ["143.6 Var", "181.2 Var", "72.9 Var", "397.7 Var"],
        ["460.0 VA", "415.8 VA", "366.4 VA", "1.2422 KVA"],  # 6211 / 5 = 1242.2 VA
        ["0.9500", "0.9000", "0.9800", "0.9421"],
        ["0.1533 A", "50.000 Hz"],  # 46811 x 0.00106813 = 50.00023 Hz
        ["132.0720 KWh", "-5.0 Wh", "34.5670 KVarh", "-12.0 Varh"]],  # 2 x 65536 + 1000 Wh
    # x 100 (U), x 40 (I), x 1600 (P, Q: 100 x 40 x 4 / 10), x 800 (S), x 40000 (E).
    12: [["5.77 KV", "5.79 KV", "5.76 KV", "5.77 KV"],  # 5771, 5791, 5760, 5774 V
         ["9.99 KV", "10.01 KV", "10.00 KV", "10.00 KV"],  # 9986, 10013, 10003, 30002 / 3 V
         ["100.0000 A", "96.0000 A", "104.0000 A", "100.0000 A"],
         ["462.4000 KW", "444.8000 KW", "480.0000 KW", "1.3872 MW"],  # 289 278 300 867
         ["345.6000 KVar", "332.8000 KVar", "360.0000 KVar", "1.0384 MVar"],  # 216 208 225 649
         ["576.8000 KVA", "556.0000 KVA", "599.2000 KVA", "1.7320 MVA"],  # 721 695 749 2165
         ["0.8000", "0.8000", "0.8000", "0.8009"],
         ["6.9280 A", "51.000 Hz"],  # 1732 x 40 / 10000 A; 47747 x 0.00106813 = 51.0000031
         # 115536, 3, 7000 and 25 x 40000; 1e6 varh exactly is not above 1e6: no mega step.
         ["4621.4400 MWh", "-120.0000 KWh", "280.0000 MVarh", "-1000.0000 KVarh"]],
}
TEXTS = {a: dict(zip(sum(ROWS, []), sum(rows, []))) for a, rows in TEXT_ROWS.items()}
HEADLINE = ["voltage_mean", "current_mean", "active_power_total", "reactive_power_total",
            "apparent_power_total", "power_factor_total", "frequency", "active_energy_forward"]
UNITS = {"voltage_b": "V", "line_voltage_mean": "V", "current_c": "A", "active_power_total": "W",
         "reactive_power_a": "var", "apparent_power_total": "VA", "power_factor_total": "",
         "frequency": "Hz", "active_energy_forward": "Wh", "reactive_energy_reverse": "varh"}
NO_PROXY = urllib.request.build_opener(urllib.request.ProxyHandler({}))
CARDS = """return [...document.querySelectorAll('.card[data-address]')].map(c => [
  +c.dataset.address, c.dataset.state,
  Object.fromEntries([...c.querySelectorAll('[data-q]')].map(e => [e.dataset.q, e.textContent])),
  [...c.querySelectorAll('.marks li')].map(l => [l.className, l.lastChild.textContent]),
  getComputedStyle(c.querySelector('dd')).color]);"""
CONN = "return document.body.dataset.conn"
CHARTS = """return [...document.querySelectorAll('figure[data-trend]')]
  .filter(f => !f.closest('[hidden]')).map(f => {
  const c = window.Chart && Chart.getChart(f.querySelector('canvas'));
  return [f.dataset.trend, c ? c.data.datasets.map(d => d.data.length) : null]; });"""


def drawn(d):
    """Every chart of a meter's page with points on each of its lines."""
    charts = d.execute_script(CHARTS)
    return len(charts) == 6 and all(n and min(n) > 0 for _, n in charts)


def get(url, auth=None):
    """(status, content type, body) of a GET, errors included."""
    head = {"Authorization": "Basic " + base64.b64encode(auth.encode()).decode()} if auth else {}
    try:
        with NO_PROXY.open(urllib.request.Request(url, headers=head), timeout=5) as r:
            return r.status, r.headers.get("Content-Type"), r.read()
    except urllib.request.HTTPError as e:
        with e:
            return e.code, e.headers.get("Content-Type"), e.read()


class Dashboard(ProcessTest):
    maxDiff = None

    def sim(self, *args):
        link = os.path.join(tempfile.mkdtemp(dir=self.dir), "bus")
        p = self.spawn([SIM, "--link", link] + list(args), stdout=subprocess.PIPE)
        self.assertTrue(p.stdout.readline())  # the terminal's path: it serves
        return p, link

    def slaves(self, addresses):
        ours, theirs = self.pty_pair()
        regs = [f"{a}:{r:#x}={v}" for a in addresses for r, v in REGS[a].items()]
        p = self.spawn(["/usr/bin/python3", SLAVES, "pymodbus", theirs, "9600", "N",
                        ",".join(map(str, addresses))] + regs, stdout=subprocess.PIPE, text=True)
        self.assertEqual(p.stdout.readline(), "ready\n")
        # pymodbus says ready before it opens the terminal: wait until it holds it open.
        real, fds = os.path.realpath(theirs), f"/proc/{p.pid}/fd"
        self.assertTrue(wait_for(lambda: any(os.path.realpath(os.path.join(fds, f)) == real
                                             for f in os.listdir(fds)), 10))
        return ours

    def poller(self, port, addresses, *args, http=None):
        """The poller serving HTTP (on a free port unless given): it and its base URL."""
        http = http or free_port()
        err = open(os.path.join(self.dir, f"poll-{http}.err"), "a")
        self.addCleanup(err.close)
        p = self.spawn([POLL, "--port", port, "--address", addresses, "--name", "site",
                        "--http", f"127.0.0.1:{http}"] + list(args), stderr=err)
        base = f"http://127.0.0.1:{http}"
        self.assertTrue(wait_for(lambda: p.poll() is not None or get(base + "/healthz")[0], 10)
                        and p.poll() is None, "no HTTP server")
        return p, base

    def browser(self, *args):
        opts = Options()
        opts.binary_location = "/usr/bin/chromium"
        for a in ("--headless=new", "--no-sandbox", "--lang=en-US", "--no-proxy-server") + args:
            opts.add_argument(a)
        opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
        driver = d.service.process
        chrome = read(f"/proc/{driver.pid}/task/{driver.pid}/children").split()

        def end():  # whatever quit left behind, by PID
            for pid in chrome:
                if "chromium" in (wait_for(lambda: read(f"/proc/{pid}/cmdline"), 0.2) or ""):
                    os.kill(int(pid), signal.SIGKILL)
            if driver.poll() is None:
                driver.kill()
            driver.wait()
        self.addCleanup(end)
        self.addCleanup(d.quit)  # first: the browser and chromedriver end by themselves
        d.set_window_size(1280, 1000)
        self.logs = []
        return d

    def until(self, d, fn, what, want=None, seconds=15):
        """Waits for fn(d) to be true (or to equal want); a failure shows its last value."""
        last = [None]
        wait_for(lambda: last.append(fn(d)) or (last[-1] if want is None else last[-1] == want),
                 seconds)
        if want is None:
            self.assertTrue(last[-1], what)
        else:
            self.assertEqual(last[-1], want, what)

    def errors(self, d, allowed=()):
        self.logs += d.get_log("browser")
        return [e for e in self.logs
                if e["level"] == "SEVERE" and not any(a in e["message"] for a in allowed)]

    def check_meter(self, m, a):
        """A meter of the API against the registers, by value."""
        self.assertEqual((m["address"], m["state"], m["silent_since"]), (a, "answering", None))
        h = m["health"]
        self.assertGreater(h["ok"], 0)
        self.assertEqual([h[k] for k in ("timeouts", "bad_frames", "exceptions", "last_error")],
                         [0, 0, 0, ""], h)
        self.assertRegex(h["last_good"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        r = m["reading"]
        self.assertEqual((r["address"], r["bus"]), (a, "site"))
        for key, want in physical(a).items():
            self.assertTrue(math.isclose(r[key], want, rel_tol=1e-9), (a, key, r[key], want))
        self.assertEqual(tuple(r[k] for k in ("pt", "ct", "wiring", "urg_factor", "class",
                                              "energy_scale", "wiring_name")), SETTINGS[a])
        self.assertNotIn("limits", r)  # the slaves send no status bytes
        self.assertEqual(m["texts"], TEXTS[a])
        found = [(f["code"], f["severity"], f["phases"]) for f in m["findings"]]
        self.assertEqual(found, [("frequency", "warning", [])] if a == 12 else [], m["findings"])
        hz = 47747 * 0.00106813  # 51.00000311 Hz: 2.0000062 % above 50
        for f in m["findings"]:
            self.assertTrue(f["advice"] and f["since"], f)
            for k, want in (("frequency", hz), ("nominal_frequency", 50),
                            ("deviation_percent", (hz - 50) / 50 * 100)):
                self.assertTrue(math.isclose(f["evidence"][k], want), (k, f["evidence"]))

    def test_api_and_pages_by_value_over_independent_slaves(self):
        _, base = self.poller(self.slaves([1, 12]), "1,12", "--interval", "200", "--diagnose",
                              "--diagnose-window", "1")
        api = lambda: json.loads(get(base + "/api/meters")[2])
        body = wait_for(lambda: (lambda b: all(m["reading"] for m in b["meters"])
                                 and b["meters"][1]["findings"] and b)(api()), 20)
        self.assertTrue(body, f"no readings and finding: {api()}")
        self.assertEqual((body["bus"], [m["address"] for m in body["meters"]]), ("site", [1, 12]))
        for m, a in zip(body["meters"], (1, 12)):
            self.check_meter(m, a)
            status, kind, one = get(f"{base}/api/meters/{a}")
            self.assertEqual((status, kind), (200, "application/json"))
            self.check_meter(json.loads(one), a)
        # The trend: a sample a second at most, each the registers' value.
        trend = lambda q: json.loads(get(f"{base}/api/meters/12/trend?quantity={q}&seconds=60")[2])
        self.assertTrue(wait_for(lambda: len(trend("voltage_b")["samples"]) >= 2, 10))
        for q, unit in UNITS.items():
            t = trend(q)
            self.assertEqual((t["address"], t["quantity"], t["unit"]), (12, q, unit))
            stamps = [ms for ms, _ in t["samples"]]
            self.assertTrue(stamps and stamps == sorted(set(stamps)), t)
            self.assertEqual(len({ms // 1000 for ms in stamps}), len(stamps), t)
            for _, v in t["samples"]:
                self.assertTrue(math.isclose(v, physical(12)[q], rel_tol=1e-9), (q, v))
        for path, status, error in [
                ("/api/meters/abc", 400, "address: "),
                ("/api/meters/99", 404, "no meter 99 on bus site"),
                ("/api/meters/1/trend?quantity=nope", 400, 'quantity: "nope" is not one of the 34'),
                ("/api/meters/1/trend?quantity=frequency&seconds=0", 400, "seconds: "),
                ("/api/meters/99/trend?quantity=frequency", 404, "no meter 99 on bus site"),
                ("/api/nothing", 404, "no such resource")]:
            got = get(base + path)
            self.assertEqual(got[:2], (status, "application/json"), path)
            self.assertTrue(json.loads(got[2])["error"].startswith(error), (path, got))
        self.assertEqual(get(base + "/nothing")[::2], (404, b"not found\n"))

        d = self.browser()
        d.get(base + "/")
        want = [[a, "answering", {k: TEXTS[a][k] for k in HEADLINE}, marks] for a, marks in
                ((1, []), (12, [["mark sev-warning", "frequency"]]))]
        self.until(d, lambda d: [c[:4] for c in d.execute_script(CARDS)], "the overview", want)
        self.assertEqual(d.execute_script(CONN), "live")
        for a in (1, 12):
            d.get(f"{base}/meter/{a}")
            table = lambda d: d.execute_script(
                "return Object.fromEntries([...document.querySelectorAll('main [data-q]')]"
                ".map(e => [e.dataset.q, e.textContent]))")
            self.until(d, table, f"meter {a}'s table", TEXTS[a])
            pt, ct, _, urg, cls, scale, wiring = SETTINGS[a]
            settings = d.execute_script(
                "return [...document.querySelectorAll('[aria-labelledby=h-settings] dl > div')]"
                ".map(e => [e.firstChild.textContent, e.lastChild.textContent])")
            self.assertEqual(settings, [["PT", str(pt)], ["CT", str(ct)], ["Wiring", wiring],
                                        ["Class", str(cls)], ["Urg factor", str(urg)],
                                        ["Energy scale", f"×{scale}"]])
            findings = d.execute_script(
                "return [...document.querySelectorAll('.findings li')]"
                ".map(l => [l.className, l.querySelector('code').textContent])")
            self.assertEqual(findings, [["finding sev-warning", "frequency"]] if a == 12 else [])
        self.assertEqual(self.errors(d), [])

    def test_live_page_over_the_simulator(self):
        sim, link = self.sim("--address", "1-3", "--mute-on-usr1", "2",
                             "--wiring-fault", "3:ct-reversed:B")
        args = (link, "1-3", "--diagnose", "--diagnose-window", "1")
        p, base = self.poller(*args)
        d = self.browser()
        d.get(base + "/")
        cards = lambda d: {c[0]: c[1:] for c in d.execute_script(CARDS)}
        self.until(d, lambda d: [c[0] for c in cards(d).values()], "up", ["answering"] * 3)
        # A value changes in place: the page was not loaded again.
        d.execute_script("window.kept = true")
        first = cards(d)[1][1]["active_power_total"]
        self.until(d, lambda d: cards(d)[1][1]["active_power_total"] not in (first, "-"), "P")
        self.assertTrue(d.execute_script("return window.kept === true"))
        # Meter 3 sees -Ib: phase b's power is negative while a and c draw: a reversed CT.
        self.until(d, lambda d: ["mark sev-fault", "ct-reversed b"] in cards(d)[3][2], "ct")
        self.assertFalse([m for a in (1, 2) for m in cards(d)[a][2] if "ct-reversed" in m[1]])
        sim.send_signal(signal.SIGUSR1)  # meter 2 falls silent
        self.until(d, lambda d: cards(d)[2][0], "meter 2 silenced", "silent")
        c = cards(d)
        self.assertEqual(c[1][0], "answering")
        self.assertNotEqual(c[2][3], c[1][3])  # its values greyed
        sim.send_signal(signal.SIGUSR1)  # and back
        self.until(d, lambda d: cards(d)[2][0], "meter 2 back", "answering")
        self.assertEqual(cards(d)[2][3], cards(d)[1][3])

        d.get(base + "/meter/1")
        charts = lambda d: d.execute_script(CHARTS)
        self.until(d, drawn, "chart points")
        self.assertEqual([(t, len(n)) for t, n in charts(d)],
                         [("voltage", 3), ("current", 3), ("active", 1), ("reactive", 1),
                          ("pf", 1), ("frequency", 1)])
        count = lambda d: charts(d)[0][1][0]
        before = count(d)
        self.until(d, lambda d: count(d) > before, "live points")
        self.assertEqual(d.execute_script(CONN), "live")
        p.send_signal(signal.SIGTERM)
        self.assertEqual(p.wait(10), 0)
        self.until(d, lambda d: d.execute_script(CONN), "poller gone", "down")
        self.poller(*args, http=int(base.rsplit(":", 1)[1]))  # the same port
        self.until(d, lambda d: d.execute_script(CONN), "poller back", "live")
        before = count(d)
        self.until(d, lambda d: count(d) > before, "points after the restart")
        self.assertEqual(self.errors(d, allowed=["net::ERR_CONNECTION_REFUSED"]), [])

    def test_basic_authentication(self):
        _, link = self.sim("--address", "1", "--frozen")
        pw = os.path.join(self.dir, "password")
        with open(pw, "w") as f:
            f.write("s3cret\nnot this line\n")
        for extra, metrics_guarded in (((), False), (("--http-auth-metrics",), True)):
            p, base = self.poller(link, "1", "--http-user", "ops", "--http-password-file", pw,
                                  *extra)
            for path in ("/", "/meter/1", "/app.js", "/api/meters", "/api/meters/1", "/api/events",
                         "/metrics", "/healthz"):
                guarded = metrics_guarded or path not in ("/metrics", "/healthz")
                for auth in (None, "ops:wrong", "root:s3cret"):
                    self.assertEqual(get(base + path, auth)[0], 401 if guarded else 200,
                                     (path, auth, extra))
                if path != "/api/events":  # a stream: its 200 is not awaited to its end
                    self.assertEqual(get(base + path, "ops:s3cret")[0], 200, path)
            status, kind, body = get(base + "/api/meters")
            self.assertEqual((status, kind, body), (401, "application/json",
                                                    b'{"error":"authentication required"}'))
            p.send_signal(signal.SIGTERM)
            self.assertEqual(p.wait(10), 0)

    def test_page_asks_no_other_origin(self):
        _, link = self.sim("--address", "1", "--frozen")
        _, base = self.poller(link, "1")
        # No name resolves but the poller's address, as on a site without the internet.
        d = self.browser("--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1")
        urls = []
        for page in ("/", "/meter/1"):
            d.get(base + page)
            self.until(d, lambda d: d.execute_script(CONN), page, "live")
            if page == "/meter/1":
                self.until(d, drawn, "charts drawn offline")
            urls += d.execute_script("return performance.getEntriesByType('navigation')"
                                     ".concat(performance.getEntriesByType('resource'))"
                                     ".map(e => e.name)")
        self.assertEqual([u for u in urls if not u.startswith(base + "/")], [], urls)
        # The live stream has no entry until it ends; data-conn=live says it is open.
        for path in ("/", "/meter/1", "/style.css", "/chart.min.js", "/app.js", "/api/meters"):
            self.assertIn(base + path, urls)
        self.assertEqual(self.errors(d), [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
