#!/usr/bin/env python3
"""The bench meter on every connection, end to end: tarnelctl characterize, meter and meters against the
emulated meter on TCP (raw socket and VXI-11), USB (USBTMC), RS-232 and a "++" GPIB adapter, and against fake
meters on pseudo-terminals that this script plays (silent, garbage, a reply that never ends). The scenarios that
reach VXI-11 run in a network namespace of their own, so that port 111 and the portmapper on it are theirs.

usage: meter_connections_e2e.py SCENARIO BOARD_EMULATOR TARNELCTL
"""
import json
import os
import pty
import subprocess
import sys
import tempfile
import threading
import time
import tty

import characterize_e2e   # beside this script
from characterize_e2e import PROFILE, profile_file

EVERY_METER = ["--meter", "0", "--meter-usb", "--meter-speed", "1000"]
USB = '"$TARNEL_METER_USB"'
TCP = '"$TARNEL_METER_ADDRESS"'
VXI11 = "TCPIP::127.0.0.1::INSTR"
TTY = '"$TARNEL_METER_TTY" --serial 115200'
GPIB = 'GPIB0::22::INSTR --gpib-adapter "$TARNEL_METER_GPIB"'
IDENTITY = "Tarnel Emulated DMM"


class Check(characterize_e2e.Check):
    def every_meter(self, *extra):
        """board-emulator options for the one meter model on all four connections."""
        return [*EVERY_METER, "--meter-tty", self.path("meter-tty") + ",115200", "--meter-gpib",
                self.path("gpib-adapter") + ",22", *extra]


class FakeSerialMeter:
    """A meter on a pseudo-terminal, LINK a symbolic link to it: answers *IDN? and SYST:ERR?, and READ? with
    `volts` for `answers` readings, then `then`: "silent", "garbage" (bytes that are no reply) or "endless"
    (a reply that never ends). A `mute` one answers nothing at all."""

    def __init__(self, link, answers=None, then="silent", volts=0.0, mute=False):
        self.answers, self.then, self.volts, self.mute = answers, then, volts, mute
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.slave = slave   # kept open, so that the master never reads EIO between clients
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(slave), link)
        self.received = []
        self.stopping = False
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        pending, reads = b"", 0
        while not self.stopping:
            try:
                data = os.read(self.master, 4096)
            except OSError:
                return
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                line = line.decode(errors="replace").strip()
                self.received.append(line)
                reply = None
                if line == "*IDN?":
                    reply = b"Fake,Classic DMM,0001,1.0\n"
                elif line == "SYST:ERR?":
                    reply = b'+0,"No error"\n'
                elif line == "READ?":
                    if self.answers is not None and reads >= self.answers:
                        if self.then == "garbage":
                            reply = bytes([0xF3, 0x81, 0x00, 0xFE, 0x9C]) * 8 + b"\n"
                        elif self.then == "endless":
                            self.write_endlessly()
                            return
                    else:
                        reads += 1
                        reply = ("%+.8E\n" % self.volts).encode()
                if reply is not None and not self.mute:
                    os.write(self.master, reply)

    def write_endlessly(self):
        chunk = b"+1.00000000E+00," * 256
        deadline = time.monotonic() + 60
        while not self.stopping and time.monotonic() < deadline:
            try:
                os.write(self.master, chunk)
            except OSError:
                return

    def stop(self):
        self.stopping = True


def dac_volts(word):
    return word * characterize_e2e.LSB


# --- the same figures over every cable -----------------------------------------------------------------------------

