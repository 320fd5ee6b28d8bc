#!/usr/bin/env python3
"""Runs one program under wine in a folder of its own and checks the result.

  run_app.py [options] -- program [args...]

  --dir DIR        made afresh before the run (its old content removed) and
                   removed again after a passing run; "{dir}" in the program
                   and its arguments stands for it. The program gets its
                   Windows path in the environment as KX4_WORK_DIR.
  --copy FILE      copy FILE into DIR before the run
  --copy-tree SRC  copy everything under the folder SRC into DIR
  --exit N         the exit code must be N (default 0)
  --line RE        a line of standard output must match RE; several must
                   match lines in the given order
  --no-line RE     no line may match RE
  --count N RE     exactly N lines match RE
  --crash-log SOURCE NAME LINE
                   DIR must hold exactly one crash log, core_dump_<local
                   time of the crash>.log, whose text is the one the crash
                   guard writes for an evaluation of the text in the file
                   SOURCE that faulted in script NAME at line LINE. Without
                   this option DIR must hold no crash log.
  --timeout S      time limit of the run in seconds (default 60)

The output is shown when a check fails.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "..", "tools", "wine-run.sh")
LOG_NAME = re.compile(r"core_dump_(\d{8}_\d{6})\.log\Z")


def windows_path(path):
    # wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def check_crash_log(folder, source_file, name, line, started, ended):
    """Problems with the crash log in folder, as a list of texts."""
    logs = [f for f in os.listdir(folder) if f.startswith("core_dump_")]
    if len(logs) != 1:
        return ["expected one crash log in %s, found %r" % (folder, logs)]
    problems = []
    m = LOG_NAME.match(logs[0])
    if not m:
        return ["crash log name %r is not core_dump_<YYYYmmdd_HHMMSS>.log"
                % logs[0]]
    try:
        stamp = time.mktime(time.strptime(m.group(1), "%Y%m%d_%H%M%S"))
        # Whole seconds of local time, taken while the program ran.
        if not int(started) - 1 <= stamp <= ended + 1:
            problems.append("crash log stamp %s is not the local time of "
                            "the run" % m.group(1))
    except ValueError:
        problems.append("crash log stamp %s is not a date" % m.group(1))
    with open(os.path.join(folder, logs[0]), "rb") as f:
        text = f.read().decode("latin-1")
    with open(source_file, "rb") as f:
        source = f.read().decode("latin-1")
    # Written in text mode: line breaks, the source's own included, are
    # CR LF in the file.
    text = text.replace("\r\n", "\n")
    first = "Core exception (0xC0000005) in '%s' from '%s' -> %d\n" % (
        source, name, line)
    if not text.startswith(first):
        problems.append("crash log does not start with %r" % first)
    rest = text[len(first):] if text.startswith(first) else None
    if rest is not None and not re.fullmatch(r"from \(0x[0-9A-F]{8}\)", rest):
        problems.append("crash log ends with %r, expected \"from (0x%%08X)\" "
                        "and no line break" % rest)
    if problems:
        problems.append("crash log text: %r" % text)
    return problems


def main(argv):
    ap = argparse.ArgumentParser(usage=__doc__)
    ap.add_argument("--dir")
    ap.add_argument("--copy", action="append", default=[])
    ap.add_argument("--copy-tree", action="append", default=[])
    ap.add_argument("--exit", type=int, default=0)
    ap.add_argument("--line", action="append", default=[])
    ap.add_argument("--no-line", action="append", default=[])
    ap.add_argument("--count", nargs=2, action="append", default=[],
                    metavar=("N", "RE"))
    ap.add_argument("--crash-log", nargs=3,
                    metavar=("SOURCE", "NAME", "LINE"))
    ap.add_argument("--timeout", type=int, default=60)
    ap.add_argument("command", nargs="+")
    args = ap.parse_args(argv)

    env = dict(os.environ)
    command = args.command
    if args.dir:
        folder = os.path.abspath(args.dir)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for f in args.copy:
            shutil.copy2(f, folder)
        for tree in args.copy_tree:
            shutil.copytree(tree, folder, dirs_exist_ok=True)
        command = [c.replace("{dir}", folder) for c in command]
        env["KX4_WORK_DIR"] = windows_path(folder)

    started = time.time()
    run = subprocess.run([WINE_RUN, "--timeout", str(args.timeout)] + command,
                         stdout=subprocess.PIPE, env=env)
    ended = time.time()
    out = run.stdout.decode("latin-1").replace("\r\n", "\n")
    lines = out.split("\n")

    problems = []
    if run.returncode != args.exit:
        problems.append("exit code %d, expected %d"
                        % (run.returncode, args.exit))
    at = 0
    for pattern in args.line:
        regex = re.compile(pattern)
        while at < len(lines) and not regex.search(lines[at]):
            at += 1
        if at == len(lines):
            problems.append("no line matching %r (in order)" % pattern)
            break
        at += 1
    for pattern in args.no_line:
        for line in lines:
            if re.search(pattern, line):
                problems.append("unexpected line %r" % line)
    for n, pattern in args.count:
        found = sum(1 for line in lines if re.search(pattern, line))
        if found != int(n):
            problems.append("%d lines match %r, expected %s"
                            % (found, pattern, n))
    if args.dir:
        if args.crash_log:
            source, name, line = args.crash_log
            problems += check_crash_log(folder, source, name, int(line),
                                        started, ended)
        else:
            logs = glob.glob(os.path.join(folder, "core_dump_*"))
            if logs:
                problems.append("unexpected crash log %s" % logs)

    if problems:
        for p in problems:
            print("run_app: %s" % p, file=sys.stderr)
        print("---- output ----", file=sys.stderr)
        print(out, file=sys.stderr)
        return 1
    print(out)
    if args.dir:
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
