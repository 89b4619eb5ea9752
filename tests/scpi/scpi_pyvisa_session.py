#!/usr/bin/env python3
"""A lab script's session with tarnelctl serve on the emulated board, through PyVISA and its
pure-Python backend, as a bench script drives any SCPI instrument on TCPIP0::host::port::SOCKET.

usage: scpi_pyvisa_session.py BOARD_EMULATOR TARNELCTL
"""
import os
import subprocess
import sys
import warnings

# pyvisa-py warns about the buses it cannot reach here (USB, GPIB); TCP sockets need none of them.
warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from scpi_server_run import READ_BACK_LSB, Server  # noqa: E402
from tarnel_e2e import Check  # noqa: E402

check = Check()
expect = check.expect


def session(instrument, version):
    fields = instrument.query("*IDN?").split(",")
    expect(fields == ["Velorn", "Tarnel Evaluation Board", "0", version], "*IDN? %r" % fields)

    instrument.write("VOLT 2.465")
    instrument.write("OUTP ON")
    measured = float(instrument.query("MEAS?"))
    expect(abs(measured - 2.465) <= 2 * READ_BACK_LSB, "MEAS? %r after VOLT 2.465" % measured)

    instrument.write("VOLT:LIM 3")
    instrument.write("VOLT 3.5")
    expect(instrument.query("SYST:ERR?").startswith('-222,"Data out of range'), "the limit did not queue -222")
    expect(abs(float(instrument.query("VOLT?")) - 2.465) < 1e-4, "a refused level was set")

    for mode in ("HIZ", "R1K", "R100K"):
        instrument.write("OUTP:OFF:MODE %s;:OUTP OFF" % mode)
        expect(float(instrument.query("MEAS?")) == 0.0, "OUTP OFF in %s does not read 0" % mode)
        instrument.write("OUTP ON")
        expect(float(instrument.query("MEAS?")) > 2.4, "OUTP ON after %s" % mode)

    # What DMM-style drivers send: the optional range and resolution.
    for query in ("MEAS:VOLT:DC? DEF,DEF", "MEAS? 10,0.001", "MEAS:VOLT? AUTO,MAX"):
        reply = instrument.query(query)
        expect(abs(float(reply) - 2.465) <= 2 * READ_BACK_LSB, "%s answered %r" % (query, reply))

    # The STATus subsystem: a level refused by the limit is a QUEStionable voltage event, summed
    # up into bit 3 of the status byte; STAT:PRES clears the enables, *CLS the events.
    instrument.write("*CLS;:STAT:PRES;:STAT:QUES:ENAB 1")
    expect(instrument.query("STAT:OPER:EVEN?;COND?;ENAB?") == "0;0;0", "STAT:OPER")
    instrument.write("VOLT 3.5")
    expect(int(instrument.query("*STB?")) & 8 == 8, "no QUES summary after a refused level")
    expect(instrument.query("STAT:QUES:EVEN?;COND?;ENAB?") == "1;0;1", "STAT:QUES")
    expect(instrument.query("SYST:ERR:COUN?") == "1", "the refusal was not queued")
    expect(instrument.query("SYST:ERR:ALL?").startswith('-222,"Data out of range'), "SYST:ERR:ALL?")
    instrument.write("STAT:PRES")
    expect(instrument.query("STAT:QUES:ENAB?") == "0", "STAT:PRES left the enable")

    # A level and a limit of the same number agree; the level reads back at a DAC step's digits.
    instrument.write("VOLT 3;:VOLT:LIM 3;:VOLT 3")
    expect(instrument.query("VOLT?;:SYST:ERR?") == '3.00001E+00;0,"No error"', "VOLT 3 under VOLT:LIM 3")

    instrument.write("MEASU?")
    errors = [instrument.query("SYST:ERR?") for _ in range(11)]
    expect(errors[0].startswith('-113,"Undefined header'), "errors %r" % errors)
    expect(errors[-1] == '0,"No error"' and len(set(errors[1:])) == 1, "the queue did not drain: %r" % errors)


def main():
    emulator, tarnelctl = sys.argv[1:3]
    version = subprocess.run([tarnelctl, "--version"], capture_output=True, text=True).stdout.split()[-1]
    server = Server(emulator, tarnelctl)
    server.first_client().close()
    manager = pyvisa.ResourceManager("@py")
    instrument = manager.open_resource("TCPIP0::127.0.0.1::%d::SOCKET" % server.port,
                                       read_termination="\n", write_termination="\n", timeout=20000)
    try:
        session(instrument, version)
    finally:
        instrument.close()
        manager.close()
        status = server.stop()
    expect(status == 0, "SIGTERM ended the server with %r, not 0" % status)
    print("pyvisa session: %s" % ("ok" if check.failures == 0 else "%d failure(s)" % check.failures))
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