def same_figures(c):
    """characterize over TCP, VXI-11, USB, RS-232 at 115200 and the GPIB adapter on one emulated bench: the same
    figures within the noise, and each connection named in the report."""
    measure = "--json characterize --codes bits --nplc 10 --avg 16 --settle 0 --meter "
    connections = {"tcp": TCP, "vxi11": VXI11, "usb": USB, "serial": TTY, "gpib": GPIB}
    results = c.run([measure + m for m in connections.values()],
                    c.every_meter("--dac-errors", profile_file(c, PROFILE, "profile.txt")))
    figures = {}
    for name, (status, out, err) in zip(connections, results):
        if c.expect(status == 0, "%s: exit %d: %s" % (name, status, err.strip())):
            figures[name] = json.loads(out)
    if len(figures) != len(connections):
        return
    tcp = figures["tcp"]
    for name, summary in figures.items():
        c.expect(IDENTITY in summary["meter"]["identity"], "%s: identity %r" % (name, summary["meter"]))
        c.expect(summary["points"] == tcp["points"] and summary["completed"], "%s: %r points" % (name, summary["points"]))
        c.expect(abs(summary["offset_uv"] - tcp["offset_uv"]) <= 4, "%s: offset %r uV, over TCP %r" % (
            name, summary["offset_uv"], tcp["offset_uv"]))
        c.expect(abs(summary["gain_error_ppm"] - tcp["gain_error_ppm"]) <= 3, "%s: gain %r ppm, over TCP %r" % (
            name, summary["gain_error_ppm"], tcp["gain_error_ppm"]))
        for figure in ("inl_ep_lsb", "dnl_lsb"):
            c.expect(abs(summary[figure]["worst"] - tcp[figure]["worst"]) <= 0.25, "%s: %s %r, over TCP %r" % (
                name, figure, summary[figure], tcp[figure]))
    c.expect(figures["usb"]["meter"]["resource"].startswith("USB0::0x1209::0xB212::EMU0001"), "usb: %r" % (
        figures["usb"]["meter"],))
    c.expect(figures["vxi11"]["meter"]["resource"].startswith("TCPIP"), "vxi11: %r" % (figures["vxi11"]["meter"],))
    c.expect(figures["serial"]["meter"]["resource"].startswith("ASRL"), "serial: %r" % (figures["serial"]["meter"],))
    c.expect("gpib_adapter" in figures["gpib"]["meter"] and "GPIB0::22::INSTR" in figures["gpib"]["meter"]["resource"],
             "gpib: the adapter is not in the report: %r" % (figures["gpib"]["meter"],))
    print("same_figures: INL end-point %s LSB" % ", ".join(
        "%s %+.3f" % (n, f["inl_ep_lsb"]["worst"]) for n, f in figures.items()))


# --- VXI-11 clients -----------------------------------------------------------------------------------------------

PYVISA_SESSION = """
import sys, warnings
warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa
meter = pyvisa.ResourceManager("@py").open_resource("TCPIP::127.0.0.1::INSTR")
meter.timeout = 10000
print(meter.query("*IDN?").strip())
print(meter.query("CONF:VOLT:DC 10;:VOLT:DC:NPLC 1;:READ?").strip())
meter.lock_excl(timeout=1000)
sys.stdout.flush()
sys.stdin.readline()   # the raw socket client asks meanwhile
print(meter.query("SYST:ERR?").strip())
meter.unlock()
meter.close()
"""


