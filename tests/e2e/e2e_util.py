"""What the end-to-end scripts share: free ports, waiting, processes stopped by PID."""
import os
import random
import socket
import subprocess
import tempfile
import time
import unittest


def free_port():
    """A port no one listens on, below the system's ephemeral range: a client that
    reconnects to a port inside that range can be given it as its own source port and
    connect to itself, and the kernel hands such ports out to other connections."""
    with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
        low = int(f.read().split()[0])
    while True:
        port = random.randrange(10000, low)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))  # no reuse: a port in TIME_WAIT is skipped too
            except OSError:
                continue
            return port


def port_open(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def read(path):
    with open(path) as f:
        return f.read()


def wait_for(predicate, seconds):
    """The predicate's first true value within the time, or None; a server not up yet
    (OSError) counts as not yet."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            value = predicate()
        except OSError:
            value = None
        if value:
            return value
        time.sleep(0.05)
    return None


class ProcessTest(unittest.TestCase):
    """A scratch folder and the processes a test starts, all killed at its end."""

    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
            p.wait()
            for stream in (p.stdout, p.stderr):
                if stream:
                    stream.close()

    def pty_pair(self):
        """A socat pseudo-terminal pair, as a cable between two serial ports: (our end, the
        far end)."""
        d = tempfile.mkdtemp(dir=self.dir)
        ends = os.path.join(d, "A"), os.path.join(d, "B")
        self.spawn(["socat"] + [f"pty,raw,echo=0,link={e}" for e in ends])
        self.assertTrue(wait_for(lambda: all(os.path.exists(e) for e in ends), 10))
        return ends

    def spawn(self, args, **kw):
        kw.setdefault("stdout", subprocess.DEVNULL)
        kw.setdefault("stderr", subprocess.DEVNULL)
        p = subprocess.Popen(args, **kw)
        self.procs.append(p)
        return p
