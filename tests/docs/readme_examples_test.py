#!/usr/bin/python3
"""README.md's worked examples, run on the emulated board and compared with what README.md shows.

An example is a fenced block right after a marker comment, which GitHub does not show:

    <!-- example NAME: SHELL... [; port N] -->

The block's lines that start with "$ " (with the lines after one that ends in "\\") are commands; the
others are what they print. The commands run in order, as one sh script, in a scratch folder that
has build/dev/bin (this build's tarnelctl and board-emulator, also first on PATH) and docs/ (the
repository's); SHELL runs that script (`sh`, or for instance `board-emulator --meter-usb -- sh`).
With "port N", port N in the commands is a free loopback port in this run. The script prints each
command as the block shows it, so that its whole output, stdout and stderr together, is the block.

Compared line by line, with what changes from run to run masked on both sides: timestamps, the
`seconds` and `timestamp` columns of CSV rows, loopback ports and the scratch folder. A line "…" in
the block stands for any number of lines. A mismatch prints a unified diff.

usage: readme_examples_test.py README BOARD_EMULATOR TARNELCTL [NAME...]
"""
import difflib
import os
import re
import shlex
import socket
import subprocess
import sys
import tempfile

MARKER = re.compile(r"^<!-- example (?P<name>[\w-]+): (?P<shell>.+?)(?:; port (?P<port>\d+))? -->$")
ELIDED = "…"
RUN_TIMEOUT_S = 60
TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(?:\.\d+)?Z")
LOOPBACK_PORT = re.compile(r"(127\.0\.0\.1|\[::1\]):\d+")
TIME_COLUMNS = {"seconds", "timestamp"}


class Example:
    def __init__(self, name, shell, port, line_number, lines):
        self.name, self.shell, self.port, self.line_number, self.lines = name, shell, port, line_number, lines

    def commands(self):
        """The block's commands, each as the lines it spans."""
        commands, continuing = [], False
        for line in self.lines:
            if continuing:
                commands[-1].append(line)
            elif line.startswith("$ "):
                commands.append([line])
            else:
                continue
            continuing = line.endswith("\\")
        return commands


def examples_in(readme_path):
    """Every marked example of the README, in order; a marker without a block after it is an error."""
    with open(readme_path, encoding="utf-8") as f:
        text = f.read().splitlines()
    found = []
    for index, line in enumerate(text):
        marker = MARKER.match(line)
        if not marker:
            continue
        if index + 1 >= len(text) or not text[index + 1].startswith("```"):
            sys.exit(f"{readme_path}:{index + 1}: example marker without a fenced block after it")
        end = next((i for i in range(index + 2, len(text)) if text[i].startswith("```")), None)
        if end is None:
            sys.exit(f"{readme_path}:{index + 2}: the example's block is never closed")
        port = int(marker["port"]) if marker["port"] else None
        found.append(Example(marker["name"], marker["shell"], port, index + 3, text[index + 2:end]))
    return found


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def script_for(example, port):
    """The sh script that prints each command as the block shows it, then runs it."""
    parts = ["exec 2>&1"]
    for command in example.commands():
        shown = "\n".join(command)
        to_run = "\n".join(command)[2:]
        if example.port is not None:
            to_run = re.sub(rf"\b{example.port}\b", str(port), to_run)
        parts.append(f"printf '%s\\n' {shlex.quote(shown)}")
        parts.append(to_run)
    return "\n".join(parts) + "\n"


def run(example, board_emulator, tarnelctl, docs):
    """The example's transcript, run in a scratch folder."""
    bin_dir = os.path.dirname(os.path.abspath(tarnelctl))
    if os.path.dirname(os.path.abspath(board_emulator)) != bin_dir:
        sys.exit("tarnelctl and board-emulator must be in the same folder, as in a build tree")
    with tempfile.TemporaryDirectory(prefix="readme-example.") as scratch:
        os.makedirs(os.path.join(scratch, "build", "dev"))
        os.symlink(bin_dir, os.path.join(scratch, "build", "dev", "bin"))
        os.symlink(docs, os.path.join(scratch, "docs"))
        with open(os.path.join(scratch, "example.sh"), "w", encoding="utf-8") as f:
            f.write(script_for(example, free_port()))
        shell = shlex.split(example.shell)
        if shell[0] == "board-emulator":
            shell[0] = board_emulator
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
                   QT_QPA_PLATFORM="offscreen")
        try:
            done = subprocess.run([*shell, "example.sh"], cwd=scratch, env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
        except subprocess.TimeoutExpired as e:
            partial = (e.output or b"").decode(errors="replace")
            return partial.splitlines() + [f"(no end after {RUN_TIMEOUT_S} s)"], scratch
        return done.stdout.decode(errors="replace").splitlines(), scratch


def masked(lines, scratch=None):
    """The lines with what changes from run to run replaced by a placeholder."""
    result, time_columns = [], None
    for line in lines:
        if scratch:
            line = line.replace(scratch, "<scratch>")
        line = LOOPBACK_PORT.sub(r"\1:<port>", line)
        line = TIMESTAMP.sub("<timestamp>", line)
        fields = line.split(",")
        if len(fields) > 1 and TIME_COLUMNS & set(fields):
            time_columns = (len(fields), {i for i, name in enumerate(fields) if name in TIME_COLUMNS})
        elif time_columns and len(fields) == time_columns[0]:
            line = ",".join("<time>" if i in time_columns[1] else v for i, v in enumerate(fields))
        else:
            time_columns = None
        result.append(line)
    return result


def matches(expected, actual):
    """Whether actual is expected, each line "…" of expected standing for any number of lines."""
    memo = {}

    def match_from(e, a):
        if (e, a) not in memo:
            if e == len(expected):
                memo[e, a] = a == len(actual)
            elif expected[e] == ELIDED:
                memo[e, a] = any(match_from(e + 1, skip) for skip in range(a, len(actual) + 1))
            else:
                memo[e, a] = a < len(actual) and expected[e] == actual[a] and match_from(e + 1, a + 1)
        return memo[e, a]

    return match_from(0, 0)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    readme, board_emulator, tarnelctl, *names = sys.argv[1:]
    docs = os.path.join(os.path.dirname(os.path.abspath(readme)), "docs")
    examples = examples_in(readme)
    if not examples:
        sys.exit(f"{readme} has no marked example (<!-- example NAME: SHELL -->)")
    unknown = set(names) - {e.name for e in examples}
    if unknown:
        sys.exit(f"no example named {', '.join(sorted(unknown))} in {readme}")
    failed = []
    for example in examples:
        if names and example.name not in names:
            continue
        actual, scratch = run(example, board_emulator, tarnelctl, docs)
        expected, got = masked(example.lines), masked(actual, scratch)
        if matches(expected, got):
            print(f"ok: {example.name} ({readme}:{example.line_number})")
            continue
        failed.append(example.name)
        print(f"FAIL: {example.name} ({readme}:{example.line_number}) prints other lines than README.md shows:")
        for line in difflib.unified_diff(expected, got, "README.md", "this run", lineterm=""):
            print(line)
    if failed:
        sys.exit(f"{len(failed)} example(s) differ from README.md: {', '.join(failed)} — run them and "
                 "paste what they print into README.md")


if __name__ == "__main__":
    main()