def vxi11_clients(c):
    """lxi scpi and a PyVISA session read the emulated meter over VXI-11 through the portmapper on port 111; while
    the PyVISA link holds the lock, a raw socket client is refused (-203) and the link's own messages run."""
    script = ('lxi scpi -a 127.0.0.1 "*IDN?" >"{w}/lxi.out" 2>&1; '
              'mkfifo "{w}/go"; /usr/bin/python3 -c "$0" <"{w}/go" >"{w}/visa.out" 2>&1 & visa=$!; exec 3>"{w}/go"; '
              'for i in $(seq 100); do [ "$(wc -l <"{w}/visa.out")" -ge 2 ] && break; sleep 0.1; done; '
              '/usr/bin/python3 "{h}" "$TARNEL_METER_ADDRESS" "{w}/go" >"{w}/raw.out" 2>&1; exec 3>&-; wait $visa').format(
                  w=c.work, h=os.path.abspath(__file__))
    subprocess.run([c.emulator, "--meter", "0", "--", "sh", "-c", script, PYVISA_SESSION], check=False, timeout=120)
    read = lambda name: open(c.path(name)).read()
    c.expect(IDENTITY in read("lxi.out"), "lxi scpi *IDN?: %r" % read("lxi.out"))
    visa = read("visa.out").splitlines()
    c.expect(len(visa) == 3 and IDENTITY in visa[0], "PyVISA: %r" % visa)
    if len(visa) == 3:
        c.expect(abs(float(visa[1])) < 10, "PyVISA READ?: %r" % visa[1])
        c.expect(visa[2].startswith("+0,") or visa[2].startswith("0,"), "PyVISA SYST:ERR?: %r" % visa[2])
    c.expect(read("raw.out").startswith("-203,"), "the raw socket client while the link held the lock: %r" % (
        read("raw.out"),))


def raw_locked_out(address, go):
    """A raw socket client's *IDN? while the link holds the lock (refused: no reply); then, once the link is told
    through the fifo `go` to let go, its SYST:ERR? (asked again until the lock is gone and it is answered)."""
    import socket
    host, port = address.rsplit(":", 1)
    with socket.create_connection((host, int(port)), timeout=10) as connection:
        connection.sendall(b"*IDN?\n")
        time.sleep(0.5)
        with open(go, "w") as fifo:
            fifo.write("go\n")
        connection.settimeout(0.2)
        received = b""
        for _ in range(50):
            connection.sendall(b"SYST:ERR?\n")
            try:
                received += connection.recv(4096)
            except socket.timeout:
                continue
            if b"\n" in received:
                print(received.split(b"\n")[0].decode())
                return


# --- tarnelctl meter and meters ---------------------------------------------------------------------------------------

def meter_check(c):
    """tarnelctl meter on each connection: *IDN? by default, a reading that is the DAC's output, the error queue
    printed with exit 1, and its JSON."""
    connections = {"tcp": TCP, "usb": USB, "serial": TTY, "gpib": GPIB}
    commands = ["code 20000"]
    for m in connections.values():
        commands += ["meter " + m, "meter %s 'CONF:VOLT:DC 10' 'MEAS:VOLT:DC?'" % m, "meter %s 'VOLT:DC:DIG 6'" % m,
                     "--json meter %s '*IDN?' 'SYST:ERR?'" % m]
    results = c.run(commands, c.every_meter())
    for i, name in enumerate(connections):
        identity, reading, unknown, as_json = results[1 + 4 * i:5 + 4 * i]
        c.expect(identity[0] == 0 and IDENTITY in identity[1], "%s: meter: %r" % (name, identity))
        c.expect(reading[0] == 0 and abs(float(reading[1].strip()) - dac_volts(0x20000)) < 20e-6,
                 "%s: MEAS:VOLT:DC? %r, the DAC gives %.6f" % (name, reading, dac_volts(0x20000)))
        c.one_line_failure(unknown, 1, "error queue held 1 error(s): -113,", "%s unknown command" % name)
        if c.expect(as_json[0] == 0, "%s: --json meter: %r" % (name, as_json)):
            document = json.loads(as_json[1])
            c.expect([r["message"] for r in document["replies"]] == ["*IDN?", "SYST:ERR?"] and document["errors"] == [],
                     "%s: --json meter: %r" % (name, document))


def listing(c):
    """tarnelctl meters lists the emulated USB meter with its descriptors' names; --identify adds its *IDN?."""
    results = c.run(["meters", "--json meters --identify"], EVERY_METER)
    status, out, err = results[0]
    c.expect(status == 0 and "USB0::0x1209::0xB212::EMU0001::INSTR  usbtmc" in out, "meters: %r" % (results[0],))
    status, out, err = results[1]
    if c.expect(status == 0, "meters --json --identify: %r" % (results[1],)):
        usb = [m for m in json.loads(out) if m["kind"] == "usbtmc"]
        c.expect(len(usb) == 1 and IDENTITY in (usb[0]["identity"] or ""), "meters --identify: %r" % usb)
    (status, out, err), = c.run(["meters"], ["--no-board"])
    c.expect(status == 0, "meters with no meter: exit %d, %r" % (status, err))


