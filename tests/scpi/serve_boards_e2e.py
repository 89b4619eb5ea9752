#!/usr/bin/python3
"""tarnelctl serve with every board of the host, on three emulated boards, in network and mount
namespaces the test makes (port 111 and the portmapper on it are the test's own): each board on its
raw port and its VXI-11 names (PyVISA, lxi scpi); the plan of a scpi.conf and a bad line of one;
--board PATH serving one board; a board plugged in again served again at its port path; the
allow-list refusing a client of a namespace beyond a veth pair (10.77.0.0/24, the test's own), which
finds the server with lxi discover when admitted.

usage: serve_boards_e2e.py BOARD_EMULATOR TARNELCTL
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import warnings

warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from tarnel_e2e import Check, LineClient  # noqa: E402

INSIDE = "--inside-namespace"
PEER = "tarnel-serve-peer"
check = Check()
expect = check.expect


class Serve:
    """board-emulator with tarnelctl serve beside it; its stderr gathered as it comes."""

    def __init__(self, emulator, tarnelctl, emulator_options=(), serve_options=(), global_options=()):
        self.process = subprocess.Popen([emulator, "--boards", "3", *emulator_options, "--", tarnelctl,
                                         *global_options, "serve", *serve_options],
                                        stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stderr:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def said(self, words, within_s=30):
        deadline = time.monotonic() + within_s
        while time.monotonic() < deadline:
            with self.lock:
                if any(words in line for line in self.lines):
                    return True
            if self.process.poll() is not None and not self.reader.is_alive():
                break
            time.sleep(0.1)
        return False

    def stop(self):
        self.process.terminate()
        try:
            status = self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            if os.environ.get("TARNEL_SERVE_DEBUG"):
                subprocess.run("for p in $(pgrep -x tarnelctl); do gdb -p $p -batch -ex 'thread apply all bt 12'; done"
                               " > /tmp/i21s_gdb.txt 2>&1", shell=True)
            self.process.kill()
            status = "hung"
        self.reader.join(timeout=5)
        return status

    def log(self):
        with self.lock:
            return "\n".join(self.lines)


def query(port, text, host="127.0.0.1"):
    client = LineClient(port, host)
    try:
        return client.query(text)
    finally:
        client.close()


def boards_scenario(emulator, tarnelctl):
    """Three boards, each its own instrument on 5025..5027 and on VXI-11 by inst<N> and port path."""
    serve = Serve(emulator, tarnelctl, serve_options=("--config", "/nonexistent/scpi.conf", "--listen", "127.0.0.1:5025"))
    expect(serve.said("board 1-3 (board"), "no start-up line for board 1-3:\n" + serve.log())
    for path, port, name in (("1-1", 5025, "inst0"), ("1-2", 5026, "inst1"), ("1-3", 5027, "inst2")):
        expect(serve.said("board %s (board" % path) and serve.said("127.0.0.1:%d, VXI-11 device %s or %s" % (port, name, path)),
               "start-up line of %s:\n%s" % (path, serve.log()))
    identities = [query(port, "*IDN?") for port in (5025, 5026, 5027)]
    expect(all(i.startswith("Velorn,Tarnel Evaluation Board,") for i in identities), "IDN: %r" % identities)
    expect(len(set(identities)) == 3, "the boards share an *IDN?: %r" % identities)
    # Each board its own settings: a level on one leaves the others at 0 V.
    expect(abs(float(query(5026, "VOLT 2.0;:VOLT?")) - 2.0) < 0.001, "board 1-2 did not take 2 V")
    levels = [float(query(port, "MEAS?")) for port in (5025, 5026, 5027)]
    expect(abs(levels[1] - 2.0) < 0.01 and abs(levels[0]) < 0.01 and abs(levels[2]) < 0.01, "levels %r" % levels)

    manager = pyvisa.ResourceManager("@py")
    for resource, raw_port in (("TCPIP::127.0.0.1::INSTR", 5025), ("TCPIP::127.0.0.1::inst1::INSTR", 5026),
                               ("TCPIP::127.0.0.1::1-2::INSTR", 5026), ("TCPIP::127.0.0.1::inst2::INSTR", 5027)):
        try:
            instrument = manager.open_resource(resource, open_timeout=10000)
            instrument.timeout = 10000
            expect(instrument.query("*IDN?").strip() == query(raw_port, "*IDN?"), resource + " is another board")
            expect(abs(float(instrument.query("MEAS?")) - float(query(raw_port, "MEAS?"))) < 0.01,
                   resource + " measures another board")
            instrument.close()
        except Exception as error:  # noqa: BLE001 - the failure is the finding
            expect(False, "%s: %s" % (resource, error))
    manager.close()
    lxi = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "*IDN?"], capture_output=True, text=True, timeout=30)
    expect(lxi.stdout.strip() == identities[0], "lxi scpi: %r %r" % (lxi.stdout, lxi.stderr))
    status = serve.stop()
    expect(status == 0, "SIGTERM ended the server with %s:\n%s" % (status, serve.log()))


def config_scenario(emulator, tarnelctl):
    """scpi.conf plans two of the three boards; a bad line exits 2 with its number."""
    with tempfile.TemporaryDirectory() as folder:
        conf = os.path.join(folder, "scpi.conf")
        with open(conf, "w") as file:
            file.write("# two boards\n1-3 6000 bench\n1-1 6001\n")
        serve = Serve(emulator, tarnelctl, serve_options=("--config", conf, "--listen", "127.0.0.1:5025"))
        expect(serve.said("127.0.0.1:6001, VXI-11 device inst0 or 1-1"), "1-1 not planned:\n" + serve.log())
        expect(serve.said("127.0.0.1:6000, VXI-11 device bench or 1-3"), "1-3 not planned:\n" + serve.log())
        expect(query(6000, "*OPC?") == "1" and query(6001, "*OPC?") == "1", "a planned board does not answer")
        try:
            socket.create_connection(("127.0.0.1", 6002), timeout=2).close()
            expect(False, "a board the file does not plan is served")
        except OSError:
            pass
        manager = pyvisa.ResourceManager("@py")
        bench = manager.open_resource("TCPIP::127.0.0.1::bench::INSTR", open_timeout=10000)
        expect(bench.query("*IDN?").strip() == query(6000, "*IDN?"), "bench is not board 1-3")
        bench.close()
        manager.close()
        status = serve.stop()
        expect(status == 0, "SIGTERM ended the server with %s:\n%s" % (status, serve.log()))

        with open(conf, "w") as file:
            file.write("1-1 6001\n1-2 seventy\n")
        bad = subprocess.run([emulator, "--boards", "3", "--", tarnelctl, "serve", "--config", conf],
                             capture_output=True, text=True, timeout=60)
        expect(bad.returncode == 2 and "line 2" in bad.stderr, "bad line: %d %r" % (bad.returncode, bad.stderr))


def one_board_scenario(emulator, tarnelctl):
    """--board PATH serves that board only, on --listen's port."""
    serve = Serve(emulator, tarnelctl, serve_options=("--listen", "127.0.0.1:5025"), global_options=("--board", "1-2"))
    expect(serve.said("board 1-2 (board"), "no line for 1-2:\n" + serve.log())
    expect(query(5025, "*OPC?") == "1", "board 1-2 does not answer")
    expect(not serve.said("board 1-1", within_s=1), "another board is served:\n" + serve.log())
    status = serve.stop()
    expect(status == 0, "SIGTERM ended the server with %s:\n%s" % (status, serve.log()))


