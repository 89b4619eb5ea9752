#!/usr/bin/env python3
"""The boards announced by mDNS/DNS-SD as a lab's browser finds them: avahi-browse -rpt, through
a dbus-daemon and an avahi-daemon of the test's own, in network, mount and PID namespaces the test
makes itself (mDNS only on their loopback and on a veth pair between two of them, never on the
real network).

one-host: the announcer first waits without avahi-daemon (one line), then avahi-daemon starts and
avahi-browse finds both boards and the VXI-11 host with their ports and TXT records; a board leaves
and comes back; a second announcer takes a board name already taken (avahi's alternative name);
avahi-daemon stops and starts again and the boards are back, and so after the system bus stopped;
SIGTERM stops the announcer with 0.
two-hosts: a board is found from another host over the veth pair, and a name taken on the LAN
moves to the alternative.

usage: lan_announce_e2e.py one-host|two-hosts LAN_ANNOUNCE_DEMO
Needs root and unshare; without them it ends with 77 (a skip) and says why. A daemon that does not
start is a failure.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from tarnel_e2e import Check  # noqa: E402

SKIP = 77
HOST = "tarnel-lab"
# Every wait here is bounded by one of these.
READY_S = 20
BROWSE_S = 20
LINE_S = 20
INSIDE_S = 240

TOOLS = {"dbus-daemon": "dbus-daemon", "dbus-send": "dbus-bin", "avahi-daemon": "avahi-daemon",
         "avahi-browse": "avahi-utils", "ip": "iproute2", "nsenter": "util-linux"}

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

AVAHI_CONFIG = """[server]
host-name={host}
use-ipv4=yes
use-ipv6=no
allow-interfaces={interfaces}
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
disable-publishing=no
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
[reflector]
enable-reflector=no
[rlimits]
"""

BOARD_TXT = ["txtvers=1", "Manufacturer=Velorn", "Model=Tarnel Evaluation Board", "FirmwareVersion=1.0"]


# ---- outside: the namespaces ----------------------------------------------------------------

def outside(scenario, demo):
    if os.geteuid() != 0:
        print("SKIP: the private dbus-daemon and avahi-daemon need root in namespaces of their own "
              "— run the test as root")
        return SKIP
    unshare = shutil.which("unshare")
    if unshare is None:
        print("SKIP: no unshare (Debian package util-linux) to make the test's own namespaces")
        return SKIP
    missing = ["%s (Debian package %s)" % (tool, package) for tool, package in TOOLS.items()
               if shutil.which(tool) is None]
    if missing:
        print("FAIL: missing %s — run scripts/install-deps" % ", ".join(missing), file=sys.stderr)
        return 1
    namespaces = [unshare, "--net", "--mount", "--pid", "--fork", "--kill-child", "--mount-proc",
                  "--propagation", "private"]
    probe = subprocess.run(namespaces + ["true"], capture_output=True, text=True, timeout=READY_S)
    if probe.returncode != 0:
        if "Operation not permitted" in probe.stderr:
            print("SKIP: this machine gives no network, mount and PID namespaces (%s)" % probe.stderr.strip())
            return SKIP
        print("FAIL: unshare could not make the namespaces: %s" % probe.stderr.strip(), file=sys.stderr)
        return 1

    folder = tempfile.mkdtemp(prefix="tarnel-mdns-")
    try:
        # The PID namespace ends every daemon left with its first process, whatever happens here.
        inside_run = subprocess.run(namespaces + ["/usr/bin/python3", os.path.abspath(__file__), "--inside",
                                                  scenario, folder, os.path.abspath(demo)], timeout=INSIDE_S)
        return inside_run.returncode
    except subprocess.TimeoutExpired:
        print("FAIL: the test inside the namespaces did not end within %d s" % INSIDE_S, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ---- inside: the hosts, their daemons and the announcers ----------------------------------

def unescape(label):
    r"""avahi-browse -p writes a name's spaces and signs as \DDD (decimal) and dots as \."""
    return re.sub(r"\\(\d{3}|.)", lambda m: chr(int(m.group(1))) if len(m.group(1)) == 3 else m.group(1), label)


