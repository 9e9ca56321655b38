#!/usr/bin/python3
"""kx880-ctl's address scan against its floor: every probe costs the request's wire time,
the reply timeout and the 3.5-character silence, a hit the reply's wire time instead of the
timeout. One simulated meter at address 200 on the bus; a sweep of all 255 candidates per
line setting, timed from the tool's start to its end.
Usage: bench_ctl.py KX880_CTL KX880_SIM [all]   (all: the fifteen settings, about 7 min)
"""
import os
import subprocess
import sys
import tempfile
import time

CTL, SIM = sys.argv[1], sys.argv[2]
ALL = len(sys.argv) > 3 and sys.argv[3] == "all"


def char_ms(baud):
    return 11 * 1000 / baud


def floor_ms(baud, hits=1):
    c = char_ms(baud)
    probe = 8 * c + (7 * c + 50) + 3.5 * c  # request, timeout, silence
    hit = 8 * c + 7 * c + 3.5 * c + (8 * c + 43 * c + 3.5 * c)  # the probe answered, the block read
    return (255 - hits) * probe + hits * hit


def sweep(baud, parity):
    d = tempfile.mkdtemp()
    link = os.path.join(d, "bus")
    sim = subprocess.Popen([SIM, "--link", link, "--address", "200", "--baud", str(baud),
                            "--parity", parity], stdout=subprocess.PIPE)
    sim.stdout.readline()
    start = time.monotonic()
    out = subprocess.run([CTL, "scan", "--port", link, "--baud", str(baud), "--parity", parity,
                          "--format", "jsonl"], capture_output=True, text=True)
    took = (time.monotonic() - start) * 1000
    sim.kill()
    sim.wait()
    assert '"address":200' in out.stdout, out.stdout + out.stderr
    return took


settings = [(b, p) for b in (9600, 19200, 4800, 2400, 1200)
            for p in (("none", "even", "odd") if ALL else ("none",))]
total = floor_total = 0
print("| Setting | Sweep of 255 | Floor | Ratio |\n|---|---|---|---|")
for baud, parity in settings:
    took, floor = sweep(baud, parity), floor_ms(baud)
    total, floor_total = total + took, floor_total + floor
    print(f"| {baud} {parity} | {took / 1000:.2f} s | {floor / 1000:.2f} s | "
          f"{took / floor:.3f} |", flush=True)
print(f"| all | {total / 1000:.1f} s | {floor_total / 1000:.1f} s | {total / floor_total:.3f} |")
