#!/usr/bin/python3
"""Times greyplanes-cli turning and sizing a picture against its plain conversion.

    geometry_times.py CLI INPUT.bmp [RUNS]

Alternates, RUNS times (default 5), `CLI -q -o OUT.txt INPUT` with the same run given
--size 400x300 and --rotate 90 (the text removed first). The input is read once first so that
it sits in the page cache. Prints the fastest and the median of each, their ratios to the plain
run, and each one's peak resident memory (from wait4).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

KINDS = {"plain": [], "--size 400x300": ["--size", "400x300"], "--rotate 90": ["--rotate", "90"]}


def run(argv):
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed with status {status}")
    return seconds, usage.ru_maxrss / 1024.0


def main(argv):
    if len(argv) not in (3, 4):
        sys.stderr.write(__doc__)
        return 2
    cli, src = argv[1:3]
    runs = int(argv[3]) if len(argv) == 4 else 5
    with open(src, "rb") as f:
        while f.read(1 << 24):
            pass
    out = os.path.join(tempfile.mkdtemp(prefix="greyplanes-geometry-"), "out.txt")
    times = {kind: [] for kind in KINDS}
    peaks = {kind: [] for kind in KINDS}
    for _ in range(runs):
        for kind, extra in KINDS.items():
            if os.path.exists(out):
                os.remove(out)
            seconds, peak = run([cli, "-q", *extra, "-o", out, src])
            times[kind].append(seconds)
            peaks[kind].append(peak)
    os.remove(out)
    os.rmdir(os.path.dirname(out))
    plain = times["plain"]
    for kind in KINDS:
        t = times[kind]
        print(f"{kind:16} fastest {min(t):.3f} s ({min(t) / min(plain):.2f}x)  "
              f"median {statistics.median(t):.3f} s "
              f"({statistics.median(t) / statistics.median(plain):.2f}x)  "
              f"peak {max(peaks[kind]):.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