def stop(process):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=READY_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Host:
    """One host of the test: its network and mount namespaces (this process's own, or those of a
    holder process entered with nsenter), and its private dbus-daemon and avahi-daemon, each with
    its config and log in the host's folder. /run (where avahi-daemon keeps its pid file and socket)
    and /etc/avahi/services (its static services) become empty folders of the host's own."""

    def __init__(self, folder, name, interfaces, holder=None):
        self.folder = folder
        self.name = name
        self.interfaces = interfaces
        self.holder = holder
        self.enter = ["nsenter", "-t", str(holder.pid), "-n", "-m"] if holder else []
        self.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + self.path("system_bus_socket"))
        self.bus = None
        self.avahi = None
        self.avahi_starts = 0
        self.run("ip", "link", "set", "lo", "up")
        self.run("ip", "link", "set", "lo", "multicast", "on")
        os.makedirs(self.path("run", "avahi-daemon"))
        os.makedirs(self.path("services"))
        self.run("mount", "--bind", self.path("run"), "/run")
        self.run("mount", "--bind", self.path("services"), "/etc/avahi/services")

    def path(self, *names):
        return os.path.join(self.folder, *names)

    def run(self, *command):
        subprocess.run(self.enter + list(command), check=True, timeout=READY_S, env=self.env)

    def spawn(self, command, **options):
        return subprocess.Popen(self.enter + command, env=self.env, **options)

    def start_bus(self):
        with open(self.path("bus.conf"), "w") as config:
            config.write(BUS_CONFIG.format(socket=self.path("system_bus_socket")))
        self.bus = self.spawn(["dbus-daemon", "--config-file=" + self.path("bus.conf"), "--nofork", "--nopidfile"],
                              stdout=subprocess.DEVNULL, stderr=open(self.path("dbus.log"), "w"))
        self.wait_ready("dbus-daemon", self.bus, "dbus.log",
                        lambda: self.ask("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"))

    def start_avahi(self):
        with open(self.path("avahi.conf"), "w") as config:
            config.write(AVAHI_CONFIG.format(host=self.name, interfaces=",".join(self.interfaces)))
        self.avahi_starts += 1
        log = "avahi-%d.log" % self.avahi_starts
        self.avahi = self.spawn(["avahi-daemon", "-f", self.path("avahi.conf"), "--no-drop-root", "--no-chroot",
                                 "--no-rlimits", "--no-proc-title"],
                                stdout=subprocess.DEVNULL, stderr=open(self.path(log), "w"))
        # State 2: the host name is established and services can go out.
        self.wait_ready("avahi-daemon", self.avahi, log,
                        lambda: "int32 2" in self.ask("org.freedesktop.Avahi", "/",
                                                      "org.freedesktop.Avahi.Server.GetState"))

    def stop_avahi(self):
        stop(self.avahi)
        self.avahi = None

    def stop_bus(self):
        stop(self.bus)
        self.bus = None
        # avahi-daemon ends with the bus.
        if self.avahi is not None:
            self.avahi.wait(timeout=READY_S)
            self.avahi = None

    def stop_all(self):
        stop(self.avahi)
        stop(self.bus)
        stop(self.holder)

    def ask(self, destination, path, method):
        result = subprocess.run(self.enter + ["dbus-send", "--system", "--print-reply", "--dest=" + destination,
                                              path, method],
                                capture_output=True, text=True, timeout=READY_S, env=self.env)
        return result.stdout if result.returncode == 0 else ""

    def wait_ready(self, name, process, log, ready):
        deadline = time.monotonic() + READY_S
        while time.monotonic() < deadline:
            if process.poll() is not None:
                break
            if ready():
                return
            time.sleep(0.1)
        with open(self.path(log)) as text:
            said = text.read().strip()
        raise RuntimeError("the private %s of %s did not start (%s); its log:\n%s" % (
            name, self.name, "it ended with %s" % process.returncode if process.poll() is not None
            else "not ready in %d s" % READY_S, said))

    def browse(self, service_type):
        """The services of the type this host resolves now: {name: (host, port, [txt...])}."""
        result = subprocess.run(self.enter + ["avahi-browse", "-rpt", service_type], capture_output=True, text=True,
                                timeout=BROWSE_S, env=self.env)
        found = {}
        for line in result.stdout.splitlines():
            fields = line.split(";")
            if fields[0] != "=" or len(fields) < 10:
                continue
            txt = re.findall(r'"((?:[^"\\]|\\.)*)"', ";".join(fields[9:]))
            found[unescape(fields[3])] = (fields[6], int(fields[8]), txt)
        return found

    def browse_until(self, service_type, done):
        """Browses again until done(found) holds, up to BROWSE_S; returns the last services found."""
        deadline = time.monotonic() + BROWSE_S
        while True:
            found = self.browse(service_type)
            if done(found) or time.monotonic() > deadline:
                return found
            time.sleep(0.3)

    def announcer(self, demo, *arguments):
        return Announcer(self, demo, *arguments)


