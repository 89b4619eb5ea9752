#!/usr/bin/env python3
"""The emulated bench meter of board-emulator --meter, read by clients we did not write.

usage: meter_clients_e2e.py SCENARIO TARNELCTL [BOARD_EMULATOR]

Scenarios drivers, pyvisa, concurrent and settling run as board-emulator's COMMAND (started with --meter
and a large --meter-speed) and find the meter in TARNEL_METER_ADDRESS; they set the DAC with
tarnelctl, which reaches the same emulated board. Scenario shutdown starts board-emulator itself.
"""
import logging
import math
import os
import subprocess
import sys
import time
import warnings

# pyvisa-py warns about the buses it cannot reach here (USB, GPIB); TCP sockets need none of them.
warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa  # noqa: E402
from pymeasure.adapters import VISAAdapter  # noqa: E402
from pymeasure.instruments.hp import HP34401A  # noqa: E402
from pymeasure.instruments.keithley import Keithley2000  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from tarnel_e2e import Check, LineClient, dac, free_port  # noqa: E402

OVER_RANGE = 9.9e37
check = Check()
expect = check.expect


def resource_name():
    host, port = os.environ["TARNEL_METER_ADDRESS"].rsplit(":", 1)
    return "TCPIP0::%s::%s::SOCKET" % (host, port)


def visa_options():
    return {"visa_library": "@py", "read_termination": "\n", "write_termination": "\n", "timeout": 10000}


def meter_client(timeout_s=30):
    """One plain TCP client of the meter at TARNEL_METER_ADDRESS."""
    host, port = os.environ["TARNEL_METER_ADDRESS"].rsplit(":", 1)
    return LineClient(int(port), host, timeout_s)


def wait_for(client, query, reply, within_s=30):
    """Whether the query answers reply within the time, asked again and again."""
    deadline = time.monotonic() + within_s
    while client.query(query) != reply:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def drivers(tarnelctl):
    """pymeasure's DMM drivers: the one that measures with MEAS:VOLT:DC? DEF,DEF, and the one that
    configures with :CONF:VOLT:DC, :SENS:VOLT:RANG, :SENS:VOLT:NPLC and reads with :READ?."""
    volts = dac(tarnelctl, 0x20000)
    dmm = HP34401A(resource_name(), **visa_options())
    identity = dmm.id.split(",")
    expect(len(identity) == 4 and identity[:2] == ["Velorn", "Tarnel Emulated DMM"], "*IDN? %r" % identity)
    reading = dmm.voltage_dc
    expect(abs(reading - volts) < 20e-6, "MEAS:VOLT:DC? DEF,DEF read %r, the DAC gives %r" % (reading, volts))
    volts = dac(tarnelctl, 0x3FFFF)
    reading = dmm.voltage_dc
    expect(abs(reading - volts) < 20e-6, "full scale read %r, the DAC gives %r" % (reading, volts))

    # Debian's pymeasure 0.9 has this driver call a config() that its VISAAdapter lacks; what it
    # asks for (ASCII values separated by ',') is what PyVISA does anyway.
    adapter = VISAAdapter(resource_name(), **visa_options())
    adapter.config = lambda **settings: None
    meter = Keithley2000(adapter)
    logged = []
    handler = logging.Handler()
    handler.emit = lambda record: logged.append(record.getMessage())
    logging.getLogger("pymeasure.instruments.keithley.keithley2000").addHandler(handler)

    meter.mode = "voltage"
    meter.voltage_range = 1
    expect(meter.voltage == OVER_RANGE, "4.93 V on the 1 V range is not over range")
    meter.voltage_range = 10
    meter.voltage_nplc = 1
    expect(meter.voltage_range == 10, "range read back %r" % meter.voltage_range)
    reading = meter.voltage
    expect(abs(reading - volts) < 40e-6, ":READ? read %r at NPLC 1, the DAC gives %r" % (reading, volts))
    meter.check_errors()
    expect(logged == [], "errors after a valid configuration: %r" % logged)
    meter.write(":SENS:VOLT:DIG 6")   # a command this meter does not have
    meter.check_errors()
    expect(len(logged) == 1 and "-113" in logged[0], "an unknown command was not -113: %r" % logged)


