"""tarnelctl serve under board-emulator, for the SCPI server's end-to-end tests.

Starts the server on a free port, waits until that port accepts a client (the
first client, handed to the test), keeps the server's stderr lines, and stops
it with a signal, returning its exit status.
"""
import signal
import subprocess
import threading
import time

from tarnel_e2e import CODES, FULL_SCALE, LineClient, free_port

READ_BACK_LSB = FULL_SCALE / 4096
DAC_STEP = FULL_SCALE / CODES
NOT_A_NUMBER = "9.91E+37"


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
                return LineClient(self.port)
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


def dac_volts(volts):
    """The output of the DAC code nearest to volts."""
    code = min(int(volts / FULL_SCALE * CODES + 0.5), CODES - 1)
    return code / CODES * FULL_SCALE