# --- faults ----------------------------------------------------------------------------------------------------------

def refused(c):
    """Each meter that cannot be reached: exit 3, one line naming the cause and the fix, the DAC untouched."""
    silent_link = c.path("silent-tty")
    silent = FakeSerialMeter(silent_link, mute=True)
    cases = [
        ("no USB instrument", "meter USB0::0x1209::0xBEEF::NOPE::INSTR", "tarnelctl meters"),
        ("no serial port", "meter /dev/ttyNOPE9", "/dev/ttyNOPE9"),
        ("no adapter", "meter GPIB0::22::INSTR --gpib-adapter %s" % c.path("no-adapter"), c.path("no-adapter")),
        ("nobody at the address", "meter GPIB0::5::INSTR --gpib-adapter \"$TARNEL_METER_GPIB\"", "5"),
        ("dtrdsr on a pseudo-terminal", "meter %s --serial 115200,8N1,dtrdsr" % TTY.split()[0], "DTR/DSR"),
        ("characterize, silent serial port", "characterize --meter %s --codes bits" % silent_link, silent_link),
    ]
    commands = ["code 20000"] + [command for _, command, _ in cases] + ["read"]
    results = c.run(commands, c.every_meter())
    for (what, _, says), result in zip(cases, results[1:-1]):
        c.one_line_failure(result, 3, says, what)
    c.expect(results[-1][1].startswith("code 2048 "), "refused: the DAC moved: %r" % results[-1][1])
    silent.stop()


def serial_gone(c, then, says):
    """A serial meter that answers 3 readings, then `then`: exit 5, 3 rows kept, the DAC parked."""
    link = c.path("fake-tty")
    FakeSerialMeter(link, answers=3, then=then, volts=1.0)
    codes = characterize_e2e.SHORT_CODES
    path = c.path("%s.csv" % then)
    results = c.run(["characterize --meter ASRL%s::INSTR --codes %s --nplc 0.02 --settle 0 --park 20000 --csv %s" % (
        link, c.code_file(codes), path), "read"])
    c.one_line_failure(results[0], 5, says, then)
    c.expect(len(c.csv_rows(path)) == 3, "%s: %d rows kept" % (then, len(c.csv_rows(path))))
    c.expect(results[1][1].startswith("code 2048 "), "%s: not parked: %r" % (then, results[1][1]))


def serial_silent(c):
    serial_gone(c, "silent", "did not answer READ?")


def serial_garbage(c):
    serial_gone(c, "garbage", "garbage")


def serial_endless(c):
    serial_gone(c, "endless", "without a line end")


def usb_unplugged(c):
    """The USB meter leaves the bus after its setup and 4 readings: exit 5, 4 rows kept, the DAC parked."""
    codes = characterize_e2e.SHORT_CODES
    path = c.path("usb-unplugged.csv")
    # The setup is 10 messages (*RST to SYST:ERR?), then one READ? a code.
    results = c.run(["characterize --meter %s --codes %s --nplc 0.02 --settle 0 --park 20000 --csv %s" % (
        USB, c.code_file(codes), path), "read"], [*EVERY_METER, "--meter-unplug-after", "14"])
    c.one_line_failure(results[0], 5, "unplugged", "USB meter unplugged")
    c.expect(len(c.csv_rows(path)) == 4, "USB meter unplugged: %d rows kept" % len(c.csv_rows(path)))
    c.expect(results[1][1].startswith("code 2048 "), "USB meter unplugged: not parked: %r" % results[1][1])


