#!/usr/bin/env python3
"""tarnelctl characterize end to end: the emulated board through the real
board-access libraries, measured by a DMM on TCP.

usage: characterize_e2e.py SCENARIO BOARD_EMULATOR TARNELCTL

The fault scenarios measure with a fake meter served by this script (it can
stay silent, hang up or queue an error); the accuracy scenarios use the
emulator's own bench meter (board-emulator --meter PORT --dac-errors FILE) and
hold the figures against the DAC error model computed here.
"""
import csv
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unicodedata

import plot_check   # beside this script
import tarnelctl_e2e

FULL_SCALE = 4.93
LSB = FULL_SCALE / 2 ** 18
K = 2 ** 18 - 1
HEADER = ["code", "input_word", "ideal_volts", "meter_volts", "meter_std_uv", "readings", "inl_ep_lsb",
          "inl_bf_lsb", "dnl_lsb", "read_code", "seconds", "settle_ms", "settled", "drift_uv", "inl_ep_u", "dnl_u",
          "repeat"]
# Codes of a short run: ends first, then a few steps, one of them a carry.
SHORT_CODES = [0, K, 1, 2, 0x1FFFF, 0x20000, 0x30000, 0x10000, 0x8000, 0x4000, 0x2000, 0x1000]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class FakeMeter:
    """A SCPI DMM on a socket for one client: readings from `volts` in turn,
    `errors` in its queue after configuration; after `answers` READ? it
    stays silent ("silent") or hangs up ("hang_up"); `delay` s per READ?."""

    def __init__(self, volts, errors=(), answers=None, then="silent", delay=0.0):
        self.volts, self.errors, self.answers, self.then, self.delay = list(volts), list(errors), answers, then, delay
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.received = []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        self.listener.settimeout(60)
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        samples, reads, pending = 1, 0, b""
        with client:
            while True:
                try:
                    data = client.recv(4096)
                except OSError:
                    return
                if not data:
                    return
                pending += data
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    line = line.decode().strip()
                    self.received.append(line)
                    reply = None
                    if line == "*IDN?":
                        reply = "Fake,DMM-6.5,0001,1.0"
                    elif line == "SYST:ERR?":
                        reply = self.errors.pop(0) if self.errors else '+0,"No error"'
                    elif line.startswith("SAMP:COUN "):
                        samples = int(line.split()[1])
                    elif line == "READ?":
                        if self.answers is not None and reads >= self.answers:
                            if self.then == "hang_up":
                                return
                            continue
                        time.sleep(self.delay)
                        value = self.volts[reads % len(self.volts)]
                        reads += 1
                        reply = ",".join("%+.8E" % value for _ in range(samples))
                    if reply is not None:
                        client.sendall((reply + "\n").encode())


class Check(tarnelctl_e2e.Check):
    """The tarnelctl runner with what characterize's scenarios add."""

    def path(self, name):
        return os.path.join(self.work, name)

    def code_file(self, codes):
        path = self.path("codes.txt")
        with open(path, "w") as f:
            f.write("# codes of this run\n" + "\n".join("%X" % c for c in codes) + "\n")
        return path

    def run(self, commands, emulator_options=(), timeout=300):
        return super().run(commands, emulator_options, timeout)

    def one_line_failure(self, result, status, says, what):
        code, _, err = result
        self.expect(code == status, "%s: exit %d, expected %d (stderr: %s)" % (what, code, status, err.strip()))
        lines = [l for l in err.strip().splitlines() if l.startswith("tarnelctl: ")]
        self.expect(len(lines) == 1 and says in lines[0], "%s: one failure line saying %r, got %r" % (what, says, err))

    def csv_rows(self, path):
        with open(path, newline="") as f:
            text = f.read()
        self.expect(text.endswith("\n"), "%s ends inside a row" % path)
        rows = list(csv.reader(text.splitlines()))
        self.expect(rows and rows[0] == HEADER, "%s header: %r" % (path, rows[:1]))
        for row in rows[1:]:
            self.expect(len(row) == len(HEADER), "%s: row of %d columns %r" % (path, len(row), row))
        return [dict(zip(HEADER, row)) for row in rows[1:]]


