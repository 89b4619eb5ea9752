"""The tick labels of tarnelctl's plots read as a person reads them: from the
SVG's text and the PDF's (pdftotext), checked round on value axes and hex on
code axes; and the PDF checked to hold no raster image (pdfimages).
Used by tarnelctl_e2e.py and characterize_e2e.py."""
import math
import re
import subprocess
import xml.etree.ElementTree as ElementTree

HEX_LABEL = re.compile(r"^0x[0-9A-F]{5}$")
VALUE_LABEL = re.compile(r"^-?\d+(\.\d+)?$")
FULL_SCALE_CODE = 0x3FFFF


def svg_texts(path):
    """Every text of the SVG, in the order drawn."""
    texts = []
    for element in ElementTree.parse(path).iter():
        if element.tag.endswith("}text") or element.tag == "text":
            texts.append("".join(element.itertext()).strip())
    return texts


def axis_runs(texts, pattern):
    """The runs of consecutive texts matching pattern: one run per axis."""
    runs, run = [], []
    for text in texts + [None]:
        if text is not None and pattern.match(text):
            run.append(text)
        elif run:
            runs.append(run)
            run = []
    return runs


def value_axis_faults(labels):
    """What makes these labels of one value axis not read round (nothing: they do)."""
    faults = []
    values = [float(label) for label in labels]
    if not 4 <= len(values) <= 10:
        faults.append("%d ticks" % len(values))
    if len(values) < 2:
        return faults + ["too few ticks to have a step"]
    step = values[1] - values[0]
    if step <= 0 or any(abs((b - a) - step) > step * 1e-6 for a, b in zip(values, values[1:])):
        return faults + ["uneven steps %r" % labels]
    exponent = math.floor(math.log10(step) + 1e-9)
    mantissa = step / 10 ** exponent
    if not any(abs(mantissa - m) < 1e-6 for m in (1, 2, 2.5, 5)):
        faults.append("step %g is not 1, 2, 2.5 or 5 x 10^n" % step)
    if any(abs(v / step - round(v / step)) > 1e-6 for v in values):
        faults.append("ticks off whole steps %r" % labels)
    needed = max(0, -exponent) + (1 if abs(mantissa - 2.5) < 1e-6 else 0)
    for label in labels:
        decimals = len(label.split(".")[1]) if "." in label else 0
        if label != "0" and decimals != needed:
            faults.append("%r has %d decimals where the step %g needs %d" % (label, decimals, step, needed))
    if values[0] < 0 < values[-1] and "0" not in labels:
        faults.append("zero not marked in %r" % labels)
    return faults


def code_axis_faults(labels, first, last):
    """What makes these labels of one code axis (holding first..last) not read as round hex words."""
    faults = ["%r is not a hex word 0xHHHHH" % l for l in labels if not HEX_LABEL.match(l)]
    if faults:
        return faults
    codes = [int(l, 16) for l in labels]
    if codes[0] > first or codes[-1] < last:
        faults.append("axis %r does not hold %05X..%05X" % (labels, first, last))
    # The full-scale end may close the last step early.
    stepped = codes[:-1] if codes[-1] == FULL_SCALE_CODE and len(codes) > 2 else codes
    steps = {b - a for a, b in zip(stepped, stepped[1:])}
    if len(steps) != 1:
        return faults + ["uneven hex steps %r" % labels]
    step = steps.pop()
    if step & (step - 1) or any(code % step for code in stepped):
        faults.append("hex step %X is not a round power of two or ticks are off it: %r" % (step, labels))
    if len(codes) < 4 and last - first >= 3:
        faults.append("only %d code ticks %r" % (len(codes), labels))
    return faults


def plot_axis_faults(texts, charts, first, last):
    """Checks every chart's code axis and value axis among the texts of a plot."""
    faults = []
    code_runs = axis_runs(texts, HEX_LABEL)
    value_runs = axis_runs(texts, VALUE_LABEL)
    if len(code_runs) != charts or len(value_runs) != charts:
        return ["%d code axes and %d value axes, expected %d of each: %r" % (
            len(code_runs), len(value_runs), charts, texts)]
    for run in code_runs:
        faults += code_axis_faults(run, first, last)
    for run in value_runs:
        faults += value_axis_faults(run)
    return faults


def pdf_faults(path):
    """The PDF's raster images (none expected) and its text (pdftotext); returns (faults, text)."""
    listed = subprocess.run(["pdfimages", "-list", path], capture_output=True, text=True, check=False)
    faults = []
    lines = listed.stdout.strip().splitlines()
    if listed.returncode != 0 or len(lines) != 2:
        faults.append("pdfimages -list: exit %d, %r" % (listed.returncode, listed.stdout + listed.stderr))
    text = subprocess.run(["pdftotext", "-layout", path, "-"], capture_output=True, text=True, check=False).stdout
    return faults, text
