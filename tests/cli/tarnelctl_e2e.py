#!/usr/bin/env python3
"""tarnelctl on the emulated board, through the real board-access libraries.

usage: tarnelctl_e2e.py SCENARIO BOARD_EMULATOR TARNELCTL

Each scenario runs tarnelctl under board-emulator as a script would and checks
its exit status, its stdout (text, JSON) and the files it writes (CSV, PNG).
"""
import csv
import json
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time

FULL_SCALE = 4.93
LSB_MV = FULL_SCALE / 4096 * 1000
HEADER = ["code", "input_word", "set_volts", "read_code", "read_volts", "error_mv", "seconds"]


class Check:
    def __init__(self, emulator, tarnelctl, work):
        self.emulator, self.tarnelctl, self.work = emulator, tarnelctl, work
        self.failures = 0

    def expect(self, condition, what):
        if not condition:
            print("FAIL:", what, file=sys.stderr)
            self.failures += 1

    def run(self, commands, emulator_options=()):
        """Runs tarnelctl commands one after another on one emulated board.
        Returns a list of (status, stdout, stderr), one per command."""
        script = "; ".join(
            '"$0" %s >"%s/out%d" 2>"%s/err%d"; echo $? >"%s/status%d"' % (c, self.work, i, self.work, i, self.work, i)
            for i, c in enumerate(commands))
        subprocess.run([self.emulator, *emulator_options, "--", "sh", "-c", script, self.tarnelctl], check=False)
        results = []
        for i in range(len(commands)):
            read = lambda name: open(os.path.join(self.work, "%s%d" % (name, i))).read()
            results.append((int(read("status")), read("out"), read("err")))
        return results

    def one_line_failure(self, result, status, says, command):
        code, _, err = result
        self.expect(code == status, "%s: exit %d, expected %d (stderr: %s)" % (command, code, status, err.strip()))
        lines = err.strip().splitlines()
        self.expect(len(lines) == 1 and says in lines[0] and lines[0].startswith("tarnelctl: "),
                    "%s: one stderr line saying %r, got %r" % (command, says, lines))

    def csv_rows(self, path):
        with open(path, newline="") as f:
            text = f.read()
        self.expect(text.endswith("\n"), "%s ends inside a row" % path)
        rows = list(csv.reader(text.splitlines()))
        self.expect(rows and rows[0] == HEADER, "%s header: %r" % (path, rows[:1]))
        for row in rows[1:]:
            self.expect(len(row) == len(HEADER) and all(row), "%s: incomplete row %r" % (path, row))
        return [dict(zip(HEADER, row)) for row in rows[1:]]


def round_trip(c):
    """A code written by one invocation is read back by the next, with both libraries; the firmware
    is loaded by the first invocation only."""
    for library in ("newer", "older"):
        results = c.run(["--library %s --json code 20000" % library, "--library %s read" % library,
                         "--library %s --json read --avg 3" % library, "--library %s --json volts 2500mV" % library])
        (s1, o1, _), (s2, o2, _), (s3, o3, _), (s4, o4, _) = results
        c.expect((s1, s2, s3, s4) == (0, 0, 0, 0), "%s: exit statuses %r" % (library, (s1, s2, s3, s4)))
        written = json.loads(o1)
        c.expect(written["input_word"] == "0x080000" and written["firmware_loaded"], "%s: code: %s" % (library, o1))
        c.expect(o2 == "code 2048  volts 2.465\n", "%s: read printed %r" % (library, o2))
        reading = json.loads(o3)
        c.expect(reading == {"code": 2048, "volts": 2.465, "reads": 3, "firmware_loaded": False},
                 "%s: read --json: %s" % (library, o3))
        volts = json.loads(o4)
        c.expect(volts["requested_volts"] == 2.5 and volts["word"] == "20745" and abs(volts["set_volts"] - 2.5) < 1e-5,
                 "%s: volts --json: %s" % (library, o4))


