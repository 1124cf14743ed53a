#!/usr/bin/env python3
"""Times pedsim writing a panel as VCF and as BCF against the floor set by
compression: bgzip (htslib's, same deflate library) compressing the same
uncompressed stream, read from the page cache, on the same cores at the same
level. Runs alternate (pedsim, floor, pedsim, floor, ...); each figure is the
median of the runs, with processor time (user + system), wall time and peak
memory of each process.

    bench/compressed_formats.py build/release/pedsim [--markers M] [--runs K]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, stdout=subprocess.DEVNULL, stdin=None):
    """(wall s, processor s, peak MiB) of one process."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=stdout, stderr=subprocess.DEVNULL, stdin=stdin)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit(f"{' '.join(command)}: status {status}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def medians(samples):
    return [statistics.median(column) for column in zip(*samples)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("pedsim")
    parser.add_argument("--markers", type=int, default=5000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--level", type=int, default=1)
    args = parser.parse_args()
    numbers = ["10", "20000", "2000"]
    with tempfile.TemporaryDirectory(dir="/tmp") as folder:
        print(f"pedsim {' '.join(numbers)}, {args.markers} markers of 2 alleles on 30 chromosomes, "
              f"deflate level {args.level}; medians of {args.runs}")
        print("| format | genotypes | pedsim wall s | processor s | peak MiB | genotypes/s (wall) "
              "| floor: bgzip wall s | processor s | floor genotypes/s |")
        print("|---|---|---|---|---|---|---|---|---|")
        for name, file in (("vcf", "ped.vcf.gz"), ("bcf", "ped.bcf")):
            command = [args.pedsim, "--seed", "1", "--markers", str(args.markers), "--alleles", "2",
                       "--chromosomes", "30", "--format", name, "--compression-level",
                       str(args.level), "--quiet", "--outdir", folder, "--summary",
                       os.path.join(folder, "summary.txt")] + numbers
            timed(command)
            with open(os.path.join(folder, "summary.txt")) as summary:
                figures = dict(line.split(": ", 1) for line in summary if ": " in line)
            animals = int(figures["rows"]) - int(figures["unfilled_rows"])
            genotypes = animals * args.markers
            stream = os.path.join(folder, "stream")
            with open(stream, "wb") as out:
                subprocess.run(["bgzip", "-d", "-c", os.path.join(folder, file)], stdout=out, check=True)
            floor = ["bgzip", "-@", str(os.cpu_count()), "-l", str(args.level), "-c", stream]
            ours, theirs = [], []
            for _ in range(args.runs):
                ours.append(timed(command))
                theirs.append(timed(floor))
            os.remove(stream)
            wall, cpu, peak = medians(ours)
            floor_wall, floor_cpu, _ = medians(theirs)
            print(f"| {name} | {genotypes:.3g} | {wall:.2f} | {cpu:.2f} | {peak:.0f} | "
                  f"{genotypes / wall:.3g} | {floor_wall:.2f} | {floor_cpu:.2f} | "
                  f"{genotypes / floor_wall:.3g} |")


if __name__ == "__main__":
    main()
