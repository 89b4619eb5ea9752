#!/usr/bin/env python3
"""The emulated bench meter on its serial line and behind its "++" GPIB adapter, read by clients
we did not write.

usage: serial_gpib_clients_e2e.py SCENARIO TARNELCTL

Runs as board-emulator's COMMAND, started with --meter-tty LINK,115200, --meter-gpib LINK2 and a
large --meter-speed; finds the links in TARNEL_METER_TTY and TARNEL_METER_GPIB and sets the DAC
with tarnelctl, which reaches the same emulated board.
  asrl     PyVISA on pyvisa-py opens ASRL<LINK>::INSTR
  adapter  pyserial speaks the "++" command set to the adapter
"""
import os
import sys
import time
import warnings

# pyvisa-py warns about the buses it cannot reach here (USB, GPIB); serial lines need none of them.
warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa  # noqa: E402
import serial  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from tarnel_e2e import Check, dac  # noqa: E402

BAUD = 115200
check = Check()
expect = check.expect


def asrl(tarnelctl):
    """A bench script on plain PyVISA over RS-232: identity, DC volts, a reading of several samples,
    and a port opened at another baud rate than the meter's reads no reply."""
    rm = pyvisa.ResourceManager("@py")
    name = "ASRL%s::INSTR" % os.environ["TARNEL_METER_TTY"]
    dmm = rm.open_resource(name, baud_rate=BAUD, read_termination="\n", write_termination="\n", timeout=10000)
    identity = dmm.query("*IDN?").split(",")
    expect(len(identity) == 4 and identity[:2] == ["Velorn", "Tarnel Emulated DMM"], "*IDN? %r" % identity)
    for word in (0x20000, 0x3FFFF, 0x00123):
        volts = dac(tarnelctl, word)
        reading = float(dmm.query("MEAS:VOLT:DC?"))
        expect(abs(reading - volts) < 20e-6, "MEAS:VOLT:DC? read %r, the DAC gives %r" % (reading, volts))
    dmm.write("*RST;:VOLT:NPLC 1;:SAMP:COUN 20")
    readings = dmm.query_ascii_values("READ?")
    expect(len(readings) == 20 and all(abs(r - volts) < 60e-6 for r in readings), "READ? of 20: %r" % readings)
    expect(dmm.query("SYST:ERR?") == '0,"No error"', "errors after a valid session")
    dmm.close()

    wrong = rm.open_resource(name, baud_rate=9600, read_termination="\n", write_termination="\n", timeout=1500)
    try:
        reply = wrong.query("*IDN?")
    except (pyvisa.errors.VisaIOError, UnicodeDecodeError):
        reply = None
    expect(reply is None or not reply.startswith("Velorn"), "a port at 9600 read the identity: %r" % reply)
    wrong.close()

    # The port is the meter's again at the right rate.
    dmm = rm.open_resource(name, baud_rate=BAUD, read_termination="\n", write_termination="\n", timeout=10000)
    expect(dmm.query("*OPC?") == "1", "the port does not work again after a client at the wrong rate")
    dmm.close()


class Adapter:
    """The "++" adapter on its serial device, spoken to line by line."""

    def __init__(self):
        self.port = serial.Serial(os.environ["TARNEL_METER_GPIB"], BAUD, timeout=1)

    def send(self, *lines):
        for line in lines:
            self.port.write(line.encode("ascii") + b"\n")

    def line(self):
        return self.port.readline().decode("ascii")

    def query(self, text, read="++read eoi"):
        self.send(text, read)
        return self.line().rstrip("\r\n")


def adapter(tarnelctl):
    """A script that drives the meter through the adapter: setup, identity, DC volts, a reading that
    outlasts the adapter's read timeout, the other addresses, read-after-write."""
    gpib = Adapter()
    gpib.send("++ver")
    version = gpib.line()
    expect(version.startswith("GPIB adapter emulated by board-emulator, version ") and version.endswith("\r\n"),
           "++ver answered %r" % version)
    gpib.send("++mode 1", "++addr 22", "++auto 0", "++eoi 1", "++eos 3", "++read_tmo_ms 200")
    gpib.send("++addr")
    expect(gpib.line() == "22\r\n", "++addr does not read back 22")
    identity = gpib.query("*IDN?").split(",")
    expect(identity[:2] == ["Velorn", "Tarnel Emulated DMM"], "*IDN? %r" % identity)
    volts = dac(tarnelctl, 0x2ABCD)
    reading = float(gpib.query("MEAS:VOLT:DC?"))
    expect(abs(reading - volts) < 20e-6, "MEAS:VOLT:DC? read %r, the DAC gives %r" % (reading, volts))

    # 200 readings at 100 NPLC with autozero: 800 ms at --meter-speed 1000, four read timeouts.
    gpib.send("VOLT:NPLC 100;:SAMP:COUN 200;:READ?")
    reply, asked, deadline = "", 0, time.monotonic() + 20
    while not reply.endswith("\n") and time.monotonic() < deadline:
        gpib.send("++read eoi")
        asked += 1
        reply += gpib.port.read_until(b"\n").decode("ascii")
    readings = [float(r) for r in reply.split(",")]
    expect(asked > 1, "the long reading came at the first ++read")
    expect(len(readings) == 200 and all(abs(r - volts) < 10e-6 for r in readings),
           "the long reading gave %d readings" % len(readings))

    gpib.send("++addr 9", "*IDN?", "++read eoi")
    expect(gpib.port.read(64) == b"", "something answered at address 9")
    gpib.send("++addr 22", "++auto 1", "*IDN?")
    expect(gpib.line().startswith("Velorn,"), "++auto 1 did not read after the query")
    gpib.send("++auto 0", "++nonsense")
    expect(gpib.line() == "Unrecognized command\r\n", "an unknown command was not answered as adapters do")


def main():
    scenario, tarnelctl = sys.argv[1], sys.argv[2]
    {"asrl": asrl, "adapter": adapter}[scenario](tarnelctl)
    return check.summary(scenario)


if __name__ == "__main__":
    sys.exit(main())
