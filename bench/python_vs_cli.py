"""Times simulate(50, 200000, 20000) in Python against the command line's run
of the same arguments with ped.pre sent to /dev/null; prints Markdown lines.

usage: PYTHONPATH=build/release/python python3 bench/python_vs_cli.py PEDSIM_BINARY
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

import pedsim

ARGS = (50, 200000, 20000)
SEED = 20261208
RUNS = 5


def python_run():
    start = time.perf_counter()
    pedsim.simulate(*ARGS, seed=SEED)
    return time.perf_counter() - start


def command_line_run(binary):
    with tempfile.TemporaryDirectory() as folder:
        os.symlink("/dev/null", os.path.join(folder, "ped.pre"))
        start = time.perf_counter()
        subprocess.run([binary, *map(str, ARGS)], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, env={"PEDSIM_SEED": str(SEED)})
        return time.perf_counter() - start


def main():
    binary = os.path.abspath(sys.argv[1])
    python_times, cli_times = [], []
    for _ in range(RUNS):
        python_times.append(python_run())
        cli_times.append(command_line_run(binary))
    p, c = statistics.median(python_times), statistics.median(cli_times)
    print(f"\nPython, `pedsim.simulate(50, 200000, 20000)` in memory: median {p:.3f} s; the "
          f"command line with `ped.pre` on /dev/null: median {c:.3f} s; ratio {p / c:.2f} "
          f"(median of {RUNS}, taken in turn).")


if __name__ == "__main__":
    main()
