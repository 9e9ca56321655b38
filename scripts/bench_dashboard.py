#!/usr/bin/python3
"""The round time of kx880-poll with its dashboard idle, with 50 live pages (Server-Sent
Events clients reading every event) and one stuck client (connected, never reading), and
with its history store on (--history, a commit a minute), from the simulator's own log of
request arrivals, as bench_poll.py times it.
Usage: bench_dashboard.py KX880_POLL KX880_SIM [seconds]
"""
import os
import re
import selectors
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

POLL, SIM = sys.argv[1], sys.argv[2]
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 20
REQUEST = re.compile(r"^\[\s*(\d+)\.(\d{3})\] <- 01 03 00 00 00 2D")
METERS = "1-8"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def readers(port, n, stop, received):
    """n live pages, read as fast as the stream comes by one thread, so that the readers'
    own work takes as little of the machine from the poller as a remote browser's would."""
    sel = selectors.DefaultSelector()
    for _ in range(n):
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(b"GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n")
        s.setblocking(False)
        sel.register(s, selectors.EVENT_READ)
    while not stop.is_set():
        for key, _ in sel.select(timeout=0.5):
            received[0] += len(key.fileobj.recv(262144))
    for key in list(sel.get_map().values()):
        key.fileobj.close()


def stuck(port, held):
    """A page that asks for the stream and never reads: its socket buffers fill."""
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.sendall(b"GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n")
    held.append(s)


def run(clients, stuck_client, history=False):
    d = tempfile.mkdtemp()
    link, log = os.path.join(d, "bus"), os.path.join(d, "sim.log")
    port = free_port()
    stop, received, held = threading.Event(), [0], []
    with open(log, "w") as err:
        sim = subprocess.Popen([SIM, "--link", link, "--address", METERS, "--baud", "19200",
                                "--verbose"], stdout=subprocess.PIPE, stderr=err)
        sim.stdout.readline()
        poll = subprocess.Popen([POLL, "--port", link, "--baud", "19200", "--address", METERS,
                                 "--diagnose", "--http", f"127.0.0.1:{port}", "--format", "csv"] +
                                (["--history", os.path.join(d, "history.db")] if history else []),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        pages = threading.Thread(target=readers, args=(port, clients, stop, received))
        pages.start()
        if stuck_client:
            stuck(port, held)
        time.sleep(SECONDS)
        stop.set()
        pages.join()
        poll.send_signal(signal.SIGINT)
        poll.wait()
        sim.terminate()
        sim.wait()
    arrivals = []
    with open(log) as f:
        for line in f:
            m = REQUEST.match(line)
            if m:
                arrivals.append(int(m.group(1)) + int(m.group(2)) / 1000)
    # Rounds from the first request after the clients came to the end.
    t = [a for a in arrivals if a >= arrivals[-1] - SECONDS + 0.5]
    return (t[-1] - t[0]) / (len(t) - 1) * 1000, received[0] / SECONDS / 1024


def main():
    idle, _ = run(0, False)
    busy, rate = run(50, True)
    stored, _ = run(0, False, history=True)
    print(f"round of 8 meters at 19200 bit/s: {idle:.2f} ms idle, {busy:.2f} ms with 50 live "
          f"pages ({rate:.0f} KiB/s streamed) and a stuck one: {100 * (busy / idle - 1):+.2f} %, "
          f"{stored:.2f} ms with --history: {100 * (stored / idle - 1):+.2f} %")


main()
