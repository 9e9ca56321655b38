#!/usr/bin/python3
"""kx880-poll reaching meters behind gateways: an independent Modbus TCP server (pymodbus)
with registers whose physical values are worked out here, and the simulator behind socat
(TCP to a pseudo-terminal, as a serial device server does it).
Usage: gateway_e2e.py KX880_POLL KX880_SIM
"""
import json
import os
import subprocess
import sys
import time
import unittest

from e2e_util import ProcessTest, free_port, port_open, read, wait_for

POLL, SIM = sys.argv[1], sys.argv[2]
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "modbus_tcp_server.py")

# Registers of the meter at unit 3: PT 100 (0x307), CT 5 (0x309), Urg flag 1 (0x305: active
# and reactive power x 4), energy exponent 2 (0x306: x 100).
REGISTERS = {0x00: 23050, 0x04: 0xFFF6, 0x07: 1000, 0x1B: 46811, 0x21: 7, 0x22: 1,
             0x305: 1, 0x306: 2, 0x307: 100, 0x309: 5, 0x300: 3}
EXPECTED = {
    "voltage_a": 23050 * 100 / 100,            # V
    "active_power_a": -10 * 100 * 5 * 4 / 10,   # W, s16 0xFFF6 = -10
    "apparent_power_a": 1000 * 100 * 5 / 5,     # VA, no Urg factor
    "frequency": 46811 * 0.00106813,            # Hz
    "active_energy_forward": (1 * 65536 + 7) * 100 * 100 * 5,  # Wh
    "pt": 100, "ct": 5, "urg_factor": 4, "energy_scale": 100,
}


def wait_port(port, seconds=10):
    return wait_for(lambda: port_open(port), seconds)


class Gateways(ProcessTest):
    def server(self, port):
        """pymodbus on the port; started again when it does not come up (it reports no
        failure to bind, for example while the port's last connection lingers)."""
        for attempt in range(4):
            log = open(os.path.join(self.dir, f"pymodbus-{port}-{attempt}.log"), "w")
            p = self.spawn(["/usr/bin/python3", SERVER, str(port), "3"] +
                           [f"{r}={v}" for r, v in REGISTERS.items()], stderr=log)
            log.close()
            if wait_port(port, 5):
                return p
            p.kill()
            p.wait()
        self.fail("pymodbus did not start: " + read(log.name))

    def check(self, reading):
        for key, want in EXPECTED.items():
            self.assertAlmostEqual(reading[key], want, places=6, msg=key)

    def test_independent_modbus_tcp_server(self):
        port = free_port()
        self.server(port)
        out = subprocess.run([POLL, "--port", f"modbus-tcp://127.0.0.1:{port}", "--address", "3",
                              "--count", "5", "--format", "jsonl"],
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = [json.loads(l) for l in out.stdout.splitlines()]
        self.assertEqual(len(lines), 5)
        for l in lines:
            self.check(l)
        # ?unit=3 reaches the same meter whatever address is polled.
        out = subprocess.run([POLL, "--port", f"modbus-tcp://127.0.0.1:{port}?unit=3",
                              "--address", "9", "--count", "1", "--format", "jsonl"],
                             capture_output=True, text=True, timeout=30)
        self.check(json.loads(out.stdout))

    def test_simulator_behind_socat(self):
        link = os.path.join(self.dir, "bus")
        sim = self.spawn([SIM, "--link", link, "--address", "1,2", "--frozen", "--set", "2:0=23050"],
                         stdout=subprocess.PIPE)
        sim.stdout.readline()
        sim.stdout.close()
        port = free_port()
        self.spawn(["socat", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr,fork",
                    f"FILE:{link},raw,echo=0,b9600,cstopb=1"])
        self.assertTrue(wait_port(port))
        time.sleep(0.5)  # socat's child for that probe lets go of the terminal
        out = subprocess.run([POLL, "--port", f"tcp://127.0.0.1:{port}", "--address", "1,2",
                              "--count", "3", "--format", "jsonl"],
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = [json.loads(l) for l in out.stdout.splitlines()]
        self.assertEqual([l["address"] for l in lines], [1, 2] * 3)
        self.assertEqual(lines[1]["voltage_a"], 230.5)

    def test_refused_then_killed_and_restarted(self):
        port = free_port()
        out = subprocess.run([POLL, "--port", f"modbus-tcp://127.0.0.1:{port}", "--address", "3"],
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 2)
        self.assertIn(f"127.0.0.1:{port}", out.stderr)
        self.assertIn("refused", out.stderr)
        server = self.server(port)
        path = os.path.join(self.dir, "out.jsonl")
        p = self.spawn([POLL, "--port", f"modbus-tcp://127.0.0.1:{port}", "--address", "3",
                        "--format", "jsonl", "--output", path], stderr=subprocess.PIPE, text=True)
        def count():
            if not os.path.exists(path):
                return 0
            with open(path) as f:
                return len(f.read().splitlines())
        end = time.monotonic() + 10
        while count() < 5 and time.monotonic() < end:
            time.sleep(0.1)
        server.kill()
        server.wait()
        time.sleep(3)
        before = count()
        self.server(port)
        end = time.monotonic() + 15
        while count() < before + 5 and time.monotonic() < end:
            time.sleep(0.1)
        self.assertGreaterEqual(count(), before + 5)
        p.terminate()
        err = p.communicate(timeout=10)[1]
        self.assertEqual(p.returncode, 0, err)
        self.assertEqual(err.count("lost"), 1, err)
        self.assertEqual(err.count("is back"), 1, err)
        with open(path) as f:
            for line in f:
                self.check(json.loads(line))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