def replug_scenario(emulator, tarnelctl):
    """Boards plugged in again and again: -241 while away, served again at the same path."""
    serve = Serve(emulator, tarnelctl, emulator_options=("--replug-every", "10"),
                  serve_options=("--config", "/nonexistent/scpi.conf", "--listen", "127.0.0.1:5025"))
    expect(serve.said("board 1-2 (board"), "no line for 1-2:\n" + serve.log())
    client = LineClient(5026)
    answered_after_loss, lost = 0, False
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and answered_after_loss < 5:
        reply = client.query("VOLT 1.25;:MEAS?")
        if reply.lower() in ("nan", "9.91e+37") or not reply:
            lost = True
            client.query("SYST:ERR?")
        elif lost and abs(float(reply) - 1.25) < 0.01:
            answered_after_loss += 1
        time.sleep(0.05)
    client.close()
    expect(lost and answered_after_loss >= 5, "board 1-2 not served again after a replug:\n" + serve.log())
    expect(serve.said("board 1-2 is back"), "no line on board 1-2 back")
    status = serve.stop()
    expect(status == 0, "SIGTERM ended the server with %s:\n%s" % (status, serve.log()))


def in_peer(*command, timeout_s=30):
    return subprocess.run(["ip", "netns", "exec", PEER, *command], capture_output=True, text=True, timeout=timeout_s)


