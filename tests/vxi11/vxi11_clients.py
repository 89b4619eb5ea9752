#!/usr/bin/python3
"""Real VXI-11 clients against vxi11_test_server, in a network namespace the test makes, so that
port 111 and the portmapper on it are the test's own: lxi-tools (lxi scpi, lxi discover) and
PyVISA with pyvisa-py, with the server answering the portmapper itself; then with rpcbind
running (the server registers with it, and unregisters on stop); then without the right to
port 111 (one log line, the core channel still served).

usage: vxi11_clients.py VXI11_TEST_SERVER
"""
import os
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
import warnings

warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from tarnel_e2e import Check  # noqa: E402

INSIDE = "--inside-namespace"
IDN0 = "Tarnel,Test Instrument,0,1.0"
IDN1 = "Tarnel,Test Instrument,1,1.0"
CORE_PROGRAM = 0x0607AF

check = Check()
expect = check.expect


class TestServer:
    """vxi11_test_server running; its ports from its first line, its log from stderr."""

    def __init__(self, program, prefix=()):
        self.process = subprocess.Popen(list(prefix) + [program], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        words = self.process.stdout.readline().split()
        if len(words) != 6:
            self.process.kill()
            raise SystemExit("vxi11_test_server did not start: %r %s" % (words, self.process.stderr.read()))
        self.core_port = int(words[1])
        self.portmapper = words[5]

    def stop(self):
        """Stops it with SIGTERM; returns its log."""
        self.process.terminate()
        try:
            _, log = self.process.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            _, log = self.process.communicate()
            expect(False, "the server did not stop within 20 s of SIGTERM")
        expect(self.process.returncode == 0, "the server's exit status %s" % self.process.returncode)
        return log


def run(*command, timeout_s=20):
    done = subprocess.run(command, capture_output=True, text=True, timeout=timeout_s)
    return done.returncode, done.stdout + done.stderr


def rpc_null_call(port):
    """The core program's NULL procedure over raw TCP: True when it is answered with success."""
    call = struct.pack(">10I", 1, 0, 2, CORE_PROGRAM, 1, 0, 0, 0, 0, 0)
    with socket.create_connection(("127.0.0.1", port), timeout=5) as connection:
        connection.sendall(struct.pack(">I", 0x80000000 | len(call)) + call)
        reply = connection.recv(4096)
    if len(reply) < 28:
        return False
    _, xid, message_type, reply_state, _, _, accept_state = struct.unpack(">7I", reply[:28])
    return (xid, message_type, reply_state, accept_state) == (1, 1, 0, 0)


def lxi_clients():
    status, output = run("lxi", "scpi", "-a", "127.0.0.1", "*IDN?")
    expect(status == 0 and IDN0 in output, "lxi scpi *IDN?: %s" % output.strip())
    status, output = run("lxi", "discover", "-t", "1")
    expect(IDN0 in output and "127.0.0.1" in output, "lxi discover did not find the server: %s" % output.strip())


def pyvisa_sessions():
    manager = pyvisa.ResourceManager("@py")
    first = manager.open_resource("TCPIP::127.0.0.1::INSTR")
    second = manager.open_resource("TCPIP::127.0.0.1::inst1::INSTR")
    by_port_path = manager.open_resource("TCPIP::127.0.0.1::1-1.2::INSTR")
    other_link = manager.open_resource("TCPIP::127.0.0.1::inst0::INSTR")
    for session in (first, second, by_port_path, other_link):
        session.timeout = 5000
    expect(first.query("*IDN?").strip() == IDN0, "inst0 *IDN?")
    expect(second.query("*IDN?").strip() == IDN1, "inst1 *IDN?")
    expect(by_port_path.query("*IDN?").strip() == IDN0, "1-1.2 *IDN?")

    # Each link its own error queue and status byte.
    first.write("BOGUS")
    expect(first.read_stb() & 0x04, "the status byte of the link with an error lacks bit 2")
    expect(other_link.read_stb() & 0x04 == 0, "another link of the same device sees the error")
    expect(first.query("SYST:ERR?").startswith("-113,"), "the link's own error is not in its queue")
    expect(other_link.query("SYST:ERR?").startswith("0,"), "another link's queue holds an error")

    # One link waiting for a slow reply holds no other one up.
    answers = {}

    def slow_query():
        answers["slow"] = first.query("SLOW? 1500").strip()
        answers["slow_done"] = time.monotonic()

    waiting = threading.Thread(target=slow_query)
    waiting.start()
    time.sleep(0.2)
    expect(second.query("*IDN?").strip() == IDN1, "inst1 while inst0 is slow")
    answered = time.monotonic()
    waiting.join(10)
    expect(answers.get("slow") == "DONE", "the slow query's reply: %r" % answers.get("slow"))
    expect(answered < answers.get("slow_done", 0), "inst1's answer waited for inst0's slow reply")

    # A read that times out, then a device clear drops the late reply.
    first.timeout = 200
    try:
        first.query("SLOW? 1000")
        expect(False, "a query slower than the timeout did not time out")
    except pyvisa.errors.VisaIOError as failure:
        expect(failure.error_code == pyvisa.constants.StatusCode.error_timeout, "timeout error: %s" % failure)
    first.timeout = 5000
    time.sleep(1.0)
    first.clear()
    expect(first.query("*IDN?").strip() == IDN0, "*IDN? after a clear")

    first.assert_trigger()
    expect(first.query("TRIG?").strip() == "1", "the trigger did not reach the instrument")

    # The exclusive lock keeps the other links of the device out, not the holder.
    first.lock_excl(timeout=1000)
    expect(first.query("VAL 4;VAL?").strip() == "4", "the lock holder is kept out")
    other_link.timeout = 300
    try:
        other_link.read_stb()
        expect(False, "a serial poll from another link went through the lock")
    except pyvisa.errors.VisaIOError as failure:
        expect(failure.error_code == pyvisa.constants.StatusCode.error_resource_locked,
               "the locked device's refusal: %s" % failure)
    try:
        # pyvisa-py reports any refused write as an I/O error.
        other_link.write("VAL 5")
        expect(False, "a write from another link went through the lock")
    except pyvisa.errors.VisaIOError:
        pass
    expect(second.query("VAL?").strip() == "0", "the lock on inst0 held inst1")
    first.unlock()
    other_link.timeout = 5000
    other_link.write("VAL 5")
    expect(first.query("VAL?").strip() == "5", "a write after the unlock")

    for session in (first, second, by_port_path, other_link):
        session.close()
    manager.close()


def answering_scenario(program):
    print("the server answering port 111: lxi and PyVISA", flush=True)
    server = TestServer(program)
    expect(server.portmapper == "answering", "with no rpcbind the server answers port 111: %s" % server.portmapper)
    lxi_clients()
    pyvisa_sessions()
    server.stop()


def rpcbind_scenario(program):
    if not os.path.exists("/usr/sbin/rpcbind"):
        print("SKIP: the rpcbind scenario needs the rpcbind package")
        return
    rpcbind = subprocess.Popen(["/usr/sbin/rpcbind", "-f", "-w"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        for _ in range(50):
            if run("rpcinfo", "-p", "127.0.0.1")[0] == 0:
                break
            time.sleep(0.1)
        print("the server registered with rpcbind: lxi", flush=True)
        server = TestServer(program)
        expect(server.portmapper == "registered", "with rpcbind the server registers: %s" % server.portmapper)
        listed = run("rpcinfo", "-p", "127.0.0.1")[1]
        expect("395183    1   tcp  %5d" % server.core_port in listed, "rpcbind lacks the core: %s" % listed)
        status, output = run("lxi", "scpi", "-a", "127.0.0.1", "*IDN?")
        expect(status == 0 and IDN0 in output, "lxi scpi through rpcbind: %s" % output.strip())
        server.stop()
        expect("395183" not in run("rpcinfo", "-p", "127.0.0.1")[1], "the core stayed registered after the stop")
    finally:
        rpcbind.terminate()
        rpcbind.wait(10)


def unprivileged_scenario(program):
    if shutil.which("setpriv") is None:
        print("SKIP: the unprivileged scenario needs setpriv (util-linux)")
        return
    print("the server without the right to port 111", flush=True)
    server = TestServer(program, prefix=("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                         "--inh-caps=-all", "--bounding-set=-all"))
    expect(server.portmapper == "absent", "without port 111 there is no portmapper: %s" % server.portmapper)
    expect(rpc_null_call(server.core_port), "the core channel is not served without the portmapper")
    log = server.stop()
    lines = [line for line in log.splitlines() if line.startswith("portmapper:")]
    expect(len(lines) == 1 and "CAP_NET_BIND_SERVICE" in lines[0], "the log's portmapper lines: %r" % lines)


def inside(program):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    # rpcbind and libtirpc meet on a socket in /run: a /run of the namespace's own keeps the host's apart.
    subprocess.run(["mount", "-t", "tmpfs", "tarnel-vxi11-test", "/run"], check=True)
    answering_scenario(program)
    rpcbind_scenario(program)
    unprivileged_scenario(program)
    sys.stderr.flush()
    return check.summary("VXI-11 clients")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == INSIDE:
        return inside(sys.argv[2])
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    # As root, new network and mount namespaces; otherwise a user namespace first, whose root may make them.
    unshare = ["unshare", "--net", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        unshare.insert(1, "--map-root-user")
    return subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), INSIDE, sys.argv[1]],
                          timeout=300).returncode


if __name__ == "__main__":
    sys.exit(main())