def report_page(c, path, what):
    """The report as a reader gets it: one A4 page (pdfinfo), no raster image (pdfimages), rendered by pdftoppm;
    returns its text (pdftotext) with every run of white space one space and ligatures as their letters."""
    if not c.expect(os.path.exists(path), "%s: no report written" % what):
        return ""
    info = subprocess.run(["pdfinfo", path], capture_output=True, text=True, check=False).stdout
    pages = re.search(r"^Pages:\s+(\d+)$", info, re.M)
    size = re.search(r"^Page size:\s+([\d.]+) x ([\d.]+) pts", info, re.M)
    c.expect(pages and pages.group(1) == "1", "%s: not one page: %r" % (what, info))
    c.expect(size and (round(float(size.group(1))), round(float(size.group(2)))) == (595, 842),
             "%s: not A4 (595 x 842 pts): %r" % (what, info))
    faults, text = plot_check.pdf_faults(path)
    for fault in faults:
        c.expect(False, "%s: %s" % (what, fault))
    rendered = subprocess.run(["pdftoppm", "-r", "50", "-png", path, c.path("page")], capture_output=True, text=True,
                              check=False)
    pictures = [name for name in os.listdir(c.work) if name.startswith("page") and name.endswith(".png")]
    c.expect(rendered.returncode == 0 and len(pictures) == 1, "%s: pdftoppm exit %d, made %r (%s)" % (
        what, rendered.returncode, pictures, rendered.stderr.strip()))
    for name in pictures:
        os.unlink(c.path(name))
    return " ".join(unicodedata.normalize("NFKC", text).split())


def says(c, text, wanted, what):
    """Every line wanted is on the page, white space aside."""
    for line in wanted:
        c.expect(" ".join(line.split()) in text, "%s: the page does not say %r: %r" % (what, line, text))


# --- faults, with the fake meter ---------------------------------------------------------------------------------

def ideal(codes, offset=0.0):
    return [offset + c * LSB for c in codes]


def meter_absent(c):
    """Nobody at the meter's address: exit 3 naming HOST:PORT, nothing written to the DAC."""
    port = free_port()
    results = c.run(["code 20000", "characterize --meter TCPIP0::127.0.0.1::%d::SOCKET --csv %s" % (
        port, c.path("absent.csv")), "read"])
    c.one_line_failure(results[1], 3, "cannot reach the meter at 127.0.0.1:%d" % port, "meter absent")
    c.expect(results[2][1].startswith("code 2048 "), "meter absent: the DAC moved: %r" % results[2][1])


def meter_error(c):
    """The meter queues errors while it is set: exit 3 with the meter's own text, nothing written."""
    meter = FakeMeter([0.0], errors=['-222,"Data out of range"'])
    results = c.run(["code 20000", "characterize --meter 127.0.0.1:%d --nplc 0.02" % meter.port, "read"])
    c.one_line_failure(results[1], 3, '-222,"Data out of range"', "meter error")
    c.expect(results[2][1].startswith("code 2048 "), "meter error: the DAC moved: %r" % results[2][1])
    for command in ("CONF:VOLT:DC 10", "VOLT:DC:NPLC 0.02", "VOLT:DC:ZERO:AUTO ONCE", "TRIG:SOUR IMM"):
        c.expect(command in meter.received, "meter error: %r not sent: %r" % (command, meter.received))