class Announcer:
    """lan_announce_demo with each line it prints kept, in order."""

    def __init__(self, host, demo, *arguments):
        self.process = host.spawn([demo, *arguments], stdout=subprocess.PIPE, text=True)
        self.lines = []
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self.changed:
                self.lines.append(line.rstrip("\n"))
                self.changed.notify_all()

    def said(self, text, count=1):
        """Waits up to LINE_S for `count` lines with `text` in them; whether they came."""
        with self.changed:
            return self.changed.wait_for(lambda: sum(text in line for line in self.lines) >= count, LINE_S)

    def signal(self, number):
        self.process.send_signal(number)

    def stop(self):
        """SIGTERM; the exit status (None if it had to be killed)."""
        self.process.terminate()
        try:
            status = self.process.wait(timeout=LINE_S)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            status = None
        self.reader.join(LINE_S)
        return status


def board_name(path):
    return "Tarnel board %s on %s" % (path, HOST)


def check_boards(c, found, when):
    for path, port in (("1-1.2", 5025), ("1-1.3", 5026)):
        service = found.get(board_name(path))
        c.expect(service is not None, "%s: avahi-browse did not find %r among %s" % (when, board_name(path),
                                                                                     sorted(found)))
        if service is None:
            continue
        host, found_port, txt = service
        c.expect(host == HOST + ".local" and found_port == port, "%s: %s at %s:%d, not %s.local:%d" % (
            when, path, host, found_port, HOST, port))
        wanted_txt = BOARD_TXT[:3] + ["SerialNumber=board " + path] + BOARD_TXT[3:]
        c.expect(txt == wanted_txt, "%s: %s TXT %s, not %s" % (when, path, txt, wanted_txt))


def one_host(c, folder, demo):
    """The announcer before and after avahi-daemon starts, a board that leaves and comes back, a
    name another program on the host has taken, avahi-daemon stopped and started again."""
    host = Host(folder, HOST, ["lo"])
    first = second = None
    try:
        host.start_bus()
        first = host.announcer(demo)
        c.expect(first.said("avahi-daemon is not running"), "no line that avahi-daemon is not running")
        time.sleep(2)
        c.expect(len(first.lines) == 1, "without avahi-daemon more than one line: %s" % first.lines)

        host.start_avahi()
        c.expect(first.said("avahi-daemon is running"), "no line when avahi-daemon started")
        check_boards(c, host.browse_until("_scpi-raw._tcp", lambda f: len(f) >= 2), "once avahi-daemon ran")
        vxi11 = host.browse_until("_vxi-11._tcp", lambda f: len(f) >= 1)
        c.expect(vxi11.get("Tarnel boards on " + HOST, (None, None, None))[1:] == (
            111, ["txtvers=1", "Manufacturer=Velorn", "Model=Tarnel boards", "FirmwareVersion=1.0"]),
            "the VXI-11 host as found: %s" % vxi11)
        c.expect(host.browse("_lxi._tcp") == {}, "an _lxi._tcp service was announced")

        # A board leaves, and comes back.
        first.signal(signal.SIGUSR1)
        found = host.browse_until("_scpi-raw._tcp", lambda f: board_name("1-1.2") not in f)
        c.expect(sorted(found) == [board_name("1-1.3")], "after the withdrawal: %s" % sorted(found))
        c.expect(first.said('withdrew "%s"' % board_name("1-1.2")), "no line on the withdrawal")
        first.signal(signal.SIGUSR2)
        check_boards(c, host.browse_until("_scpi-raw._tcp", lambda f: len(f) >= 2), "after the board came back")

        # A second announcer on this host with a board name already taken.
        second = host.announcer(demo, "--no-vxi11", "1-1.2:6000")
        renamed = board_name("1-1.2") + " #2"
        c.expect(second.said('announcing it as "%s"' % renamed), "no rename line: %s" % second.lines)
        found = host.browse_until("_scpi-raw._tcp", lambda f: renamed in f)
        c.expect(found.get(renamed, (None, None))[1] == 6000, "the renamed board as found: %s" % found)
        c.expect(found.get(board_name("1-1.2"), (None, None))[1] == 5025, "the first one moved: %s" % found)
        c.expect(second.stop() == 0, "the second announcer did not stop with 0")
        second = None
        found = host.browse_until("_scpi-raw._tcp", lambda f: renamed not in f)
        c.expect(renamed not in found, "the stopped announcer's board stayed: %s" % sorted(found))

        # avahi-daemon goes away and comes back.
        host.stop_avahi()
        c.expect(first.said("avahi-daemon stopped"), "no line when avahi-daemon stopped")
        host.start_avahi()
        c.expect(first.said("avahi-daemon is running", 2), "no line when avahi-daemon came back")
        check_boards(c, host.browse_until("_scpi-raw._tcp", lambda f: len(f) >= 2), "after avahi-daemon came back")

        # The system bus goes away, and avahi-daemon with it; the announcer waits for both, quietly.
        host.stop_bus()
        c.expect(first.said("avahi-daemon stopped", 2), "no line when the system bus stopped")
        time.sleep(3)
        host.start_bus()
        host.start_avahi()
        c.expect(first.said("avahi-daemon is running", 3), "no line when the system bus came back")
        check_boards(c, host.browse_until("_scpi-raw._tcp", lambda f: len(f) >= 2), "after the system bus came back")
        c.expect(sum("avahi-daemon stopped" in line for line in first.lines) == 2,
                 "the absences said more than once each: %s" % first.lines)

        status = first.stop()
        c.expect(status == 0, "SIGTERM did not end the announcer with 0 (%s)" % status)
        warnings = [line for line in first.lines if not line.startswith("info: ")]
        c.expect(not warnings, "lines other than information: %s" % warnings)
        first = None
    finally:
        for announcer in (first, second):
            if announcer is not None:
                announcer.stop()
        host.stop_all()