def peer_query(port):
    script = ("import socket,sys\ns=socket.create_connection(('10.77.0.1',%d),timeout=10)\n"
              "s.sendall(b'*IDN?\\n')\nprint(s.makefile().readline().strip())\n" % port)
    return in_peer(sys.executable, "-c", script).stdout.strip()


def allow_scenario(emulator, tarnelctl):
    """Listening beyond loopback: a client beyond the veth pair refused by --allow, admitted by the
    host's networks (the default) and then found by lxi discover."""
    subprocess.run(["ip", "netns", "add", PEER], check=True)
    try:
        subprocess.run(["ip", "link", "add", "tarnel0", "type", "veth", "peer", "name", "tarnel1", "netns", PEER], check=True)
        subprocess.run(["ip", "addr", "add", "10.77.0.1/24", "brd", "+", "dev", "tarnel0"], check=True)
        subprocess.run(["ip", "link", "set", "tarnel0", "up"], check=True)
        in_peer("ip", "addr", "add", "10.77.0.2/24", "brd", "+", "dev", "tarnel1")
        in_peer("ip", "link", "set", "tarnel1", "up")
        in_peer("ip", "link", "set", "lo", "up")

        serve = Serve(emulator, tarnelctl, serve_options=("--config", "/nonexistent/scpi.conf", "--listen", "0.0.0.0:5025",
                                                          "--allow", "10.99.0.0/16"))
        expect(serve.said("board 1-3 (board"), "not served:\n" + serve.log())
        expect(not peer_query(5026).startswith("Velorn,"), "a client of 10.77.0.2 was served despite --allow 10.99.0.0/16")
        expect(serve.said("10.77.0.2"), "no line on the refused client:\n" + serve.log())
        expect(query(5026, "*OPC?") == "1", "loopback refused")
        status = serve.stop()
        expect(status == 0, "SIGTERM ended the server with %s:\n%s" % (status, serve.log()))

        serve = Serve(emulator, tarnelctl, serve_options=("--config", "/nonexistent/scpi.conf", "--listen", "0.0.0.0:5025"))
        expect(serve.said("board 1-3 (board"), "not served:\n" + serve.log())
        expect(serve.said("10.77.0.0/24"), "no line on the host's networks admitted:\n" + serve.log())
        expect(peer_query(5025).startswith("Velorn,"), "a client of the host's network refused:\n" + serve.log())
        discover = in_peer("lxi", "discover", "-t", "3", timeout_s=60)
        expect("10.77.0.1" in discover.stdout, "lxi discover did not find the server: %r" % discover.stdout)
        status = serve.stop()
        expect(status == 0, "SIGTERM ended the server with %s:\n%s" % (status, serve.log()))
    finally:
        subprocess.run(["ip", "netns", "delete", PEER])


def inside(emulator, tarnelctl):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    # rpcbind, libtirpc and ip netns meet in /run: a /run of the namespace's own keeps the host's apart.
    subprocess.run(["mount", "-t", "tmpfs", "tarnel-serve-test", "/run"], check=True)
    only = os.environ.get("TARNEL_SERVE_SCENARIO")
    for scenario in (boards_scenario, config_scenario, one_board_scenario, replug_scenario, allow_scenario):
        if only and scenario.__name__ != only:
            continue
        scenario(emulator, tarnelctl)
        sys.stderr.flush()
    return check.summary("serve boards")


def main():
    if len(sys.argv) == 4 and sys.argv[1] == INSIDE:
        return inside(sys.argv[2], sys.argv[3])
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    if os.geteuid() != 0:
        print("SKIP: the veth pair and the namespaces need root")
        return 77
    unshare = ["unshare", "--net", "--mount", "--propagation", "private"]
    return subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), INSIDE, sys.argv[1], sys.argv[2]],
                          timeout=600).returncode


if __name__ == "__main__":
    sys.exit(main())