def meter_gone(c, then, says):
    """The meter answers 4 readings, then `then`: exit 5, 4 rows kept, the summary of them, the DAC parked."""
    codes = SHORT_CODES
    meter = FakeMeter(ideal(codes), answers=4, then=then)
    path = c.path("%s.csv" % then)
    results = c.run(["characterize --meter 127.0.0.1:%d --codes %s --nplc 0.02 --settle 0 --park 20000 --csv %s" % (
        meter.port, c.code_file(codes), path), "read"])
    c.one_line_failure(results[0], 5, says, then)
    c.expect("4 of %d codes measured" % len(codes) in results[0][2], "%s: %r" % (then, results[0][2]))
    rows = c.csv_rows(path)
    c.expect([int(r["code"]) for r in rows] == codes[:4], "%s: rows %r" % (then, rows))
    c.expect("4 of %d measured (meter failed)" % len(codes) in results[0][1], "%s: summary %r" % (then, results[0][1]))
    c.expect(results[1][1].startswith("code 2048 "), "%s: not parked: %r" % (then, results[1][1]))


def meter_silent(c):
    meter_gone(c, "silent", "did not answer READ?")


def meter_hangs_up(c):
    meter_gone(c, "hang_up", "closed the connection")


def unplugged(c):
    """The board goes mid-run: exit 5, every finished row kept, no park attempted on a missing board."""
    codes = SHORT_CODES
    meter = FakeMeter(ideal(codes))
    path, report = c.path("unplugged.csv"), c.path("unplugged.pdf")
    # One probe read at the start, then a write and a read per code: the board goes after code 3.
    (status, out, err), = c.run(["characterize --meter 127.0.0.1:%d --codes %s --nplc 0.02 --settle 0 --csv %s "
                                 "--report %s" % (meter.port, c.code_file(codes), path, report)],
                                ["--unplug-after", "7"])
    c.one_line_failure((status, out, err), 5, "disconnected", "unplugged")
    c.expect(len(c.csv_rows(path)) == 3, "unplugged: %d rows" % len(c.csv_rows(path)))
    c.expect("parked          no" in out, "unplugged: summary %r" % out)
    says(c, report_page(c, report, "unplugged report"), ["3 of 12 measured", "run board lost (transfer failed)",
                                                          "disconnected", "parked no"], "unplugged report")


def interrupted(c):
    """Ctrl-C mid-run: the current code finishes, exit 130, rows kept with their figures, the DAC parked."""
    codes = [k * 1024 for k in range(256)]
    meter = FakeMeter(ideal(codes), delay=0.02)
    path, report = c.path("interrupted.csv"), c.path("interrupted.pdf")
    command = ("characterize --meter 127.0.0.1:%d --codes grid:256 --nplc 0.02 --settle 0 --park 20000 --csv %s "
               "--report %s" % (meter.port, path, report))
    script = '"$0" %s >"%s/out" 2>"%s/err"; echo $? >"%s/status"; "$0" read >"%s/after"' % (
        command, c.work, c.work, c.work, c.work)
    process = subprocess.Popen([c.emulator, "--", "sh", "-c", script, c.tarnelctl])
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and not (os.path.exists(path) and open(path).read().count("\n") >= 5):
        time.sleep(0.02)
    # SIGINT to tarnelctl itself, the shell's one child.
    shell = open("/proc/%d/task/%d/children" % (process.pid, process.pid)).read().split()[0]
    tarnelctl = open("/proc/%s/task/%s/children" % (shell, shell)).read().split()[0]
    os.kill(int(tarnelctl), signal.SIGINT)
    process.wait(timeout=60)
    read = lambda name: open(c.path(name)).read()
    c.one_line_failure((int(read("status")), read("out"), read("err")), 130, "characterize interrupted", "Ctrl-C")
    rows = c.csv_rows(path)
    c.expect(4 <= len(rows) < 256, "Ctrl-C: %d rows" % len(rows))
    c.expect(all(r["inl_ep_lsb"] != "" for r in rows), "Ctrl-C: rows without their INL: %r" % rows[:3])
    c.expect("%d of 256 measured (interrupted)" % len(rows) in read("out"), "Ctrl-C: summary %r" % read("out"))
    c.expect(read("after").startswith("code 2048 "), "Ctrl-C: not parked: %r" % read("after"))
    says(c, report_page(c, report, "Ctrl-C report"), ["grid:256: %d of 256 measured" % len(rows), "run interrupted",
                                                       "parked DAC at 20000"], "Ctrl-C report")


