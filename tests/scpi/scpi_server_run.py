"""tarnelctl serve under board-emulator, for the SCPI server's end-to-end tests.

Starts the server on a free port, waits until that port accepts a client (the
first client, handed to the test), keeps the server's stderr lines, and stops
it with a signal, returning its exit status.
"""
import signal
import socket
import subprocess
import sys
import threading
import time

FULL_SCALE = 4.93
READ_BACK_LSB = FULL_SCALE / 4096
DAC_STEP = FULL_SCALE / 2 ** 18
NOT_A_NUMBER = "9.91E+37"


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


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Server:
    def __init__(self, emulator, tarnelctl, emulator_options=(), serve_options=()):
        self.port = free_port()
        self.stderr_lines = []
        self.process = subprocess.Popen(
            [emulator, *emulator_options, "--", tarnelctl, "serve", "--listen", "127.0.0.1:%d" % self.port,
             *serve_options],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self._reader = threading.Thread(target=self._read_stderr, daemon=True)
        self._reader.start()

    def _read_stderr(self):
        for line in self.process.stderr:
            self.stderr_lines.append(line.rstrip("\n"))

    def said(self, words, within_s=5):
        """Whether a stderr line holds words, waiting a moment for it."""
        deadline = time.monotonic() + within_s
        while not any(words in line for line in self.stderr_lines):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.02)
        return True

    def first_client(self, deadline_s=60):
        """Connects as soon as the port accepts; fails if the server ends first."""
        deadline = time.monotonic() + deadline_s
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("the server ended with %d before it accepted: %s" %
                                   (self.process.returncode, self.stderr_lines))
            try:
                return Client(self.port)
            except OSError:
                time.sleep(0.02)
        raise RuntimeError("the server did not accept within %d s" % deadline_s)

    def stop(self, signal_number=signal.SIGTERM, timeout_s=30):
        """Sends the signal (board-emulator passes it on) and returns the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal_number)
        try:
            status = self.process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return "hung"
        self._reader.join(timeout=5)
        return status


class Client:
    """One plain TCP client of the server."""

    def __init__(self, port, timeout_s=30):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=timeout_s)
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._buffer = b""

    def send(self, text):
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
        self.send(text + "\n")
        return self.line()

    def close(self):
        self.socket.close()


def dac_volts(volts):
    """The output of the DAC code nearest to volts."""
    code = min(int(volts / FULL_SCALE * 2 ** 18 + 0.5), 2 ** 18 - 1)
    return code / 2 ** 18 * FULL_SCALE
