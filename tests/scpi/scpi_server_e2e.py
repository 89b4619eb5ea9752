#!/usr/bin/env python3
"""tarnelctl serve on the emulated board under load and faults, through plain sockets.

usage: scpi_server_e2e.py SCENARIO BOARD_EMULATOR TARNELCTL
"""
import os
import random
import signal
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
from scpi_server_run import DAC_STEP, NOT_A_NUMBER, READ_BACK_LSB, Server, dac_volts  # noqa: E402
from tarnel_e2e import Check, LineClient  # noqa: E402

PAIRS = 200
CLIENTS = 8


def set_and_measure(c, client, name, seed, pairs=PAIRS):
    """Sends every pair at once, then checks each reply, in order, against its own level."""
    levels = [0.1 + 4.7 * ((i * 37 + seed * 101) % 997) / 997 for i in range(pairs)]
    client.send("".join("VOLT %.6f;:MEAS?\n" % v for v in levels))
    for i, volts in enumerate(levels):
        reply = client.line()
        ok = reply not in ("", NOT_A_NUMBER) and abs(float(reply) - dac_volts(volts)) <= 2 * READ_BACK_LSB
        c.expect(ok, "%s pair %d: %.6f V read back as %r" % (name, i, volts, reply))
        if not ok:
            return


def load(c, emulator, tarnelctl):
    """Eight clients at once, each with its own pairs; a ninth is refused meanwhile; a client that
    leaves in the middle of a query changes nothing for the others; its place is free again."""
    server = Server(emulator, tarnelctl)
    clients = [server.first_client()] + [LineClient(server.port) for _ in range(CLIENTS - 1)]
    for i, client in enumerate(clients):
        c.expect(client.query("*OPC?") == "1", "client %d not served" % i)
    ninth = LineClient(server.port)
    c.expect(ninth.line() == "", "a ninth client was not closed at once")
    c.expect(server.said("refused the client"), "no line on the refused client")

    threads = [threading.Thread(target=set_and_measure, args=(c, client, "client %d" % i, i))
               for i, client in enumerate(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    # A slow query (1024 reads), and the client gone before it is answered.
    leaving = clients.pop()
    leaving.send("AVER:COUN 1024;:MEAS?;:AVER:COUN 1\n")
    leaving.close()
    for i, client in enumerate(clients):
        c.expect(client.query("*IDN?").startswith("Velorn,Tarnel Evaluation Board,0,"), "client %d after a leave" % i)
    clients.append(LineClient(server.port))
    set_and_measure(c, clients[-1], "the client in the freed place", 8, 20)
    for client in clients:
        client.close()
    c.expect(server.stop() == 0, "SIGTERM did not end the server with 0")


def garbage(c, emulator, tarnelctl):
    """1 MiB of random bytes and a line of 100 KiB on one connection: the server keeps serving the
    other client, and the flooded connection is usable afterwards."""
    server = Server(emulator, tarnelctl)
    flooded, other = server.first_client(), None
    other = LineClient(server.port)
    noise = random.Random(10).randbytes(1 << 20)

    def flood():
        flooded.send(noise)
        flooded.send("\n*CLS\n" + "A" * (100 * 1024) + "\n")

    thread = threading.Thread(target=flood)
    thread.start()
    set_and_measure(c, other, "the other client", 9, 50)
    thread.join()
    c.expect(flooded.query("SYST:ERR?").startswith('-363,"Input buffer overrun'), "no -363 for the long line")
    c.expect(flooded.query("SYST:ERR?") == '0,"No error"', "errors after the -363")
    c.expect(flooded.query("*IDN?").startswith("Velorn,"), "the flooded connection is not usable")
    c.expect(server.process.poll() is None, "the server ended")
    c.expect(server.stop() == 0, "SIGTERM did not end the server with 0")


def unplugged(c, emulator, tarnelctl):
    """The board leaves: -241 and the not-a-number reply, and the server goes on answering."""
    server = Server(emulator, tarnelctl, ["--unplug-after", "6"])
    client = server.first_client()
    client.send("VOLT 1\n")
    replies = [client.query("MEAS?") for _ in range(10)]
    c.expect(abs(float(replies[0]) - 1.0) <= 2 * READ_BACK_LSB, "before the unplug: %r" % replies)
    c.expect(replies[-1] == NOT_A_NUMBER, "after the unplug: %r" % replies)
    c.expect(client.query("SYST:ERR?").startswith('-241,"Hardware missing;'), "no -241")
    level = client.query("VOLT?")
    c.expect(level not in ("", NOT_A_NUMBER) and abs(float(level) - dac_volts(1.0)) < DAC_STEP / 2,
             "settings are still answered: %r" % level)
    c.expect(client.query("*TST?") == "1", "the self-test passed without a board")
    c.expect(server.said("board 1-1 lost"), "no line on the lost board (named by its port path)")
    c.expect(server.stop(signal.SIGINT) == 0, "SIGINT did not end the server with 0")


def signalled(c, emulator, tarnelctl):
    """SIGTERM while a read-back waits for its timeout: the request finishes, its reply goes out,
    and the server ends with 0."""
    server = Server(emulator, tarnelctl, ["--timeout", "0xDA"])
    client = server.first_client()
    # Both lines go to the worker at once; the reply to the first says it has moved on to MEAS?.
    client.send("*OPC?\nMEAS?\n")
    c.expect(client.line() == "1", "*OPC? before the read-back was not answered")
    c.expect(server.stop() == 0, "SIGTERM did not end the server with 0")
    c.expect(client.line() == NOT_A_NUMBER, "the request in progress was not answered")
    c.expect(client.line() == "", "the connection was not closed")


SCENARIOS = {f.__name__: f for f in (load, garbage, unplugged, signalled)}

if __name__ == "__main__":
    scenario, emulator, tarnelctl = sys.argv[1:4]
    check = Check()
    SCENARIOS[scenario](check, emulator, tarnelctl)
    print("%s: %s" % (scenario, "ok" if check.failures == 0 else "%d failure(s)" % check.failures))
    sys.exit(1 if check.failures else 0)