def limits(c):
    """A DAC 5 mV off fails offset_mv=1 (exit 6, named); the same run passes looser limits."""
    codes = SHORT_CODES
    results = []
    for limit in ("inl=0.5,offset_mv=1", "offset_mv=6,gain_pct=0.1"):
        meter = FakeMeter(ideal(codes, offset=0.005))
        results += c.run(["--json characterize --meter 127.0.0.1:%d --codes %s --nplc 0.02 --settle 0 --limits %s" % (
            meter.port, c.code_file(codes), limit)])
    c.one_line_failure(results[0], 6, "limits failed: offset_mv 5 mV > 1 mV", "limits failing")
    failing = json.loads(results[0][1])
    c.expect(failing["limits"]["passed"] is False and failing["limits"]["failed"] == ["offset_mv 5 mV > 1 mV"],
             "limits failing: %r" % failing["limits"])
    c.expect(results[1][0] == 0 and json.loads(results[1][1])["limits"]["passed"], "limits passing: %r" % (results[1],))


def refusals(c):
    """Bad values are refused before the meter or the board is touched: usage 2, range 4, plot path 1."""
    meter = FakeMeter([0.0])
    m = "--meter 127.0.0.1:%d" % meter.port
    results = c.run(["characterize %s --limits inl=x" % m, "characterize --meter nowhere", "--vmax 1 characterize %s" % m,
                     "characterize %s --park 40000" % m, "characterize %s --plot /nonexistent/x.png" % m,
                     "--json characterize %s --csv -" % m, "characterize %s --report %s" % (m, c.path("r.png")),
                     "characterize %s --report /nonexistent/r.pdf" % m])
    for result, status, saying, what in zip(results, [2, 2, 4, 4, 1, 2, 2, 1],
                                            ["--limits needs", "--meter needs", "above --vmax", "largest word",
                                             "cannot write the plot", "one stdout", "end its name in .pdf",
                                             "cannot write the report"],
                                            ["bad limits", "bad meter", "vmax", "park", "plot", "json csv",
                                             "report name", "report path"]):
        c.one_line_failure(result, status, saying, what)
    c.expect(meter.received == [], "a refused run spoke to the meter: %r" % meter.received)


# --- accuracy, on the emulated bench ------------------------------------------------------------------------------

# Every kind of error: offset, gain, bow, bit errors of both signs up to 2 LSB, noise.
PROFILE = {"offset_uv": 25.0, "gain_ppm": 40.0, "bow_lsb": 1.5, "noise_uv": 1.0, "seed": 7,
           "bit17_lsb": -1.8, "bit16_lsb": 1.2, "bit15_lsb": -0.7, "bit12_lsb": 0.6, "bit3_lsb": 0.3}
METER = ["--meter", "0", "--meter-speed", "1000"]
MEASURE = 'characterize --meter "$TARNEL_METER_ADDRESS" --nplc 10 --avg 16 --settle 0 --json'


def model_volts(profile, k):
    """V(k) of the DAC error model without noise, computed here from its definition."""
    bits = sum(profile.get("bit%d_lsb" % i, 0.0) for i in range(18) if k >> i & 1)
    bow = profile.get("bow_lsb", 0.0) * 4 * (k / K) * (1 - k / K)
    return profile.get("offset_uv", 0.0) * 1e-6 + (1 + profile.get("gain_ppm", 0.0) * 1e-6) * LSB * (k + bits + bow)


