#!/usr/bin/env python3
"""Runs every command block of the documentation and checks what it prints.

A ```console block holds commands, each on a line starting with "$ " (a line
ending in a backslash goes on, as do lines starting with "> "), and below each the output it prints, standard
error included; a line "..." stands for any number of lines, "[...]" in a line
for any text, and a last line "[status N]" for a command that ends with
status N. A block whose info string
names a file (```python score.py) is written to that file instead. Each "## "
section runs in a folder of its own, its blocks in order, with the built
pedsim first on the PATH and its Python module importable.

    check_docs.py BIN_DIR PYTHON_DIR FILE.md...            check
    check_docs.py --update BIN_DIR PYTHON_DIR FILE.md...   write the outputs in
    check_docs.py --without-python ...                     skip the Python commands
                                                           (a build without the module)
    check_docs.py --r-library DIR ...                      run the Rscript commands with the
                                                           R package installed in DIR (else
                                                           skip them)
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(.*)$")


def blocks(lines):
    """(section, start, end, info) of each fenced block; start and end are the
    fence lines."""
    section = 0
    k = 0
    while k < len(lines):
        if lines[k].startswith("## "):
            section += 1
        m = FENCE.match(lines[k])
        if m and m.group(1).strip():
            end = k + 1
            while not lines[end].startswith("```"):
                end += 1
            yield section, k, end, m.group(1).strip()
            k = end
        k += 1


def commands(body):
    """[(command, its lines as written, expected lines)] of a console block."""
    out = []
    k = 0
    while k < len(body):
        line = body[k]
        if not line.startswith("$ "):
            raise ValueError(f"console block line {line!r} is not under a command")
        first = k
        command = line[2:]
        while command.endswith("\\") or (k + 1 < len(body) and body[k + 1].startswith("> ")):
            k += 1
            command += "\n" + (body[k][2:] if body[k].startswith("> ") else body[k])
        k += 1
        expected = []
        while k < len(body) and not body[k].startswith("$ "):
            expected.append(body[k])
            k += 1
        out.append((command, body[first:k - len(expected)], expected))
    return out


def run(command, folder, env):
    result = subprocess.run(["bash", "-c", command], cwd=folder, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=600)
    text = result.stdout.decode("utf-8", errors="replace") if is_utf8(result.stdout) \
        else result.stdout.decode("latin-1")
    lines = text.splitlines()
    if result.returncode != 0:
        lines.append(f"[status {result.returncode}]")
    return lines


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def same_line(expected, actual):
    """Whether a line matches, "[...]" in it standing for any text."""
    if "[...]" not in expected:
        return expected == actual
    pattern = ".*".join(re.escape(part) for part in expected.split("[...]"))
    return re.fullmatch(pattern, actual) is not None


def matches(expected, actual):
    """Whether the lines match, "..." standing for any number of lines."""
    if not expected:
        return not actual
    if expected[0] == "...":
        return any(matches(expected[1:], actual[k:]) for k in range(len(actual) + 1))
    return bool(actual) and same_line(expected[0], actual[0]) and matches(expected[1:], actual[1:])


def check_file(path, env, update, python, r):
    lines = open(path, encoding="utf-8").read().split("\n")
    failures = []
    replaced = {}
    folders = {}
    for section, start, end, info in blocks(lines):
        folder = folders.setdefault(section, tempfile.mkdtemp(prefix="pedsim-docs-"))
        words = info.split()
        body = lines[start + 1:end]
        if len(words) == 2:
            with open(os.path.join(folder, words[1]), "w", encoding="utf-8") as f:
                f.write("\n".join(body) + "\n")
            continue
        if words[0] != "console":
            continue
        new_body = []
        for command, written, expected in commands(body):
            if (not python and command.startswith("python3")) or (not r and command.startswith("Rscript")):
                new_body += written + expected
                continue
            actual = run(command, folder, env)
            new_body += written + (expected if matches(expected, actual) else actual)
            if not matches(expected, actual):
                failures.append(f"{path}:{start + 1}: $ {command}\n  expected:\n    " +
                                "\n    ".join(expected) + "\n  printed:\n    " + "\n    ".join(actual))
        replaced[start] = (end, new_body)
    for folder in folders.values():
        shutil.rmtree(folder, ignore_errors=True)
    if update:
        out = []
        k = 0
        while k < len(lines):
            if k in replaced:
                end, body = replaced[k]
                out += [lines[k]] + body + [lines[end]]
                k = end + 1
                continue
            out.append(lines[k])
            k += 1
        open(path, "w", encoding="utf-8").write("\n".join(out))
    return failures


def main(argv):
    update = "--update" in argv
    python = "--without-python" not in argv
    r_library = None
    if "--r-library" in argv:
        at = argv.index("--r-library")
        r_library = os.path.abspath(argv[at + 1])
        del argv[at:at + 2]
    argv = [a for a in argv if a and a not in ("--update", "--without-python")]
    bin_dir, python_dir, files = os.path.abspath(argv[0]), os.path.abspath(argv[1]), argv[2:]
    env = {k: v for k, v in os.environ.items() if k != "PEDSIM_SEED"}
    # pedsim, then the Python running this check (with numpy and pandas).
    env["PATH"] = os.pathsep.join([bin_dir, os.path.dirname(sys.executable),
                                   env.get("PATH", "/usr/bin:/bin")])
    env["PYTHONPATH"] = python_dir
    env["LC_ALL"] = "C.UTF-8"
    if r_library:
        env["R_LIBS"] = r_library
    failures = []
    for path in files:
        failures += check_file(path, env, update, python, r_library is not None)
    for failure in failures:
        print(failure)
    print(f"documentation: {len(failures)} command(s) printed other than their text says")
    return 1 if failures and not update else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