def sweep(c):
    """0..3FFFF in 65 points: 65 rows within one read-back LSB, a monotonic line, a PNG of 1200 x 900."""
    path, plot = os.path.join(c.work, "sweep.csv"), os.path.join(c.work, "sweep.png")
    (status, out, err), = c.run(["--json sweep --from 0 --to 3FFFF --points 65 --csv %s --plot %s" % (path, plot)])
    c.expect(status == 0 and err == "", "sweep: exit %d, stderr %r" % (status, err))
    rows = c.csv_rows(path)
    c.expect(len(rows) == 65, "sweep: %d rows" % len(rows))
    c.expect(rows[0]["code"] == "0" and rows[-1]["code"] == str(0x3FFFF), "sweep: ends %r" % [rows[0], rows[-1]])
    for row in rows:
        c.expect(abs(float(row["error_mv"])) <= LSB_MV, "sweep: error beyond 1 LSB: %r" % row)
        expected = float(row["read_code"]) / 4096 * FULL_SCALE
        c.expect(abs(float(row["read_volts"]) - expected) <= 0.0005 + 1e-9, "sweep: read_volts: %r" % row)
    summary = json.loads(out)
    linearity = summary["linearity"]
    c.expect(summary["completed"] and summary["points"] == 65 and "rows" not in summary, "sweep: %s" % out)
    c.expect(linearity["monotonic"] and linearity["points"] == 65, "sweep: linearity %r" % linearity)
    c.expect(linearity["max_deviation_lsb"] <= 1.0, "sweep: deviation %r" % linearity)
    with open(plot, "rb") as f:
        head = f.read(24)
    c.expect(head[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", head[16:24]) == (1200, 900),
             "sweep: plot is not a 1200 x 900 PNG: %r" % head)


def power_down(c):
    """Each power-down mode reads 0 V, whatever the word; --json sweep without --csv carries its rows."""
    for mode in ("1k", "100k", "hiz"):
        (s1, _, _), (s2, o2, _) = c.run(["code 3FFFF --mode %s" % mode, "read"])
        c.expect(s1 == 0 and o2 == "code 0  volts 0\n", "%s: read %r" % (mode, o2))
    (status, out, _), = c.run(["--json sweep --from 0 --to 3FFFF --points 5 --mode hiz"])
    rows = json.loads(out)["rows"]
    c.expect(status == 0 and [r["read_code"] for r in rows] == [0] * 5, "hiz sweep: %s" % out)
    c.expect([r["input_word"][:3] for r in rows] == ["0x3"] * 5, "hiz sweep words: %s" % out)


def refusals(c):
    """Values out of range and above --vmax are refused with exit 4 and write nothing; bad usage is exit 2."""
    results = c.run(["code 20000", "--vmax 1 code 3FFFF", "--vmax 2.4 volts 2.5", "volts 5V", "code 40000",
                     "--vmax 1 sweep --from 0 --to 3FFFF --points 3 --csv %s/refused.csv" % c.work,
                     "code", "read"])
    c.expect(results[0][0] == 0, "code 20000 failed")
    for result, says, command in zip(results[1:6], ["above --vmax", "above --vmax", "full scale", "largest word",
                                                     "above --vmax"], ["vmax code", "vmax volts", "volts 5V",
                                                                       "code 40000", "vmax sweep"]):
        c.one_line_failure(result, 4, says, command)
    c.one_line_failure(results[6], 2, "code needs a data word", "code without a word")
    c.expect(results[7][1] == "code 2048  volts 2.465\n", "a refusal changed the output: %r" % results[7][1])
    c.expect(not os.path.exists(os.path.join(c.work, "refused.csv")), "a refused sweep wrote its CSV")


def unreachable(c):
    """No board: exit 3 with the library's reason; the older library reaches board 0 only."""
    results = c.run(["read", "--library older code 1", "--json scan"], ["--no-board"])
    for result, command in zip(results, ["read", "older code", "scan"]):
        c.one_line_failure(result, 3, "no board", command)
    c.expect(results[2][1] == "[]\n", "scan --json without boards printed %r" % results[2][1])
    c.one_line_failure(c.run(["--library older --board 1 read"])[0], 2, "board 0 only", "older --board 1")
    (status, out, err), = c.run(["read"], ["--stall", "0xA0"])
    c.one_line_failure((status, out, err), 3, "cannot load the firmware", "firmware refused")


def unplugged(c):
    """The board leaves mid-sweep: exit 5, the reason, and a valid CSV of the rows done."""
    path = os.path.join(c.work, "unplugged.csv")
    # One probe read, then a write and a read per point: the board goes after point 10.
    (status, out, err), = c.run(["sweep --from 0 --to 3FFFF --points 65 --csv %s" % path], ["--unplug-after", "21"])
    c.one_line_failure((status, out, err), 5, "disconnected", "unplugged sweep")
    c.expect("10 of 65 points done" in err, "unplugged sweep: %r" % err)
    c.expect(len(c.csv_rows(path)) == 10, "unplugged sweep: %d rows" % len(c.csv_rows(path)))


def interrupted(c):
    """SIGINT mid-sweep: the current point finishes, exit 130, a valid CSV of the rows done."""
    path = os.path.join(c.work, "interrupted.csv")
    process = subprocess.Popen([c.emulator, "--", c.tarnelctl, "sweep", "--from", "0", "--to", "3FFFF",
                                "--points", "200", "--settle", "20", "--csv", path],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if os.path.exists(path) and open(path).read().count("\n") >= 4:
            break
        time.sleep(0.02)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=60)
    c.one_line_failure((process.returncode, out, err), 130, "sweep interrupted", "interrupted sweep")
    rows = c.csv_rows(path)
    c.expect(3 <= len(rows) < 200, "interrupted sweep: %d rows" % len(rows))
    c.expect("points          %d" % len(rows) in out, "interrupted sweep: summary %r" % out)


def boards(c):
    """Several emulated boards: scan lists them, --board picks one, each keeps its own output."""
    results = c.run(["--json scan", "--board 1 code 3FFFF", "--board 0 read", "--board 1 read", "scan",
                     "--board 2 read"], ["--boards", "2"])
    scanned = json.loads(results[0][1])
    c.expect([b["board"] for b in scanned] == [0, 1] and not any(b["firmware_running"] for b in scanned),
             "scan: %s" % results[0][1])
    c.expect(results[2][1] == "code 0  volts 0\n", "board 0 read %r" % results[2][1])
    c.expect(results[3][1] == "code 4095  volts 4.929\n", "board 1 read %r" % results[3][1])
    c.expect(results[4][1] == "board 0  firmware running\nboard 1  firmware running\n", "scan: %r" % results[4][1])
    c.one_line_failure(results[5], 3, "there is no board 2", "--board 2")


SCENARIOS = {f.__name__: f for f in (round_trip, sweep, power_down, refusals, unreachable, unplugged, interrupted,
                                     boards)}

if __name__ == "__main__":
    scenario, emulator, tarnelctl = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        check = Check(emulator, tarnelctl, work)
        SCENARIOS[scenario](check)
    print("%s: %s" % (scenario, "ok" if check.failures == 0 else "%d failure(s)" % check.failures))
    sys.exit(1 if check.failures else 0)