def reference_figures(volts):
    """INL end-point, INL best-fit and DNL of {code: volts} by the usual definitions."""
    codes = sorted(volts)
    low, high = codes[0], codes[-1]
    step = (volts[high] - volts[low]) / (high - low)
    n = len(codes)
    mean_code, mean_volts = sum(codes) / n, sum(volts.values()) / n
    slope = sum((c - mean_code) * (volts[c] - mean_volts) for c in codes) / sum((c - mean_code) ** 2 for c in codes)
    figures = {}
    for c in codes:
        dnl = (volts[c] - volts[c - 1]) / step - 1 if c - 1 in volts else None
        figures[c] = ((volts[c] - volts[low] - step * (c - low)) / step,
                      (volts[c] - mean_volts - slope * (c - mean_code)) / slope, dnl)
    return figures


def profile_file(c, profile, name):
    path = c.path(name)
    with open(path, "w") as f:
        f.write("# DAC errors of the emulated bench\n" + "".join("%s = %s\n" % item for item in profile.items()))
    return path


def carry_codes():
    codes = {0, K}
    for j in range(1, 18):
        codes |= {2 ** j - 1, 2 ** j, K - 2 ** j, K - 2 ** j + 1}
    return sorted(codes)


def accuracy(c):
    """At NPLC 10 with --avg 16: INL and DNL of every code within 0.15 LSB of the model's noise-free value,
    offset within 2 uV, gain within 2 ppm, the injected carry DNL found at its code."""
    codes = carry_codes()
    path = c.path("carries.csv")
    (status, out, err), = c.run([MEASURE + " --codes %s --csv %s" % (c.code_file(codes), path)],
                                [*METER, "--dac-errors", profile_file(c, PROFILE, "profile.txt")])
    if not c.expect(status == 0, "accuracy: exit %d: %s" % (status, err)):
        return
    summary = json.loads(out)
    reference = reference_figures({k: model_volts(PROFILE, k) for k in codes})
    rows = c.csv_rows(path)
    c.expect([int(r["code"]) for r in rows] == codes, "accuracy: codes %r" % [r["code"] for r in rows])
    for row in rows:
        inl_ep, inl_bf, dnl = reference[int(row["code"])]
        c.expect(abs(float(row["inl_ep_lsb"]) - inl_ep) <= 0.15, "accuracy: INL end-point %r, model %.4f" % (row, inl_ep))
        c.expect(abs(float(row["inl_bf_lsb"]) - inl_bf) <= 0.15, "accuracy: INL best-fit %r, model %.4f" % (row, inl_bf))
        c.expect((row["dnl_lsb"] == "") == (dnl is None), "accuracy: DNL where none is: %r" % row)
        if dnl is not None:
            c.expect(abs(float(row["dnl_lsb"]) - dnl) <= 0.15, "accuracy: DNL %r, model %.4f" % (row, dnl))
    c.expect(abs(summary["offset_uv"] - PROFILE["offset_uv"]) <= 2, "accuracy: offset %r uV" % summary["offset_uv"])
    model_gain = ((model_volts(PROFILE, K) - model_volts(PROFILE, 0)) / (K * LSB) - 1) * 1e6
    c.expect(abs(summary["gain_error_ppm"] - model_gain) <= 2, "accuracy: gain %r ppm, model %.3f" % (
        summary["gain_error_ppm"], model_gain))
    worst = summary["dnl_lsb"]
    c.expect(worst["code"] == 2 ** 17 and abs(worst["worst"] - reference[2 ** 17][2]) <= 0.15,
             "accuracy: worst DNL %r, the injected carry is at 131072 (%.3f)" % (worst, reference[2 ** 17][2]))
    c.expect(summary["monotonic"] is False and summary["meter"]["identity"].count(",") == 3, "accuracy: %r" % summary)