def pyvisa_session(tarnelctl):
    """A bench script on plain PyVISA: configuration, several samples, the bus trigger, the errors."""
    rm = pyvisa.ResourceManager("@py")
    dmm = rm.open_resource(resource_name(), read_termination="\n", write_termination="\n", timeout=10000)
    volts = dac(tarnelctl, 0x12345)
    dmm.write("*RST;*CLS")
    dmm.write(":conf:volt:dc 10,MIN;:sens:volt:zero:auto ONCE")
    expect(dmm.query("CONF?") == '"VOLT +1.00000000E+01,+3.00000000E-06"', "CONF? %r" % dmm.query("CONF?"))
    expect(float(dmm.query("VOLT:NPLC?")) == 100, "CONF resolution MIN is not 100 NPLC")
    dmm.write("VOLT:NPLC 10;:SAMP:COUN 5")
    replies = dmm.query("READ?").split(",")
    expect(len(replies) == 5 and all(len(r) == 15 and r[0] in "+-" and r[11] == "E" for r in replies),
           "READ? of 5 samples: %r" % replies)
    expect(all(abs(float(r) - volts) < 10e-6 for r in replies), "samples %r, the DAC gives %r" % (replies, volts))
    expect(dmm.query("FETC?").split(",") == replies, "FETC? does not repeat the readings")

    dmm.write("SAMP:COUN 1;:TRIG:SOUR BUS;:TRIG:COUN 2;:INIT")
    # *OPC? after each trigger: a write may sit in the client's socket (Nagle) while the DAC changes; the
    # answer says the meter has taken the trigger and its reading.
    first = dac(tarnelctl, 0x10000)
    dmm.write("*TRG")
    expect(dmm.query("*OPC?") == "1", "*OPC? after the first bus trigger")
    second = dac(tarnelctl, 0x30000, "1k")
    dmm.write("*TRG")
    expect(dmm.query("*OPC?") == "1", "*OPC? after the second bus trigger")
    pair = [float(v) for v in dmm.query("FETC?").split(",")]
    expect(abs(pair[0] - first) < 10e-6 and abs(pair[1] - second) < 10e-6,
           "bus triggers read %r, the DAC gave %r then %r (powered down)" % (pair, first, second))

    # Readings that cannot come are errors, never a wait; everything else unknown is -113.
    for message, code in (("READ?", "-214"), ("INIT;:FETC?", "-214"), ("*RST;:FETC?", "-230"),
                          ("*TRG", "-211"), ("MEAS:VOLT:AC?", "-113"), ("VOLT:RANG 2000", "-222"),
                          ('FUNC "CURR"', "-224"), ("SAMP:COUN 0", "-222"), ("TRIG:SOUR EXT", "-224")):
        dmm.write(message)
        error = dmm.query("SYST:ERR?")
        expect(error.startswith(code + ","), "%s queued %r, not %s" % (message, error, code))
    expect(dmm.query("SYST:ERR?") == '0,"No error"', "more errors than expected")

    volts = dac(tarnelctl, 0x20000)
    dmm.write("*RST")
    reply = dmm.query(":Func 'volt:dc';:FUNC?;:syst:lfr?;*OPC?;:MEAS:VOLT? 1;:SYST:ERR?")
    expect(reply == '"VOLT";50;1;+9.90000000E+37;0,"No error"', "joined queries answered %r" % reply)
    values = dmm.query_ascii_values("MEAS:VOLT? 10,MAX")
    expect(len(values) == 1 and abs(values[0] - volts) < 400e-6, "MEAS:VOLT? 10,MAX read %r" % values)
    dmm.close()


