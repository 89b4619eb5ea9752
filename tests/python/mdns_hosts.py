"""What the mDNS end-to-end tests share: network, mount and PID namespaces of the test's own, and in
them hosts with a private dbus-daemon and avahi-daemon each, browsed with avahi-browse -rpt (mDNS only
on the namespaces' loopback and on veth pairs between them, never on the real network).

    def inside(folder, *arguments):          # runs in the namespaces; folder is the test's own
        host = Host(folder, "tarnel-lab", ["lo"])
        host.start_bus(); host.start_avahi()
        found = host.browse_until("_scpi-raw._tcp", lambda f: len(f) >= 2)
    sys.exit(run_in_namespaces(__file__, arguments, INSIDE_S))   # outside; the script runs again with
                                                                 # --inside FOLDER ARGUMENTS...
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
INSIDE_ARGUMENT = "--inside"
# Every wait here is bounded by one of these.
READY_S = 20
BROWSE_S = 20

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


def run_in_namespaces(script, arguments, inside_s):
    """Runs `script --inside FOLDER ARGUMENTS...` in network, mount and PID namespaces of its own, with
    a folder of its own; its exit status, or SKIP (and why) without root or namespaces."""
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
        inside_run = subprocess.run(namespaces + ["/usr/bin/python3", os.path.abspath(script), INSIDE_ARGUMENT,
                                                  folder, *arguments], timeout=inside_s)
        return inside_run.returncode
    except subprocess.TimeoutExpired:
        print("FAIL: the test inside the namespaces did not end within %d s" % inside_s, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


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