def plots(c):
    """The plots on the emulated bench: SVG ticks round (values) and hex (codes) on both charts, the heading naming
    the board, the meter's model and the SOURCE_DATE_EPOCH date, the limits in the legend; a PDF holding no raster
    image and its hex ticks as text."""
    os.environ["SOURCE_DATE_EPOCH"] = "1765000000"
    svg, pdf = c.path("bits.svg"), c.path("grid.pdf")
    results = c.run([MEASURE + " --codes bits --limits inl=10,dnl=10 --plot %s" % svg,
                     MEASURE + " --codes grid:9 --plot %s" % pdf],
                    [*METER, "--dac-errors", profile_file(c, PROFILE, "profile.txt")])
    if not c.expect([r[0] for r in results] == [0, 0], "plots: exits %r" % [r[0] for r in results]):
        return
    texts = plot_check.svg_texts(svg)
    for fault in plot_check.plot_axis_faults(texts, 2, 0, K):
        c.expect(False, "bits.svg: " + fault)
    heading = [t for t in texts if "board 0, newer library" in t]
    c.expect(heading and "meter Tarnel Emulated DMM" in heading[0] and "2025-12-06" in heading[0],
             "bits.svg heading: %r" % heading)
    c.expect(texts.count("limit \u00b110 LSB") == 2, "bits.svg: the INL and DNL limits not in the legends: %r" % texts)
    faults, text = plot_check.pdf_faults(pdf)
    for fault in faults:
        c.expect(False, "grid.pdf: " + fault)
    c.expect(all(label in text.split() for label in ("0x00000", "0x10000", "0x3FFFF", "0")),
             "grid.pdf: tick labels missing from %r" % text)


def report(c):
    """--report with --json, --csv and --plot on the emulated bench: one A4 page of vectors that renders, saying
    every figure of the run's JSON as the summary prints it, the meter and its settings, the board, the program's
    version and the SOURCE_DATE_EPOCH date, each limit with its PASS or FAIL, and the bit weights."""
    os.environ["SOURCE_DATE_EPOCH"] = "1765000000"
    page, rows, plot = c.path("bits.pdf"), c.path("bits.csv"), c.path("bits.png")
    (status, out, err), = c.run([MEASURE + " --codes bits --limits inl=10,dnl=0.5,gain_pct=0.1 --csv %s --plot %s "
                                 "--report %s" % (rows, plot, page)],
                                [*METER, "--dac-errors", profile_file(c, PROFILE, "profile.txt")])
    # The bit 17 error of -1.8 LSB fails dnl=0.5: exit 6, every file written.
    c.expect(status == 6, "report: exit %d, expected 6 (stderr: %s)" % (status, err.strip()))
    c.expect(os.path.getsize(plot) > 0 and len(c.csv_rows(rows)) == 45, "report: the plot or the CSV missing")
    run = json.loads(out)
    c.expect(run["report"] == page, "report: JSON names the report %r" % run["report"])
    text = report_page(c, page, "bits.pdf")
    worst = lambda w, u: "%+.3f LSB at code %05X, u %.3f LSB" % (w["worst"], w["code"], u)
    version = subprocess.run([c.tarnelctl, "--version"], capture_output=True, text=True, check=False).stdout.split()
    bits = run["bits"]
    wanted = [
        "DAC characterisation report", "2025-12-06", "DAC board board 0, newer library", " ".join(version),
        "meter " + run["meter"]["identity"], "meter resource " + run["meter"]["resource"],
        "NPLC %.2f, %d reading(s) a code, settle %.1f ms" % (run["meter"]["nplc"], run["meter"]["readings_per_code"],
                                                              run["settle_ms"]),
        "bits: %d of %d measured" % (run["points"], run["planned"]), "run completed",
        "offset %.2f uV (%+.3f LSB), u %.2f uV" % (run["offset_uv"], run["offset_lsb"], run["offset_uv_u"]),
        "gain error %+.2f ppm (%+.5f %% FSR), u %.2f ppm gain_pct 0.1000 %% FSR PASS" % (
            run["gain_error_ppm"], run["gain_error_pct_fsr"], run["gain_error_ppm_u"]),
        "measured LSB %.5f uV, end points %05X and %05X" % (run["measured_lsb_uv"], *run["end_point_codes"]),
        "INL end-point %s inl 10.0000 LSB PASS" % worst(run["inl_ep_lsb"], run["inl_ep_lsb_u"]),
        "INL best-fit %s" % worst(run["inl_bf_lsb"], run["inl_bf_lsb_u"]),
        "DNL %s dnl 0.5000 LSB FAIL" % worst(run["dnl_lsb"], run["dnl_lsb_u"]),
        "monotonic %s" % ("yes" if run["monotonic"] else "no"),
        "noise %.3f uV rms" % run["noise_uv"],
        "predicted INL %s (end-point, all codes)" % worst(bits["predicted_inl_lsb"], bits["predicted_inl_lsb_u"]),
        "superposition %s" % worst(bits["superposition_lsb"], bits["superposition_lsb_u"]),
        "limits FAIL: " + "; ".join(run["limits"]["failed"]),
        "parked DAC at " + run["parked"],
    ] + ["bit %d %.4f" % (i, w) for i, w in enumerate(bits["weights_lsb"])]
    says(c, text, wanted, "bits.pdf")
    c.expect(all(label in text.split() for label in ("0x00000", "0x3FFFF")), "bits.pdf: the charts' codes missing")


