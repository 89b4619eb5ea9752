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
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from mdns_hosts import INSIDE_ARGUMENT, READY_S, Host, run_in_namespaces, stop  # noqa: E402
from tarnel_e2e import Check  # noqa: E402

HOST = "tarnel-lab"
# Every wait here is bounded by one of these (and those of mdns_hosts).
LINE_S = 20
INSIDE_S = 240

BOARD_TXT = ["txtvers=1", "Manufacturer=Velorn", "Model=Tarnel Evaluation Board", "FirmwareVersion=1.0"]


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
        first = Announcer(host, demo)
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
        second = Announcer(host, demo, "--no-vxi11", "1-1.2:6000")
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

        first = Announcer(lab, demo, "--host", "bench", "--no-vxi11", "1-1.2:5025")
        name = "Tarnel board 1-1.2 on bench"
        found = other.browse_until("_scpi-raw._tcp", lambda f: name in f)
        c.expect(found.get(name, (None, None))[:2] == (HOST + ".local", 5025),
                 "the other host did not find the board over the veth pair: %s" % found)

        second = Announcer(other, demo, "--host", "bench", "--no-vxi11", "1-1.2:6000")
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


def inside(folder, scenario, demo):
    c = Check()
    try:
        SCENARIOS[scenario](c, folder, demo)
    except (RuntimeError, subprocess.SubprocessError) as error:
        c.expect(False, str(error))
    return c.summary("e2e_scpi_discovery " + scenario)


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == INSIDE_ARGUMENT:
        sys.exit(inside(*sys.argv[2:]))
    if len(sys.argv) != 3 or sys.argv[1] not in SCENARIOS:
        sys.exit(__doc__)
    sys.exit(run_in_namespaces(__file__, [sys.argv[1], os.path.abspath(sys.argv[2])], INSIDE_S))
