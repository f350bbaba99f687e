#!/usr/bin/env python3
"""Times greyplanes-cli with every --dither method on one picture, the methods alternating
within each round, and prints for each the fastest and the median time and the peak memory.
Several builds (CLI,CLI2,...) alternate too, each method run by one build after the other.

    dither_times.py CLI[,CLI2...] IN.bmp ROUNDS [OUTDIR]
"""

import os
import statistics
import subprocess
import sys
import time

METHODS = ["none", "floyd-steinberg", "atkinson", "bayer"]


def run(cli, picture, method, out):
    if os.path.exists(out):
        os.remove(out)
    start = time.monotonic()
    child = subprocess.Popen([cli, "-q", "--dither", method, "-o", out, picture])
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.monotonic() - start
    if status != 0:
        sys.exit(f"{method}: exit status {status}")
    return elapsed, usage.ru_maxrss / 1024


def main(argv):
    if len(argv) not in (4, 5):
        sys.exit(__doc__)
    clis, picture, rounds = argv[1].split(","), argv[2], int(argv[3])
    out = os.path.join(argv[4] if len(argv) == 5 else "/tmp", "dither_times.txt")
    with open(picture, "rb") as f:  # into the page cache
        while f.read(1 << 24):
            pass
    runs = [(cli, m) for m in METHODS for cli in clis]
    times = {r: [] for r in runs}
    memory = {r: 0.0 for r in runs}
    for _ in range(rounds):
        for cli, method in runs:
            elapsed, rss = run(cli, picture, method, out)
            times[(cli, method)].append(elapsed)
            memory[(cli, method)] = max(memory[(cli, method)], rss)
    os.remove(out)
    for cli in clis:
        if len(clis) > 1:
            print(cli)
        plain = statistics.median(times[(cli, "none")])
        print(f"{'method':16} {'fastest':>8} {'median':>8} {'/ none':>7} {'peak MiB':>9}")
        for method in METHODS:
            median = statistics.median(times[(cli, method)])
            print(f"{method:16} {min(times[(cli, method)]):8.3f} {median:8.3f} "
                  f"{median / plain:7.2f} {memory[(cli, method)]:9.1f}")


if __name__ == "__main__":
    main(sys.argv)
