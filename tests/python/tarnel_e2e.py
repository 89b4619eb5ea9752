"""What the Python end-to-end tests share: the failure count, a plain TCP line client
on loopback, a free loopback port, and the DAC of board 0 set through tarnelctl.

The scripts run from their own folders; each puts this folder on sys.path first:
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
"""
import socket
import subprocess
import sys
import threading

FULL_SCALE = 4.93
CODES = 2 ** 18


class Check:
    """Counts failed expectations and prints each as one FAIL line; safe from several threads."""

    def __init__(self):
        self.failures = 0
        self.lock = threading.Lock()

    def expect(self, condition, what):
        if not condition:
            with self.lock:
                print("FAIL:", what, file=sys.stderr)
                self.failures += 1

    def summary(self, scenario):
        """Prints the scenario's count of failures; returns the exit status."""
        print("%s: %d failure(s)" % (scenario, self.failures))
        return 1 if self.failures else 0


class LineClient:
    """One plain TCP client of a line server (tarnelctl serve, the emulated meter) on loopback."""

    def __init__(self, port, host="127.0.0.1", timeout_s=30):
        self.socket = socket.create_connection((host, port), timeout=timeout_s)
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._buffer = b""

    def send(self, text):
        """Sends text (or bytes) as it is: lines need their own line ends."""
        self.socket.sendall(text.encode("latin-1") if isinstance(text, str) else text)

    def line(self):
        """The next reply line; "" when the server closed the connection."""
        while b"\n" not in self._buffer:
            chunk = self.socket.recv(65536)
            if not chunk:
                return ""
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode("ascii")

    def query(self, text):
        """Sends text as one line and returns the reply line."""
        self.send(text + "\n")
        return self.line()

    def close(self):
        self.socket.close()


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def dac(tarnelctl, word, mode=None):
    """Writes the data word to board 0's DAC, in the output mode given (tarnelctl's default if
    none); returns the output it gives in normal operation, 0 V when powered down."""
    mode_options = ["--mode", mode] if mode else []
    subprocess.run([tarnelctl, "code", "%X" % word, *mode_options], check=True, stdout=subprocess.DEVNULL)
    return word / CODES * FULL_SCALE if mode in (None, "normal") else 0.0
