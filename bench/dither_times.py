#!/usr/bin/env python3
"""Times greyplanes-cli with every --dither method on one picture, the methods alternating
within each round, and prints for each the fastest and the median time and the peak memory.

    dither_times.py CLI IN.bmp ROUNDS [OUTDIR]
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
    cli, picture, rounds = argv[1], argv[2], int(argv[3])
    out = os.path.join(argv[4] if len(argv) == 5 else "/tmp", "dither_times.txt")
    with open(picture, "rb") as f:  # into the page cache
        while f.read(1 << 24):
            pass
    times = {m: [] for m in METHODS}
    memory = {m: 0.0 for m in METHODS}
    for _ in range(rounds):
        for method in METHODS:
            elapsed, rss = run(cli, picture, method, out)
            times[method].append(elapsed)
            memory[method] = max(memory[method], rss)
    os.remove(out)
    plain = statistics.median(times["none"])
    print(f"{'method':16} {'fastest':>8} {'median':>8} {'/ none':>7} {'peak MiB':>9}")
    for method in METHODS:
        median = statistics.median(times[method])
        print(f"{method:16} {min(times[method]):8.3f} {median:8.3f} {median / plain:7.2f} "
              f"{memory[method]:9.1f}")


if __name__ == "__main__":
    main(sys.argv)
