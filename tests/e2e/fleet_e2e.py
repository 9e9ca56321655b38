#!/usr/bin/python3
"""kx880-poll with the engines a site runs: a real Mosquitto broker and a real Prometheus,
started here on free ports and stopped by PID.
Usage: fleet_e2e.py KX880_POLL KX880_SIM
"""
import csv
import datetime
import json
import os
import re
import signal
import socket
import subprocess
import sys
import time
import unittest
import urllib.request

from e2e_util import ProcessTest, free_port, port_open, read, wait_for

POLL, SIM = sys.argv[1], sys.argv[2]


class Fleet(ProcessTest):
    def setUp(self):
        super().setUp()
        self.link = os.path.join(self.dir, "bus")
        sim = self.spawn([SIM, "--link", self.link, "--address", "1,2", "--frozen",
                          "--set", "1:0=22000", "--set", "2:0=23050"], stdout=subprocess.PIPE)
        sim.stdout.readline()  # the terminal's path: it is ready
        sim.stdout.close()

    def broker(self, port, *config_lines, log=os.devnull):
        conf = os.path.join(self.dir, f"mosquitto-{port}.conf")
        with open(conf, "w") as f:
            f.write(f"listener {port} 127.0.0.1\n" + "".join(l + "\n" for l in config_lines))
            if not config_lines:
                f.write("allow_anonymous true\n")
            f.write("log_type all\nlog_dest stdout\n")
        with open(log, "w") as out:
            p = self.spawn(["stdbuf", "-oL", "mosquitto", "-c", conf], stdout=out)
        self.assertTrue(wait_for(lambda: port_open(port), 10), "broker did not start")
        return p

    def poller(self, *args, out="out.csv"):
        path = os.path.join(self.dir, out)
        p = self.spawn([POLL, "--port", self.link, "--address", "1,2", "--name", "east",
                        "--output", path] + list(args), stderr=subprocess.PIPE, text=True)
        return p, path

    def retained(self, port, topic="#"):
        """Every retained message now on the broker: (topic, payload), retain flag checked."""
        out = subprocess.run(["mosquitto_sub", "-p", str(port), "-t", topic, "-F", "%r %t %p",
                              "-W", "2", "--retained-only"], capture_output=True, text=True)
        msgs = {}
        for line in out.stdout.splitlines():
            flag, topic, payload = (line.split(" ", 2) + [""])[:3]
            self.assertEqual(flag, "1", line)
            msgs[topic] = payload
        return msgs

    def rows(self, path):
        return list(csv.DictReader(read(path).splitlines())) if os.path.exists(path) else []

    def state_time(self, port, topic="kx880/east/1/state"):
        m = self.retained(port, topic)
        return m.get(topic) and json.loads(m[topic])["time"]

    def rss_kb(self, pid):
        for line in read(f"/proc/{pid}/status").splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])

    def test_state_discovery_availability_and_the_last_will(self):
        port = free_port()
        self.broker(port)
        p, path = self.poller("--mqtt", f"127.0.0.1:{port}", "--ha-discovery")
        self.assertTrue(wait_for(lambda: len(self.rows(path)) >= 4, 10))
        msgs = wait_for(lambda: (lambda m: m if "kx880/east/2/state" in m else None)(
            self.retained(port)), 10)
        self.assertEqual(json.loads(msgs["kx880/east/1/state"])["voltage_a"], 220.0)
        self.assertEqual(json.loads(msgs["kx880/east/2/state"])["voltage_a"], 230.5)
        self.assertEqual(msgs["kx880/east/availability"], "online")
        self.assertEqual(msgs["kx880/east/1/availability"], "online")
        configs = {t: json.loads(v) for t, v in msgs.items() if t.startswith("homeassistant/")}
        self.assertEqual(len(configs), 2 * 34)
        c = configs["homeassistant/sensor/kx880_east_2/active_energy_forward/config"]
        self.assertEqual((c["device_class"], c["unit_of_measurement"], c["state_class"]),
                         ("energy", "Wh", "total_increasing"))
        self.assertEqual(c["state_topic"], "kx880/east/2/state")
        self.assertEqual(c["device"]["model"], "KX880")
        p.send_signal(signal.SIGKILL)  # a dead poller: the broker sends its last will
        self.assertTrue(wait_for(lambda: self.retained(port, "kx880/east/availability").get(
            "kx880/east/availability") == "offline", 10))

    def test_cleanup_removes_meters_no_longer_polled(self):
        port = free_port()
        self.broker(port)
        p, path = self.poller("--mqtt", f"127.0.0.1:{port}", "--ha-discovery")
        self.assertTrue(wait_for(lambda: "kx880/east/2/state" in self.retained(port), 10))
        p.terminate()
        p.wait(10)
        self.assertEqual(self.retained(port, "kx880/east/availability")[
            "kx880/east/availability"], "offline")  # a clean exit says so too
        p = self.spawn([POLL, "--port", self.link, "--address", "1", "--name", "east",
                        "--output", path, "--mqtt", f"127.0.0.1:{port}", "--ha-discovery",
                        "--ha-cleanup"])
        left = wait_for(lambda: (lambda m: m if not any("kx880_east_2" in t or "east/2/" in t
                                                        for t in m) else None)(
            self.retained(port)), 10)
        self.assertIsNotNone(left, "meter 2's entities stayed")
        self.assertIn("homeassistant/sensor/kx880_east_1/voltage_a/config", left)

    def test_broker_killed_and_back_never_pauses_polling(self):
        port = free_port()
        broker = self.broker(port)
        p, path = self.poller("--mqtt", f"127.0.0.1:{port}", "--mqtt-queue", "5")
        self.assertTrue(wait_for(lambda: "kx880/east/1/state" in self.retained(port), 10))
        # Hung first, so that the library holds unacknowledged messages across the reconnection.
        broker.send_signal(signal.SIGSTOP)
        at_kill = len(self.rows(path))
        time.sleep(1)
        broker.kill()
        broker.wait()
        before = len(self.rows(path))
        time.sleep(3)
        during = len(self.rows(path)) - before
        self.assertGreater(during, 15)  # about 8 readings a second go on
        self.broker(port)
        def fresh():
            m = self.retained(port, "kx880/east/1/state")
            return m and m["kx880/east/1/state"] and json.loads(m["kx880/east/1/state"])["time"]
        first = wait_for(fresh, 20)
        self.assertTrue(wait_for(lambda: fresh() and fresh() > first, 10), "publishing resumed")
        p.terminate()
        err = p.communicate(timeout=10)[1]
        self.assertEqual(p.returncode, 0, err)
        self.assertEqual(err.count("connection lost"), 1, err)
        dropped = int(err.split("MQTT: ")[1].split(" ")[0])
        # At most 5 waited; every other message of the outage was dropped and counted: no
        # fewer than the 3 s measured, no more than everything after the kill.
        self.assertGreaterEqual(dropped, during - 5 - 4)
        self.assertLessEqual(dropped, len(self.rows(path)) - at_kill)
        # Polling never paused: a reading at least every half second throughout.
        stamps = [datetime.datetime.fromisoformat(r["time"].replace("Z", "+00:00"))
                  for r in self.rows(path)]
        longest = max((b - a).total_seconds() for a, b in zip(stamps, stamps[1:]))
        self.assertLess(longest, 0.5)

    def test_hung_broker_bounds_the_queue_and_memory(self):
        # The bus as fast as the simulator goes (about 16 readings a second, whatever the
        # number of meters): the broker hangs with its connection up for 30 s of readings.
        link = os.path.join(self.dir, "fast")
        sim = self.spawn([SIM, "--link", link, "--address", "1-8", "--baud", "19200",
                          "--frozen"], stdout=subprocess.PIPE)
        sim.stdout.readline()
        sim.stdout.close()
        port, http = free_port(), free_port()
        broker = self.broker(port)
        path = os.path.join(self.dir, "hung.csv")
        p = self.spawn([POLL, "--port", link, "--baud", "19200", "--address", "1-8",
                        "--name", "east", "--output", path, "--mqtt", f"127.0.0.1:{port}",
                        "--mqtt-queue", "100", "--http", f"127.0.0.1:{http}"],
                       stderr=subprocess.PIPE, text=True)
        self.assertTrue(wait_for(lambda: self.state_time(port), 10))
        broker.send_signal(signal.SIGSTOP)
        at_stop, rss_at_stop = len(self.rows(path)), self.rss_kb(p.pid)
        rss = []
        for _ in range(30):
            time.sleep(1)
            rss.append(self.rss_kb(p.pid))
        during = len(self.rows(path)) - at_stop
        self.assertGreater(during, 400)
        metrics = urllib.request.urlopen(f"http://127.0.0.1:{http}/metrics").read().decode()
        line = [l for l in metrics.splitlines()
                if l.startswith("kx880_mqtt_dropped_messages_total{")][0]
        dropped = int(line.split()[-1])
        sys.stderr.write(f"[RSS kB at the stop {rss_at_stop}, then max {max(rss)}, "
                         f"at the end {rss[-1]}; {during} readings, {dropped} dropped] ")
        # Held by the poller and by the library together, at most 100 of the outage's
        # messages wait; all the others were dropped and counted.
        self.assertGreaterEqual(dropped, during - 100, (during, dropped))
        self.assertLessEqual(dropped, during, (during, dropped))
        # Flat once the queue is full (within 7 s): no growth with the outage's length. A
        # sanitizer's own bookkeeping (ASan's quarantine of freed memory, TSan's history)
        # grows and swings by megabytes, so the resident size says nothing there.
        with open(f"/proc/{p.pid}/maps") as f:
            sanitized = re.search(r"lib[at]san", f.read())
        if not sanitized:
            self.assertLess(max(rss) - rss_at_stop, 2048, rss)
            self.assertLess(rss[-1] - rss[9], 256, rss)
        went_on = datetime.datetime.now(datetime.timezone.utc)
        broker.send_signal(signal.SIGCONT)
        live = lambda: (lambda t: t and datetime.datetime.fromisoformat(
            t.replace("Z", "+00:00")) > went_on)(self.state_time(port))
        self.assertTrue(wait_for(live, 15), "live state resumed")
        p.terminate()
        err = p.communicate(timeout=10)[1]
        self.assertEqual(p.returncode, 0, err)
        self.assertGreaterEqual(int(err.split("MQTT: ")[1].split(" ")[0]), dropped, err)

    def test_bad_broker_and_busy_http_port(self):
        nobody = free_port()
        p, path = self.poller("--mqtt", f"127.0.0.1:{nobody}")
        self.assertTrue(wait_for(lambda: len(self.rows(path)) >= 50, 15))  # polling goes on
        p.terminate()
        err = p.communicate(timeout=10)[1]
        self.assertEqual(err.count(f"MQTT broker 127.0.0.1:{nobody}"), 1, err)
        port = free_port()
        pw = os.path.join(self.dir, "passwd")
        subprocess.run(["mosquitto_passwd", "-b", "-c", pw, "meter", "right"], check=True)
        os.chmod(self.dir, 0o755)  # the broker drops to its own user and must read it
        os.chmod(pw, 0o644)
        self.broker(port, "allow_anonymous false", f"password_file {pw}")
        wrong = os.path.join(self.dir, "wrong")
        with open(wrong, "w") as f:
            f.write("wrong\n")
        p, path = self.poller("--mqtt", f"127.0.0.1:{port}", "--mqtt-user", "meter",
                              "--mqtt-password-file", wrong, out="wrong.csv")
        self.assertTrue(wait_for(lambda: len(self.rows(path)) >= 30, 15))
        p.terminate()
        err = p.communicate(timeout=10)[1]
        self.assertEqual(err.count("refused the connection"), 1, err)
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        out = subprocess.run([POLL, "--port", self.link, "--address", "1", "--http",
                              f"127.0.0.1:{busy.getsockname()[1]}",
                              "--output", os.path.join(self.dir, "never.csv")],
                             capture_output=True, text=True, timeout=10)
        busy.close()
        self.assertEqual(out.returncode, 2)
        self.assertIn("--http: cannot listen on", out.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "never.csv")))

    def openssl(self, *args):
        subprocess.run(["openssl"] + list(args), check=True, capture_output=True, cwd=self.dir)

    def tls_broker(self, port, log=os.devnull):
        """A TLS listener whose certificate ca.pem signed; ca.pem's path."""
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
                     "-out", "ca.pem", "-days", "2", "-subj", "/CN=kx880 test CA")
        self.openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
                     "server.csr", "-subj", "/CN=127.0.0.1")
        with open(os.path.join(self.dir, "san.cnf"), "w") as f:
            f.write("subjectAltName=IP:127.0.0.1\n")
        self.openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                     "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "san.cnf")
        os.chmod(self.dir, 0o755)  # the broker drops to its own user and must read them
        for name in ("ca.pem", "server.pem", "server.key"):
            os.chmod(os.path.join(self.dir, name), 0o644)
        ca = os.path.join(self.dir, "ca.pem")
        self.broker(port, "allow_anonymous true", f"cafile {ca}",
                    f"certfile {os.path.join(self.dir, 'server.pem')}",
                    f"keyfile {os.path.join(self.dir, 'server.key')}", log=log)
        return ca

    def test_a_ca_file_tls_cannot_use_is_refused_before_connecting(self):
        port, log = free_port(), os.path.join(self.dir, "broker.log")
        self.broker(port, "allow_anonymous true", log=log)
        connections = lambda: read(log).count("New connection")
        probed = wait_for(connections, 5)  # broker() looked whether the port was open
        text, key = os.path.join(self.dir, "text.pem"), os.path.join(self.dir, "key.pem")
        with open(text, "w") as f:
            f.write("not a certificate\n")
        self.openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                     "-out", key)
        never = os.path.join(self.dir, "never.csv")
        for ca in ("/nonexistent/ca.pem", text, key):
            out = subprocess.run([POLL, "--port", self.link, "--address", "1", "--output", never,
                                  "--mqtt", f"127.0.0.1:{port}", "--mqtt-tls-ca", ca],
                                 capture_output=True, text=True, timeout=10)
            self.assertEqual(out.returncode, 2, out.stderr)
            self.assertEqual(len([l for l in out.stderr.splitlines() if ca in l]), 1, out.stderr)
            self.assertFalse(os.path.exists(never))
            if ca.startswith("/nonexistent"):
                self.assertIn(f"{ca}: No such file or directory", out.stderr)
        time.sleep(0.5)
        self.assertEqual(connections(), probed, read(log))
        # As the broker logs any client's connection:
        subprocess.run(["mosquitto_pub", "-p", str(port), "-t", "t", "-m", "m"], check=True)
        self.assertTrue(wait_for(lambda: connections() > probed, 5), read(log))

    def test_tls_with_a_ca_that_did_not_sign_the_brokers_cert(self):
        port, log = free_port(), os.path.join(self.dir, "broker.log")
        self.tls_broker(port, log)
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other.key",
                     "-out", "other.pem", "-days", "2", "-subj", "/CN=another CA")
        p, path = self.poller("--mqtt", f"127.0.0.1:{port}", "--mqtt-tls-ca",
                              os.path.join(self.dir, "other.pem"))
        # Attempts after 0, 1 and 5 s: retried, and past the 5 s of "no connection yet". The
        # broker logs each as refused by the poller's side of the handshake.
        self.assertTrue(wait_for(lambda: read(log).count("unknown ca") >= 3, 15), read(log))
        rows = len(self.rows(path))
        self.assertTrue(wait_for(lambda: len(self.rows(path)) > rows + 4, 5))  # polling goes on
        p.terminate()
        err = p.communicate(timeout=10)[1]
        told = [l for l in err.splitlines() if "MQTT broker" in l]
        self.assertEqual(len(told), 1, err)
        self.assertIn(f"127.0.0.1:{port}", told[0])
        self.assertIn("certificate verify failed", told[0])
        # No session at all, and no attempt without TLS (the broker would log another TLS
        # error than the end of broker()'s look at the port).
        text = read(log)
        self.assertNotIn("New client connected", text)
        self.assertEqual([l for l in text.splitlines() if "SSL routines" in l and not any(
            w in l for w in ("unknown ca", "unexpected eof"))], [], text)

    def test_a_broker_down_at_the_start_is_reached_when_it_comes(self):
        port = free_port()
        _, path = self.poller("--mqtt", f"127.0.0.1:{port}")
        self.assertTrue(wait_for(lambda: len(self.rows(path)) >= 8, 10))
        self.broker(port)
        self.assertTrue(wait_for(lambda: self.state_time(port), 15))

    def test_tls_with_the_brokers_ca(self):
        port = free_port()
        ca = self.tls_broker(port)
        self.poller("--mqtt", f"127.0.0.1:{port}", "--mqtt-tls-ca", ca)

        def state():
            out = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port),
                                  "--cafile", ca, "-t", "kx880/east/1/state", "-W", "2",
                                  "--retained-only"], capture_output=True, text=True)
            return out.stdout.strip() and json.loads(out.stdout.splitlines()[0])
        self.assertEqual(wait_for(state, 15)["voltage_a"], 220.0)

    def test_prometheus_scrapes_every_meter(self):
        http = free_port()
        p, path = self.poller("--http", f"127.0.0.1:{http}")
        url = f"http://127.0.0.1:{http}"
        text = wait_for(lambda: (lambda t: t if 'address="2"' in t else None)(
            urllib.request.urlopen(url + "/metrics").read().decode()), 10)
        check = subprocess.run(["promtool", "check", "metrics"], input=text,
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertEqual(urllib.request.urlopen(url + "/healthz").read(), b"ok\n")
        prom = free_port()
        conf = os.path.join(self.dir, "prometheus.yml")
        with open(conf, "w") as f:
            f.write("global:\n  scrape_interval: 1s\nscrape_configs:\n"
                    f"  - job_name: kx880\n    static_configs:\n"
                    f"      - targets: ['127.0.0.1:{http}']\n")
        self.spawn(["prometheus", f"--config.file={conf}",
                    f"--storage.tsdb.path={os.path.join(self.dir, 'tsdb')}",
                    f"--web.listen-address=127.0.0.1:{prom}"])
        query = (f"http://127.0.0.1:{prom}/api/v1/query?query=" +
                 urllib.parse.quote('kx880_voltage_volts{phase="a"}'))

        def voltages():
            try:
                r = json.loads(urllib.request.urlopen(query).read())
            except OSError:
                return None
            got = {s["metric"]["address"]: float(s["value"][1]) for s in r["data"]["result"]}
            return got if len(got) == 2 else None
        self.assertEqual(wait_for(voltages, 40), {"1": 220.0, "2": 230.5})


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
