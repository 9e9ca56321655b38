#!/usr/bin/python3
"""Readings per second of kx880-poll and of mbpoll against kx880-sim, side by side.

Both are timed by the simulator's own log: the arrival time of every measurement request.
A reading is one request for the 45-register block answered in full; with no faults every
request is answered, so readings per second = (requests - 1) / (last - first arrival).
Usage: bench_poll.py KX880_POLL KX880_SIM [seconds]
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

POLL, SIM = sys.argv[1], sys.argv[2]
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 10
REQUEST = re.compile(r"^\[\s*(\d+)\.(\d{3})\] <- ([0-9A-F]{2}) 03 00 00 00 2D")


def line_limit_ms(baud):
    """Request + 95-byte reply at 11 bits a character + two 3.5-character silences."""
    return (8 + 95 + 7) * 11 * 1000 / baud


def run(tool_args, baud, addresses):
    d = tempfile.mkdtemp()
    link, log = os.path.join(d, "bus"), os.path.join(d, "sim.log")
    with open(log, "w") as err:
        sim = subprocess.Popen([SIM, "--link", link, "--address", addresses, "--baud", str(baud),
                                "--verbose"], stdout=subprocess.PIPE, stderr=err)
        sim.stdout.readline()
        tool = subprocess.Popen([a.replace("LINK", link) for a in tool_args],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(SECONDS)
        rss_kb = 0
        try:
            with open(f"/proc/{tool.pid}/status") as f:
                rss_kb = int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))
        except OSError:
            pass
        tool.send_signal(signal.SIGINT)
        _, _, usage = os.wait4(tool.pid, 0)
        sim.terminate()
        sim.wait()
    cpu = usage.ru_utime + usage.ru_stime
    times = {}
    with open(log) as f:
        for line in f:
            m = REQUEST.match(line)
            if m:
                times.setdefault(int(m.group(3), 16), []).append(int(m.group(1)) + int(m.group(2)) / 1000)
    return times, cpu, rss_kb


def per_reading_ms(times):
    """From the second request on: the first round also reads each meter's parameters."""
    t = times[min(times)][1:]
    return (t[-1] - t[0]) / (len(t) - 1) * 1000


def main():
    poll = [POLL, "--port", "LINK", "--address", "1", "--format", "csv"]
    mbpoll = ["mbpoll", "-m", "rtu", "-a", "1", "-P", "none", "-s", "2", "-0", "-r", "0",
              "-c", "45", "-t", "4", "-l", "10", "LINK"]
    print(f"machine: {os.cpu_count()} cores, {os.uname().machine}, {os.uname().release}")
    print(f"method: {SECONDS:.0f} s per run, timed by the simulator's request log\n")
    print("| tool | baud | ms per reading | readings/s | share of the line limit |")
    print("|---|---|---|---|---|")
    single = {}
    for baud in (9600, 19200):
        limit = line_limit_ms(baud)
        for name, args in (("kx880-poll", poll + ["--baud", str(baud)]),
                           ("mbpoll", mbpoll + ["-b", str(baud)])):
            times, cpu, rss = run(args, baud, "1")
            ms = per_reading_ms(times)
            if name == "kx880-poll":
                single[baud] = ms
                if baud == 9600:
                    cpu9600, rss9600 = cpu, rss
            print(f"| {name} | {baud} | {ms:.2f} | {1000 / ms:.2f} | {100 * limit / ms:.1f} % "
                  f"(limit {limit:.1f} ms) |")
    times, _, _ = run(poll + ["--baud", "9600", "--address", "1-8"], 9600, "1-8")
    round_ms = per_reading_ms(times)
    print(f"\nround of 8 meters at 9600: {round_ms:.1f} ms against 8 x {single[9600]:.2f} = "
          f"{8 * single[9600]:.1f} ms ({100 * (round_ms / (8 * single[9600]) - 1):+.2f} %)")
    print(f"kx880-poll at 9600: CPU {cpu9600:.3f} s in {SECONDS:.0f} s "
          f"({100 * cpu9600 / SECONDS:.2f} % of a core), peak resident memory {rss9600 / 1024:.1f} MB")


main()
