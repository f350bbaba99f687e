#!/usr/bin/python3
"""Times greyplanes-cli with the tone options against the plain conversion, the option sets
alternating within each round, and prints the fastest and the median time of each.

    tone_times.py CLI IN.bmp ROUNDS
"""
import os
import subprocess
import sys
import time

SETS = [[], ["--gamma", "1.5"], ["--thresholds", "60,120,200"], ["--levels", "0,93,120,255"],
        ["--grey", "luma"], ["--dither", "floyd-steinberg"],
        ["--dither", "floyd-steinberg", "--levels", "0,93,120,255"],
        ["--dither", "bayer", "--gamma", "1.5"]]


def main():
    cli, picture, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    out = "/tmp/tone_times.txt"
    with open(picture, "rb") as f:  # into the page cache
        f.read()
    times = [[] for _ in SETS]
    for _ in range(rounds):
        for i, options in enumerate(SETS):
            if os.path.exists(out):
                os.remove(out)
            start = time.perf_counter()
            subprocess.run([cli, "-q", "-o", out] + options + [picture], check=True)
            times[i].append(time.perf_counter() - start)
    for options, t in zip(SETS, times):
        t.sort()
        print("%-50s fastest %.3f s  median %.3f s" % (" ".join(options) or "(plain)", t[0],
                                                      t[len(t) // 2]))


if __name__ == "__main__":
    main()
