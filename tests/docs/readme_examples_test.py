#!/usr/bin/python3
"""README.md's worked examples, run on the emulated board and compared with what README.md shows.

An example is a fenced block right after a marker comment, which GitHub does not show:

    <!-- example NAME: SHELL... [; port N] [; figures vary] -->

The block's lines that start with "$ " (with the lines after one that ends in "\\") are commands; the
others are what they print. The commands run in order, as one sh script, in a scratch folder that
has build/dev/bin (this build's tarnelctl and board-emulator, also first on PATH) and docs/ (the
repository's); SHELL runs that script (`sh`, or for instance `board-emulator --meter-usb -- sh`).
With "port N", port N in the commands is a free loopback port in this run. The script prints each
command as the block shows it, so that its whole output, stdout and stderr together, is the block.

A Python block is a client of a server instead:

    <!-- example NAME: python3 beside SERVER...; port N -->

SERVER (for instance `board-emulator -- tarnelctl serve --listen 127.0.0.1:N`) runs until the block,
run by python3 once the server takes connections on port N, has ended; then it is stopped with SIGTERM
and must end with 0. Each `print(` line of the block has what it prints as its comment: the comment is
that line, or starts with it and ", ".

Compared line by line, with what changes from run to run masked on both sides: timestamps, the
`seconds` and `timestamp` columns of CSV rows, loopback ports and the scratch folder; with "figures vary"
(a bench in real time, whose readings depend on when they are taken) every decimal number with a
fraction as well, so that the lines' words, units, codes and counts are what is compared. A line "…"
in the block stands for any number of lines. A mismatch prints a unified diff.

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
import time

MARKER = re.compile(r"^<!-- example (?P<name>[\w-]+): (?P<shell>.+?)(?:; port (?P<port>\d+))?"
                    r"(?P<vary>; figures vary)? -->$")
DECIMAL = re.compile(r"[+-]?\d+\.\d+")
ELIDED = "…"
RUN_TIMEOUT_S = 60
SERVER_START_S = 10
SERVER_STOP_S = 10
PYTHON_CLIENT = "python3 beside "
TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(?:\.\d+)?Z")
LOOPBACK_PORT = re.compile(r"(127\.0\.0\.1|\[::1\]):\d+")
TIME_COLUMNS = {"seconds", "timestamp"}


class Example:
    def __init__(self, name, shell, port, line_number, lines, figures_vary=False):
        self.name, self.shell, self.port, self.line_number, self.lines = name, shell, port, line_number, lines
        self.figures_vary = figures_vary
        self.server = shell[len(PYTHON_CLIENT):] if shell.startswith(PYTHON_CLIENT) else None

    def printed(self):
        """A Python block's print lines' comments: what each of them prints, in order."""
        return [line.split("  # ", 1)[1].strip() if "  # " in line else "(no comment)"
                for line in self.lines if line.startswith("print(")]

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
        if marker["shell"].startswith(PYTHON_CLIENT) and port is None:
            sys.exit(f"{readme_path}:{index + 1}: a Python example needs the server's port (; port N)")
        found.append(Example(marker["name"], marker["shell"], port, index + 3, text[index + 2:end],
                             bool(marker["vary"])))
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
        to_run = with_port(shown[2:], example, port)
        parts.append(f"printf '%s\\n' {shlex.quote(shown)}")
        parts.append(to_run)
    return "\n".join(parts) + "\n"


def with_port(text, example, port):
    return re.sub(rf"\b{example.port}\b", str(port), text) if example.port is not None else text


def run(example, board_emulator, tarnelctl, docs):
    """The example's output lines, run in a scratch folder, and that folder's path."""
    bin_dir = os.path.dirname(os.path.abspath(tarnelctl))
    if os.path.dirname(os.path.abspath(board_emulator)) != bin_dir:
        sys.exit("tarnelctl and board-emulator must be in the same folder, as in a build tree")
    with tempfile.TemporaryDirectory(prefix="readme-example.") as scratch:
        os.makedirs(os.path.join(scratch, "build", "dev"))
        os.symlink(bin_dir, os.path.join(scratch, "build", "dev", "bin"))
        os.symlink(docs, os.path.join(scratch, "docs"))
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
                   QT_QPA_PLATFORM="offscreen")
        port = free_port()
        if example.server is None:
            return run_shell(example, board_emulator, scratch, env, port), scratch
        return run_python(example, board_emulator, scratch, env, port), scratch


def command_line(text, board_emulator):
    words = shlex.split(text)
    if words and words[0] == "board-emulator":
        words[0] = board_emulator
    return words


def run_bounded(command, scratch, env):
    """The command's output, stdout and stderr together, and a last line when it does not end in time."""
    try:
        done = subprocess.run(command, cwd=scratch, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
        return done.stdout.decode(errors="replace").splitlines()
    except subprocess.TimeoutExpired as e:
        return (e.output or b"").decode(errors="replace").splitlines() + [f"(no end after {RUN_TIMEOUT_S} s)"]


def run_shell(example, board_emulator, scratch, env, port):
    with open(os.path.join(scratch, "example.sh"), "w", encoding="utf-8") as f:
        f.write(script_for(example, port))
    return run_bounded([*command_line(example.shell, board_emulator), "example.sh"], scratch, env)


def run_python(example, board_emulator, scratch, env, port):
    with open(os.path.join(scratch, "example.py"), "w", encoding="utf-8") as f:
        f.write(with_port("\n".join(example.lines) + "\n", example, port))
    server_log = os.path.join(scratch, "server.log")
    with open(server_log, "wb") as log:
        server = subprocess.Popen(command_line(with_port(example.server, example, port), board_emulator),
                                  cwd=scratch, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    try:
        if not listening(port, server):
            return [f"(the server took no connection on port {port} within {SERVER_START_S} s)"]
        output = run_bounded(["/usr/bin/python3", "example.py"], scratch, env)
        server.terminate()
        try:
            status = server.wait(timeout=SERVER_STOP_S)
        except subprocess.TimeoutExpired:
            return output + [f"(the server did not end within {SERVER_STOP_S} s of SIGTERM)"]
        if status != 0:
            return output + [f"(the server ended with {status})"]
        return output
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()
        with open(server_log, encoding="utf-8", errors="replace") as log:
            server_lines = log.read().splitlines()
        if server.returncode not in (0, None):
            print("\n".join(f"server: {line}" for line in server_lines))


def listening(port, server):
    """Whether the server takes connections on the port before SERVER_START_S have passed or it ends."""
    deadline = time.monotonic() + SERVER_START_S
    while time.monotonic() < deadline and server.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def masked(lines, scratch=None, figures_vary=False):
    """The lines with what changes from run to run replaced by a placeholder."""
    result, time_columns = [], None
    for line in lines:
        if scratch:
            line = line.replace(scratch, "<scratch>")
        line = LOOPBACK_PORT.sub(r"\1:<port>", line)
        line = TIMESTAMP.sub("<timestamp>", line)
        if figures_vary:
            line = DECIMAL.sub("<n>", line)
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
        if example.server is None:
            expected = masked(example.lines, figures_vary=example.figures_vary)
            got = masked(actual, scratch, example.figures_vary)
            same = matches(expected, got)
        else:
            got = masked(actual, scratch)
            # A comment that starts with the printed line and ", " holds it: the diff shows the line alone.
            expected = [got[i] if i < len(got) and e.startswith(got[i] + ", ") else e
                        for i, e in enumerate(example.printed())]
            same = expected == got
        if same:
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
