#!/usr/bin/python3
"""tarnelctl serve on three emulated boards, listening beyond loopback, as a lab's browser finds it:
avahi-browse -rpt finds each board under _scpi-raw._tcp (its USB port path in the name, its raw port
5025..5027, its TXT records) and the host's VXI-11 server under _vxi-11._tcp, through a dbus-daemon
and an avahi-daemon of the test's own (mdns_hosts: network, mount and PID namespaces the test makes,
mDNS on their loopback only); each found port answers *IDN?; once SIGTERM has stopped the server,
its services are gone.

usage: serve_announce_e2e.py BOARD_EMULATOR TARNELCTL
Needs root and unshare; without them it ends with 77 (a skip) and says why.
"""
import os
import subprocess
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from mdns_hosts import INSIDE_ARGUMENT, Host, run_in_namespaces  # noqa: E402
from tarnel_e2e import Check, LineClient  # noqa: E402

HOST = "tarnel-lab"
# Every wait here is bounded by one of these (and those of mdns_hosts).
START_S = 30
STOP_S = 30
INSIDE_S = 240

BOARDS = (("1-1", 5025), ("1-2", 5026), ("1-3", 5027))


class Serve:
    """board-emulator with tarnelctl serve beside it, on the host's bus; its stderr gathered as it comes."""

    def __init__(self, host, emulator, tarnelctl):
        self.process = host.spawn([emulator, "--boards", "3", "--", tarnelctl, "serve", "--config",
                                   "/nonexistent/scpi.conf", "--listen", "0.0.0.0:5025"],
                                  stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stderr:
            with self.changed:
                self.lines.append(line.rstrip("\n"))
                self.changed.notify_all()

    def said(self, words):
        with self.changed:
            return self.changed.wait_for(lambda: any(words in line for line in self.lines), START_S)

    def stop(self):
        """SIGTERM; the exit status (None if it had to be killed)."""
        self.process.terminate()
        try:
            status = self.process.wait(timeout=STOP_S)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            status = None
        self.reader.join(STOP_S)
        return status

    def log(self):
        with self.changed:
            return "\n".join(self.lines)


def identity(port):
    client = LineClient(port)
    try:
        return client.query("*IDN?")
    finally:
        client.close()


def announced(c, host, serve, version):
    board_names = {"Tarnel board %s on %s" % (path, HOST): (path, port) for path, port in BOARDS}
    found = host.browse_until("_scpi-raw._tcp", lambda f: all(name in f for name in board_names))
    c.expect(sorted(found) == sorted(board_names), "the boards as found: %s\n%s" % (sorted(found), serve.log()))
    for name, (path, port) in board_names.items():
        if name not in found:
            continue
        found_host, found_port, txt = found[name]
        c.expect((found_host, found_port) == (HOST + ".local", port),
                 "%s at %s:%d, not %s.local:%d" % (name, found_host, found_port, HOST, port))
        wanted_txt = ["txtvers=1", "Manufacturer=Velorn", "Model=Tarnel Evaluation Board", "SerialNumber=" + path,
                      "FirmwareVersion=" + version]
        c.expect(txt == wanted_txt, "%s TXT %s, not %s" % (name, txt, wanted_txt))
        reply = identity(found_port)
        c.expect(reply.startswith("Velorn,Tarnel Evaluation Board,"), "port %d found for %s answers %r" % (
            found_port, name, reply))

    vxi11_name = "Tarnel boards on " + HOST
    vxi11 = host.browse_until("_vxi-11._tcp", lambda f: vxi11_name in f)
    wanted = (HOST + ".local", 111, ["txtvers=1", "Manufacturer=Velorn", "Model=Tarnel Evaluation Board",
                                     "FirmwareVersion=" + version])
    c.expect(vxi11.get(vxi11_name) == wanted, "the VXI-11 host as found: %s, not %s" % (vxi11, wanted))


def inside(folder, emulator, tarnelctl):
    c = Check()
    host = Host(folder, HOST, ["lo"])
    serve = None
    try:
        host.start_bus()
        host.start_avahi()
        version = subprocess.run([tarnelctl, "--version"], capture_output=True, text=True,
                                 timeout=START_S).stdout.split()[-1]
        serve = Serve(host, emulator, tarnelctl)
        c.expect(serve.said("board 1-3 (board"), "the boards are not served:\n" + serve.log())
        announced(c, host, serve, version)

        status = serve.stop()
        c.expect(status == 0, "SIGTERM ended the server with %s:\n%s" % (status, serve.log()))
        serve = None
        for service_type in ("_scpi-raw._tcp", "_vxi-11._tcp"):
            left = host.browse_until(service_type, lambda f: not f)
            c.expect(not left, "%s still found once the server stopped: %s" % (service_type, sorted(left)))
    except (RuntimeError, subprocess.SubprocessError, OSError) as error:
        c.expect(False, str(error))
    finally:
        if serve is not None:
            serve.stop()
        host.stop_all()
    return c.summary("e2e_serve_announce")


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == INSIDE_ARGUMENT:
        sys.exit(inside(*sys.argv[2:]))
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(run_in_namespaces(__file__, [os.path.abspath(argument) for argument in sys.argv[1:]], INSIDE_S))