def wrong_baud(c):
    """The emulated line runs at 115200; a client at 9600 hears garbage: exit 5 naming --serial."""
    (status, out, err), = c.run(["meter \"$TARNEL_METER_TTY\" --serial 9600"], c.every_meter())
    c.one_line_failure((status, out, err), 5, "--serial", "wrong baud")


def busy(c):
    """A meter another program holds: exit 3 saying so, on USB and on RS-232."""
    holder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hold_meter.py")
    script = ('/usr/bin/python3 "%s" usb "$TARNEL_METER_USB" & holder=$!; sleep 1; '
              '"$0" meter "$TARNEL_METER_USB" >"%s/usb.out" 2>"%s/usb.err"; echo $? >"%s/usb.status"; kill $holder; '
              '/usr/bin/python3 "%s" serial "$TARNEL_METER_TTY" & holder=$!; sleep 1; '
              '"$0" meter "$TARNEL_METER_TTY" --serial 115200 >"%s/tty.out" 2>"%s/tty.err"; echo $? >"%s/tty.status"; '
              'kill $holder; wait') % (holder, c.work, c.work, c.work, holder, c.work, c.work, c.work)
    subprocess.run([c.emulator, *c.every_meter(), "--", "sh", "-c", script, c.tarnelctl], check=False, timeout=120)
    for name in ("usb", "tty"):
        read = lambda what: open(c.path("%s.%s" % (name, what))).read()
        c.one_line_failure((int(read("status")), read("out"), read("err")), 3, "another program", "%s busy" % name)


def no_permission(c):
    """A user outside the dialout group opens the emulated line: exit 3 naming the group (run as root only)."""
    if os.geteuid() != 0:
        print("no_permission: skipped, needs root to run tarnelctl as another user")
        return
    script = ('setpriv --reuid=65534 --regid=65534 --clear-groups "$0" meter "$(readlink -f "$TARNEL_METER_TTY")" '
              '--serial 115200 >"%s/out" 2>"%s/err"; echo $? >"%s/status"') % (c.work, c.work, c.work)
    subprocess.run([c.emulator, *c.every_meter(), "--", "sh", "-c", script, c.tarnelctl], check=False, timeout=60)
    read = lambda what: open(c.path(what)).read()
    c.one_line_failure((int(read("status")), read("out"), read("err")), 3, "dialout", "no permission")


SCENARIOS = {f.__name__: f for f in (same_figures, vxi11_clients, meter_check, listing, refused, serial_silent,
                                     serial_garbage, serial_endless, usb_unplugged, wrong_baud, busy, no_permission)}
# They reach the meter on VXI-11 through port 111.
IN_NAMESPACE = {"same_figures", "vxi11_clients"}
INSIDE = "--inside-namespace"


def enter_namespace():
    """Runs this script again in network and mount namespaces of its own (as root; else in a user namespace
    whose root may make them), with loopback up and a /run of its own, where rpcbind and libtirpc meet."""
    if sys.argv[1] == INSIDE:
        del sys.argv[1]
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        subprocess.run(["mount", "-t", "tmpfs", "tarnel-meter-test", "/run"], check=True)
        return
    unshare = ["unshare", "--net", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        unshare.insert(1, "--map-root-user")
    sys.exit(subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), INSIDE, *sys.argv[1:]],
                            timeout=600).returncode)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[2].endswith("/go"):
        raw_locked_out(*sys.argv[1:3])
        sys.exit(0)
    if sys.argv[1] == INSIDE or sys.argv[1] in IN_NAMESPACE:
        enter_namespace()
    scenario, emulator, tarnelctl = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o755)
        check = Check(emulator, tarnelctl, work)
        SCENARIOS[scenario](check)
    print("%s: %s" % (scenario, "ok" if check.failures == 0 else "%d failure(s)" % check.failures))
    sys.exit(1 if check.failures else 0)
