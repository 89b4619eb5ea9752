#!/usr/bin/env python3
"""A lab script's session with tarnelctl serve on the emulated board, through PyVISA and its
pure-Python backend, as a bench script drives any SCPI instrument on TCPIP0::host::port::SOCKET.

usage: scpi_pyvisa_session.py BOARD_EMULATOR TARNELCTL
"""
import subprocess
import sys
import warnings

# pyvisa-py warns about the buses it cannot reach here (USB, GPIB); TCP sockets need none of them.
warnings.filterwarnings("ignore", module="pyvisa_py")
import pyvisa  # noqa: E402

from scpi_server_run import READ_BACK_LSB, Check, Server  # noqa: E402

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