def two_hosts(c, folder, demo):
    """Two hosts on a veth pair between their network namespaces: a board announced on one is found
    from the other, and a board the other announces under the same name (both were told the same
    host name) moves to avahi's alternative name when the LAN answers for it."""
    lab = Host(os.path.join(folder, "lab"), HOST, ["veth-lab"])
    # The other host's namespaces are held by a process that only waits; it is entered with nsenter.
    holder = subprocess.Popen(["unshare", "--net", "--mount", "--propagation", "private", "sleep", str(INSIDE_S)])
    other = None
    first = second = None
    try:
        time.sleep(0.2)
        subprocess.run(["ip", "link", "add", "veth-lab", "type", "veth", "peer", "name", "veth-other", "netns",
                        str(holder.pid)], check=True, timeout=READY_S)
        other = Host(os.path.join(folder, "other"), HOST + "-other", ["veth-other"], holder)
        for host, interface, address in ((lab, "veth-lab", "10.77.0.1/24"), (other, "veth-other", "10.77.0.2/24")):
            host.run("ip", "addr", "add", address, "dev", interface)
            host.run("ip", "link", "set", interface, "up")
            host.start_bus()
            host.start_avahi()

        first = lab.announcer(demo, "--host", "bench", "--no-vxi11", "1-1.2:5025")
        name = "Tarnel board 1-1.2 on bench"
        found = other.browse_until("_scpi-raw._tcp", lambda f: name in f)
        c.expect(found.get(name, (None, None))[:2] == (HOST + ".local", 5025),
                 "the other host did not find the board over the veth pair: %s" % found)

        second = other.announcer(demo, "--host", "bench", "--no-vxi11", "1-1.2:6000")
        renamed = name + " #2"
        c.expect(second.said('announcing it as "%s"' % renamed), "no rename on the LAN's answer: %s" % second.lines)
        found = lab.browse_until("_scpi-raw._tcp", lambda f: renamed in f)
        c.expect(found.get(renamed, (None, None))[:2] == (HOST + "-other.local", 6000),
                 "the renamed board as the lab host found it: %s" % found)
        c.expect(found.get(name, (None, None))[:2] == (HOST + ".local", 5025), "the first one moved: %s" % found)
        for announcer in (first, second):
            c.expect(announcer.stop() == 0, "SIGTERM did not end an announcer with 0")
        first = second = None
    finally:
        for announcer in (first, second):
            if announcer is not None:
                announcer.stop()
        for host in (other, lab):
            if host is not None:
                host.stop_all()
        stop(holder)


SCENARIOS = {"one-host": one_host, "two-hosts": two_hosts}


def inside(scenario, folder, demo):
    c = Check()
    try:
        SCENARIOS[scenario](c, folder, demo)
    except (RuntimeError, subprocess.SubprocessError) as error:
        c.expect(False, str(error))
    return c.summary("e2e_scpi_discovery " + scenario)


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "--inside":
        sys.exit(inside(*sys.argv[2:]))
    if len(sys.argv) != 3 or sys.argv[1] not in SCENARIOS:
        sys.exit(__doc__)
    sys.exit(outside(*sys.argv[1:]))