def prediction(c):
    """Without the bow, the bits prediction is within 0.2 LSB of a grid:1025 measurement at every grid code, and
    its superposition check is small; with the bow, the check reports it."""
    straight = dict(PROFILE, bow_lsb=0.0)
    path = c.path("grid.csv")
    results = c.run([MEASURE + " --codes bits", MEASURE + " --codes grid:1025 --csv %s" % path],
                    [*METER, "--dac-errors", profile_file(c, straight, "straight.txt")])
    (bowed,) = c.run([MEASURE + " --codes bits"], [*METER, "--dac-errors", profile_file(c, PROFILE, "bowed.txt")])
    if not c.expect(all(r[0] == 0 for r in results + [bowed]), "prediction: exits %r" % [r[0] for r in results]):
        return
    bits = json.loads(results[0][1])["bits"]
    weights = bits["weights_lsb"]
    lsb = sum(weights) / K
    rows = c.csv_rows(path)
    c.expect(len(rows) == 1025, "prediction: %d grid rows" % len(rows))
    worst = 0.0
    for row in rows:
        k = int(row["code"])
        predicted = sum(w for i, w in enumerate(weights) if k >> i & 1) / lsb - k
        worst = max(worst, abs(predicted - float(row["inl_ep_lsb"])))
    c.expect(worst <= 0.2, "prediction: bits prediction %.3f LSB from the grid" % worst)
    c.expect(abs(bits["superposition_lsb"]["worst"]) < 0.15, "prediction: check without bow %r" % bits)
    check = json.loads(bowed[1])["bits"]["superposition_lsb"]
    c.expect(abs(check["worst"]) > 0.5, "prediction: the bow of 1.5 LSB does not show: %r" % check)
    print("prediction: %.3f LSB from the grid; superposition check %.3f LSB without bow, %.3f LSB with" % (
        worst, bits["superposition_lsb"]["worst"], check["worst"]))


SCENARIOS = {f.__name__: f for f in (meter_absent, meter_error, meter_silent, meter_hangs_up, unplugged, interrupted,
                                     limits, refusals, accuracy, plots, report, prediction)}

if __name__ == "__main__":
    scenario, emulator, tarnelctl = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        check = Check(emulator, tarnelctl, work)
        SCENARIOS[scenario](check)
    print("%s: %s" % (scenario, "ok" if check.failures == 0 else "%d failure(s)" % check.failures))
    sys.exit(1 if check.failures else 0)
