#!/usr/bin/env python3
"""The USB meter of board-emulator --meter-usb, read by clients we did not write.

usage: usbtmc_clients_e2e.py SCENARIO TARNELCTL

Runs as board-emulator's COMMAND (started with --meter-usb and a large --meter-speed), finds the
meter's VISA resource in TARNEL_METER_USB and talks to it with PyVISA's pure-Python backend (pyusb
on libusb) or pymeasure on it; sets the DAC with tarnelctl, which reaches the emulated board on the
same bus.
"""
import os
import sys
import warnings

# pyvisa-py warns about the buses it cannot reach here (GPIB, serial ports it cannot list).
warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa  # noqa: E402
from pymeasure.instruments.hp import HP34401A  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from tarnel_e2e import Check, dac  # noqa: E402

IDENTITY = "Velorn,Tarnel Emulated DMM,"
check = Check()
expect = check.expect


def visa_options():
    return {"read_termination": "\n", "write_termination": "\n", "timeout": 10000}


def pyvisa_session(tarnelctl):
    """Plain PyVISA on pyvisa-py: the listing, the identity, a reading of the DAC, a reply over many
    transfers, and a read that times out (pyvisa-py then aborts the bulk-IN transfer) followed by
    queries that are answered as usual."""
    resource = os.environ["TARNEL_METER_USB"]
    expect(resource == "USB0::0x1209::0xB212::EMU0001::INSTR", "TARNEL_METER_USB is %r" % resource)
    rm = pyvisa.ResourceManager("@py")
    listed = rm.list_resources("USB?*")
    expect(any("EMU0001" in name for name in listed), "the meter is not listed: %r" % (listed,))
    dmm = rm.open_resource(resource, **visa_options())
    expect(dmm.query("*IDN?").startswith(IDENTITY), "*IDN? on USB")
    volts = dac(tarnelctl, 0x20000)
    reading = float(dmm.query("MEAS:VOLT:DC?"))
    expect(abs(reading - volts) < 20e-6, "MEAS:VOLT:DC? read %r, the DAC gives %r" % (reading, volts))

    volts = dac(tarnelctl, 0x30000)
    dmm.write("*RST;:SAMP:COUN 200")
    dmm.chunk_size = 100   # each REQUEST_DEV_DEP_MSG_IN asks for 100 bytes
    values = dmm.query_ascii_values("READ?")
    expect(len(values) == 200 and all(abs(v - volts) < 20e-6 for v in values),
           "READ? of 200 samples in 100-byte transfers: %d values" % len(values))
    dmm.chunk_size = 20 * 1024

    dmm.timeout = 300
    try:
        dmm.read()
        expect(False, "a read with nothing to answer returned")
    except pyvisa.errors.VisaIOError as error:
        expect(error.error_code == pyvisa.constants.StatusCode.error_timeout, "the read ended with %r" % error)
    dmm.timeout = 10000
    expect(dmm.query("*IDN?").startswith(IDENTITY), "*IDN? after a timed-out read")
    expect(dmm.query("SYST:ERR?") == '0,"No error"', "errors after the timed-out read")
    dmm.close()

    # Opened again (pyvisa-py resets the device on open): the meter keeps its settings.
    dmm = rm.open_resource(resource, **visa_options())
    expect(dmm.query("SAMP:COUN?") == "200", "the sample count did not survive a reset")
    dmm.close()


def drivers(tarnelctl):
    """pymeasure's DMM driver that measures with MEAS:VOLT:DC? DEF,DEF, over the USB resource."""
    volts = dac(tarnelctl, 0x12345)
    dmm = HP34401A(os.environ["TARNEL_METER_USB"], visa_library="@py", **visa_options())
    identity = dmm.id.split(",")
    expect(identity[:2] == ["Velorn", "Tarnel Emulated DMM"], "*IDN? %r" % identity)
    reading = dmm.voltage_dc
    expect(abs(reading - volts) < 20e-6, "MEAS:VOLT:DC? DEF,DEF read %r, the DAC gives %r" % (reading, volts))


def main():
    scenario, tarnelctl = sys.argv[1], sys.argv[2]
    {"pyvisa": pyvisa_session, "drivers": drivers}[scenario](tarnelctl)
    return check.summary(scenario)


if __name__ == "__main__":
    sys.exit(main())