def concurrent(tarnelctl):
    """A slow reading holds up only its own client: another client, tarnelctl on the USB board,
    and a client that leaves in the middle of its own reading change nothing for it."""
    volts = dac(tarnelctl, 0x20000)
    slow = meter_client()
    # 3000 readings at 100 NPLC with autozero: 12000 s of meter time, 12 s at --meter-speed 1000.
    slow.send("CONF:VOLT 10;:VOLT:NPLC 100;:SAMP:COUN 3000;:READ?\n")
    leaving = meter_client()
    leaving.send("READ?\n")
    leaving.socket.close()
    other = meter_client()
    expect(other.query("*IDN?").startswith("Velorn,Tarnel Emulated DMM,"), "a second client is not served")
    expect(wait_for(other, "STAT:OPER:COND?", "16"), "the meter does not show that it measures")
    dac(tarnelctl, 0x10000)   # USB requests to the emulated board meanwhile
    slow.socket.setblocking(False)
    try:
        early = slow.socket.recv(1)
    except BlockingIOError:
        early = None
    expect(early is None, "the slow reading was done before the other work: it did not show that they ran beside it")
    slow.socket.setblocking(True)
    readings = slow.line().split(",")
    # The DAC was set while the reading ran, after its trigger.
    expect(len(readings) == 3000 and all(abs(float(r) - volts) < 10e-6 for r in readings),
           "the slow reading gave %d readings, not 3000 of %r" % (len(readings), volts))
    expect(other.query("STAT:OPER:COND?") == "0", "the meter still shows that it measures")

    # Eight clients at once (slow and other among them); a ninth is closed at once.
    more = [meter_client() for _ in range(6)]
    expect(all(c.query("*OPC?") == "1" for c in more), "eight clients at once are not all served")
    expect(meter_client().line() == "", "a ninth client was not closed")


def settling(tarnelctl):
    """A DAC whose output settles with tau = 3 s of bench time (the profile tests/emulator/dac_errors/
    settling.txt, at --meter-speed 10): a reading whose aperture starts one tau after a full-scale
    step is well short of the new output, one fifteen tau after it is not."""
    client = meter_client()
    # NPLC 1 without autozero: a 20 ms aperture, short beside tau.
    client.send("CONF:VOLT 10;:VOLT:NPLC 1;:VOLT:ZERO:AUTO OFF;:TRIG:DEL 3\n")
    volts = dac(tarnelctl, 0x3FFFF)
    soon = float(client.query("READ?"))
    # The aperture starts at least one tau after the write (later by the time the READ? took to come).
    expect(1e-3 < volts - soon <= volts * math.exp(-1) + 20e-6,
           "one tau after the step the meter read %r of the %r V it goes to" % (soon, volts))
    client.send("TRIG:DEL 45\n")
    late = float(client.query("READ?"))
    expect(abs(late - volts) < 20e-6, "fifteen tau after the step the meter read %r, not %r" % (late, volts))
    expect(client.query("SYST:ERR?") == '0,"No error"', "the meter queued an error")


def shutdown(tarnelctl, emulator):
    """The emulator ends with its command even while a client waits for an hour-long reading."""
    port = free_port()
    process = subprocess.Popen([emulator, "--meter", str(port), "--", "cat"],
                               stdin=subprocess.PIPE)
    os.environ["TARNEL_METER_ADDRESS"] = "127.0.0.1:%d" % port
    deadline = time.monotonic() + 30
    client = None
    while client is None and time.monotonic() < deadline:
        try:
            client = meter_client()
        except OSError:
            time.sleep(0.05)
    expect(client is not None, "the meter did not accept within 30 s")
    if client is None:
        process.kill()
        return
    client.send("VOLT:NPLC 100;:SAMP:COUN 1000;:READ?\n")
    expect(wait_for(meter_client(), "STAT:OPER:COND?", "16"), "the meter does not show that it measures")
    process.stdin.close()   # the command ends while the reading runs
    started = time.monotonic()
    try:
        status = process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        status = "hung"
    expect(status == 0, "board-emulator ended with %r, not the command's 0" % status)
    expect(time.monotonic() - started < 15, "board-emulator took %.1f s to end" % (time.monotonic() - started))
    # Its reading may end as not-a-number before the connection closes.
    last = client.line()
    if last == "9.91E+37":
        last = client.line()
    expect(last == "", "the waiting client was not disconnected: %r" % last)


def main():
    scenario, tarnelctl = sys.argv[1], sys.argv[2]
    if scenario == "shutdown":
        shutdown(tarnelctl, sys.argv[3])
    else:
        {"drivers": drivers, "pyvisa": pyvisa_session, "concurrent": concurrent,
         "settling": settling}[scenario](tarnelctl)
    return check.summary(scenario)


if __name__ == "__main__":
    sys.exit(main())
