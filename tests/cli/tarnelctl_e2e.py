#!/usr/bin/env python3
"""tarnelctl on the emulated board, through the real board-access libraries.

usage: tarnelctl_e2e.py SCENARIO BOARD_EMULATOR TARNELCTL

Each scenario runs tarnelctl under board-emulator as a script would and checks
its exit status, its stdout (text, JSON) and the files it writes (CSV, PNG, SVG,
PDF).
"""
import csv
import json
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time

import plot_check   # beside this script

FULL_SCALE = 4.93
LSB_MV = FULL_SCALE / 4096 * 1000
HEADER = ["code", "input_word", "set_volts", "read_code", "read_volts", "error_mv", "seconds", "read_code_std",
          "read_code_min", "read_code_max"]
READ_LOG_HEADER = ["timestamp", "seconds", "code", "volts", "reads", "code_std", "code_min", "code_max"]


class Check:
    def __init__(self, emulator, tarnelctl, work):
        self.emulator, self.tarnelctl, self.work = emulator, tarnelctl, work
        self.failures = 0

    def expect(self, condition, what):
        if not condition:
            print("FAIL:", what, file=sys.stderr)
            self.failures += 1
        return condition

    def run(self, commands, emulator_options=(), timeout=None):
        """Runs tarnelctl commands one after another on one emulated board.
        Returns a list of (status, stdout, stderr), one per command."""
        script = "; ".join(
            '"$0" %s >"%s/out%d" 2>"%s/err%d"; echo $? >"%s/status%d"' % (c, self.work, i, self.work, i, self.work, i)
            for i, c in enumerate(commands))
        subprocess.run([self.emulator, *emulator_options, "--", "sh", "-c", script, self.tarnelctl], check=False,
                       timeout=timeout)
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

    def csv_rows(self, path, header=HEADER):
        with open(path, newline="") as f:
            return self.csv_text_rows(f.read(), path, header)

    def csv_text_rows(self, text, where, header=HEADER):
        self.expect(text.endswith("\n"), "%s ends inside a row" % where)
        rows = list(csv.reader(text.splitlines()))
        self.expect(rows and rows[0] == header, "%s header: %r" % (where, rows[:1]))
        for row in rows[1:]:
            self.expect(len(row) == len(header) and all(row), "%s: incomplete row %r" % (where, row))
        return [dict(zip(header, row)) for row in rows[1:]]

    def wait_for_lines(self, path, lines):
        """Waits (bounded) until the file at path has that many lines."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if os.path.exists(path) and open(path).read().count("\n") >= lines:
                return
            time.sleep(0.02)
        self.expect(False, "%s never reached %d lines" % (path, lines))


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
        c.expect(reading == {"code": 2048, "volts": 2.465, "reads": 3, "code_std": 0, "code_min": 2048, "code_max": 2048,
                             "firmware_loaded": False},
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
    c.wait_for_lines(path, 4)
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
    c.expect(results[4][1] == "board 0  port %s  firmware running\nboard 1  port %s  firmware running\n"
             % (scanned[0]["path"], scanned[1]["path"]), "scan: %r" % results[4][1])
    c.one_line_failure(results[5], 3, "there is no board 2", "--board 2")


def ports(c):
    """Three emulated boards on three ports: scan names each port once, --board PATH drives the board there
    whatever its number, and a path with no board is refused as a missing board."""
    (status, out, _), = c.run(["--json scan"], ["--boards", "3"])
    paths = [b["path"] for b in json.loads(out)]
    c.expect(status == 0 and sorted(paths) == ["1-1", "1-2", "1-3"], "scan paths: %r" % out)
    # Each case: the commands, then what the last one prints or how it fails.
    cases = [
        (["--board %s code 3FFFF" % paths[2], "--board 2 read"], "code 4095  volts 4.929\n"),
        (["--board 1 code 3FFFF", "--board %s read" % paths[1]], "code 4095  volts 4.929\n"),
        (["--board %s code 3FFFF" % paths[0], "--board %s read" % paths[1]], "code 0  volts 0\n"),
        # The older library reaches board 0 only, so only board 0's port.
        (["--board %s code 3FFFF" % paths[0], "--library older --board %s read" % paths[0]], "code 4095  volts 4.929\n"),
        (["--library older --board %s read" % paths[1]], (3, "no board at USB port %s" % paths[1])),
        (["--board 1-9 read"], (3, "no board at USB port 1-9")),
        (["--board 2-1 scan"], "port %s" % paths[0]),
    ]
    for commands, expected in cases:
        status, out, err = c.run(commands, ["--boards", "3"])[-1]
        if isinstance(expected, tuple):
            c.one_line_failure((status, out, err), expected[0], expected[1], commands[-1])
            c.expect("tarnelctl scan" in err, "%s: the refusal names scan: %r" % (commands[-1], err))
        else:
            c.expect(status == 0 and expected in out, "%s: exit %d, %r %r" % (commands, status, out, err))


def plot_formats(c):
    """--plot writes SVG and PDF as vectors, their ticks round (values) and hex (codes), a zoomed range on hex steps
    of its own, under a heading naming the board and the SOURCE_DATE_EPOCH date; any other extension is a usage
    error before the board is touched."""
    os.environ["SOURCE_DATE_EPOCH"] = "1765000000"
    svg, pdf = os.path.join(c.work, "sweep.svg"), os.path.join(c.work, "zoomed.PDF")
    results = c.run(["sweep --from 0 --to 3FFFF --points 65 --plot %s" % svg,
                     "sweep --from 1F000 --to 21000 --points 33 --plot %s" % pdf,
                     "code 20000", "sweep --from 0 --to 3FFFF --points 9 --plot %s/sweep.jpg" % c.work, "read"])
    c.expect([r[0] for r in results[:3]] == [0, 0, 0], "plot formats: exits %r" % [r[:1] for r in results])
    c.one_line_failure(results[3], 2, "end it in .png, .svg or .pdf", ".jpg plot")
    c.expect(results[4][1] == "code 2048  volts 2.465\n", "a refused .jpg plot let the sweep run: %r" % results[4][1])
    texts = plot_check.svg_texts(svg)
    c.expect(not open(svg).read().count("<image"), "the SVG plot holds a raster image")
    for fault in plot_check.plot_axis_faults(texts, 2, 0, 0x3FFFF):
        c.expect(False, "sweep.svg: " + fault)
    c.expect(any("board 0, newer library" in t and "2025-12-06" in t for t in texts), "sweep.svg heading: %r" % texts)
    faults, text = plot_check.pdf_faults(pdf)
    for fault in faults:
        c.expect(False, "zoomed.PDF: " + fault)
    words = text.split()
    for label in ("0x1F000", "0x1F800", "0x20000", "0x20800", "0x21000", "2.40", "2.56"):
        c.expect(label in words, "zoomed.PDF: no tick %s in %r" % (label, words))
    c.expect(not any(re.fullmatch(r"\d{5,6}", w) for w in words), "zoomed.PDF: a code in decimal: %r" % words)


def plot_path(c):
    """A plot path that cannot be written is refused before the board is swept; a plot that fails after
    the sweep costs none of its results, and an interrupt still ends with 130."""
    os.mkdir(os.path.join(c.work, "folder.png"))
    results = c.run(["--json sweep --from 0 --to 3FFFF --points 9 --plot /nonexistent/x.png",
                     "sweep --from 0 --to 3FFFF --points 9 --plot %s" % os.path.join(c.work, "folder.png"), "read"])
    c.expect(results[2][1] == "code 0  volts 0\n", "a refused plot path let the sweep run: %r" % results[2][1])
    for (status, out, err), command in zip(results, ["missing folder", "a folder"]):
        c.one_line_failure((status, out, err), 1, "cannot write the plot", command)
        c.expect(out == "", "%s: printed %r before refusing" % (command, out))
    # The folder becomes unwritable after the check: the results are printed, the failure comes last.
    folder = os.path.join(c.work, "plots")
    os.mkdir(folder)
    process = subprocess.Popen([c.emulator, "--", c.tarnelctl, "--json", "sweep", "--from", "0", "--to", "3FFFF",
                                "--points", "200", "--settle", "20", "--plot", os.path.join(folder, "x.png"),
                                "--csv", os.path.join(c.work, "plotted.csv")],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    c.wait_for_lines(os.path.join(c.work, "plotted.csv"), 4)
    os.chmod(folder, 0o500)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=60)
    os.chmod(folder, 0o700)
    summary = json.loads(out)
    c.expect(summary["stopped"] == "interrupted" and summary["points"] >= 3, "plot after interrupt: %s" % out)
    c.expect(process.returncode == 130, "plot after interrupt: exit %d, %r" % (process.returncode, err))
    lines = err.strip().splitlines()
    if os.geteuid() != 0:   # root writes anywhere
        c.expect(len(lines) == 2 and "cannot write the plot" in lines[0] and "sweep interrupted" in lines[1],
                 "plot after interrupt: stderr %r" % lines)


def json_csv_stdout(c):
    """--json with --csv - is refused before anything is written: stdout carries one format."""
    results = c.run(["--json sweep --from 0 --to 3FFFF --points 3 --csv -", "sweep --from 0 --to 3FFFF --points 3 --csv -",
                     "--json sweep --from 0 --to 3FFFF --points 3"])
    c.one_line_failure(results[0], 2, "one stdout", "--json --csv -")
    c.expect(results[0][1] == "", "--json --csv - printed %r" % results[0][1])
    c.expect(len(c.csv_text_rows(results[1][1], "--csv - stdout")) == 3, "--csv -: %r" % results[1][1])
    c.expect(len(json.loads(results[2][1])["rows"]) == 3, "--json: %r" % results[2][1])


def grid_direction(c):
    """A downward --points sweep visits the codes of the upward one, in reverse order."""
    up, down = c.run(["--json sweep --from 0 --to 3FFFF --points 65", "--json sweep --from 3FFFF --to 0 --points 65"])
    codes_up = [row["code"] for row in json.loads(up[1])["rows"]]
    codes_down = [row["code"] for row in json.loads(down[1])["rows"]]
    c.expect(codes_up[32] == 131072 and codes_down == codes_up[::-1], "grids differ: %r / %r" % (codes_up, codes_down))


def park(c):
    """--park leaves the DAC at its word after a sweep, after Ctrl-C, and after a failed transfer while the board
    is there; without it the DAC stays at the last code."""
    results = c.run(["sweep --from 0 --to 3FFFF --points 3 --park 20000 --csv %s/p.csv" % c.work, "read",
                     "sweep --from 0 --to 10000 --points 3 --csv %s/q.csv" % c.work, "read"])
    c.expect(results[0][0] == 0 and "parked          20000" in results[0][1], "park: %r" % (results[0],))
    c.expect(results[1][1] == "code 2048  volts 2.465\n", "after --park: %r" % results[1][1])
    c.expect(results[3][1] == "code 1024  volts 1.233\n", "without --park: %r" % results[3][1])
    path = os.path.join(c.work, "parked.csv")
    script = '"$0" sweep --from 3FFFF --to 0 --points 200 --settle 20 --park 10000 --csv %s >/dev/null 2>&1; echo $? >%s/status; ' \
             '"$0" read >%s/after' % (path, c.work, c.work)
    process = subprocess.Popen([c.emulator, "--", "sh", "-c", script, c.tarnelctl])
    c.wait_for_lines(path, 4)
    # Ctrl-C for the sweep alone, not for the shell that reads afterwards.
    for pid in descendants(process.pid):
        if open("/proc/%d/cmdline" % pid, "rb").read().split(b"\0")[:2] == [c.tarnelctl.encode(), b"sweep"]:
            os.kill(pid, signal.SIGINT)
    process.wait(timeout=60)
    status = open(os.path.join(c.work, "status")).read().strip()
    after = open(os.path.join(c.work, "after")).read()
    c.expect(status == "130" and after == "code 1024  volts 1.233\n", "park after Ctrl-C: exit %s, read %r" % (status, after))


def descendants(pid):
    """The processes below pid."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                stat = open("/proc/%s/stat" % entry).read()
            except OSError:
                continue
            parent = int(stat.rsplit(")", 1)[1].split()[1])
            children.setdefault(parent, []).append(int(entry))
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def read_log(c):
    """read --count logs timestamped readings (CSV or JSON lines), each with its spread."""
    (s1, o1, e1), (s2, o2, _) = c.run(["read --count 3 --interval 20 --avg 4", "--json read --count 2 --interval 0"],
                                       ["--noise"])
    rows = c.csv_text_rows(o1, "read log", READ_LOG_HEADER)
    c.expect(s1 == 0 and len(rows) == 3, "read log: exit %d, %r %r" % (s1, o1, e1))
    seconds = [float(r["seconds"]) for r in rows]
    c.expect(seconds == sorted(seconds) and seconds[2] >= 0.04, "read log times: %r" % seconds)
    for r in rows:
        c.expect(r["timestamp"].endswith("Z") and r["reads"] == "4", "read log row: %r" % r)
        c.expect(float(r["code_min"]) <= float(r["code"]) <= float(r["code_max"]), "read log spread: %r" % r)
    lines = [json.loads(line) for line in o2.splitlines()]
    c.expect(s2 == 0 and len(lines) == 2 and all({"timestamp", "seconds", "code_std"} <= set(l) for l in lines),
             "read log JSON: %r" % o2)


SCENARIOS = {f.__name__: f for f in (round_trip, sweep, power_down, refusals, unreachable, unplugged, interrupted,
                                     boards, ports, plot_formats, plot_path, json_csv_stdout, grid_direction, park, read_log)}

if __name__ == "__main__":
    scenario, emulator, tarnelctl = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        check = Check(emulator, tarnelctl, work)
        SCENARIOS[scenario](check)
    print("%s: %s" % (scenario, "ok" if check.failures == 0 else "%d failure(s)" % check.failures))
    sys.exit(1 if check.failures else 0)
