#!/usr/bin/python3
"""Runs the converter on one picture with each set of options in turn, ROUNDS rounds, the
outputs removed before each run, and prints each set's fastest and median wall time, its peak
resident memory and its ratios to the first set's.

    alternate.py CLI IN.bmp OUT.h ROUNDS OPTIONS...      (OPTIONS one string a set; "" default)
"""
import os
import shlex
import statistics
import subprocess
import sys
import time


def main(argv):
    if len(argv) < 6:
        sys.stderr.write(__doc__)
        return 2
    cli, picture, out, rounds = argv[1], argv[2], argv[3], int(argv[4])
    sets = argv[5:]
    with open(picture, "rb") as f:
        while f.read(1 << 20):
            pass
    times = {s: [] for s in sets}
    peaks = {s: 0 for s in sets}
    for _ in range(rounds):
        for s in sets:
            if os.path.exists(out):
                os.remove(out)
            start = time.perf_counter()
            proc = subprocess.Popen([cli, "-q", *shlex.split(s), "-o", out, picture])
            _, status, usage = os.wait4(proc.pid, 0)
            times[s].append(time.perf_counter() - start)
            peaks[s] = max(peaks[s], usage.ru_maxrss)
            if status != 0:
                sys.stderr.write("%s: exit status %d\n" % (s, status))
                return 1
    first = sets[0]
    print("| options | fastest | median | peak memory | median ratio | fastest ratio |")
    print("|---|---|---|---|---|---|")
    for s in sets:
        print("| %s | %.3f s | %.3f s | %.1f MiB | %.2f | %.2f |" % (
            "`%s`" % s if s else "(default)", min(times[s]), statistics.median(times[s]),
            peaks[s] / 1024, statistics.median(times[s]) / statistics.median(times[first]),
            min(times[s]) / min(times[first])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
