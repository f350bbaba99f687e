#!/usr/bin/python3
"""Times greyplanes-cli against the I/O floor of the same run, alternating runs.

    floor_ratio.py CLI INPUT.bmp [RUNS] [-- EXTRA CLI OPTIONS]

Each round runs `CLI -q -o OUT.txt -p OUT.bmp INPUT` (outputs removed first), then the floor:
`cat` the input to /dev/null and `dd` from /dev/zero into two new files of the outputs' sizes,
rounded up to a mebibyte. The input is read once first so that it sits in the page cache.
Prints the fastest and the median of each, their ratios, and the converter's peak resident
memory (from wait4).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run(argv, stdout=subprocess.DEVNULL):
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=stdout)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed with status {status}")
    return seconds, usage.ru_maxrss / 1024.0


def main(argv):
    extra = []
    if "--" in argv:
        extra = argv[argv.index("--") + 1:]
        argv = argv[:argv.index("--")]
    if len(argv) not in (3, 4):
        sys.stderr.write(__doc__)
        return 2
    cli, src = argv[1:3]
    runs = int(argv[3]) if len(argv) == 4 else 7
    with open(src, "rb") as f:
        while f.read(1 << 24):
            pass
    out = tempfile.mkdtemp(prefix="greyplanes-floor-", dir=os.path.dirname(os.path.abspath(src)))
    text, picture = os.path.join(out, "out.txt"), os.path.join(out, "out.bmp")
    fills = [os.path.join(out, "fill.txt"), os.path.join(out, "fill.bmp")]
    ours, floors, peaks = [], [], []
    for _ in range(runs):
        for name in (text, picture):
            if os.path.exists(name):
                os.remove(name)
        seconds, peak = run([cli, "-q", *extra, "-o", text, "-p", picture, src])
        ours.append(seconds)
        peaks.append(peak)
        mebibytes = [(os.path.getsize(n) + (1 << 20) - 1) >> 20 for n in (text, picture)]
        for name in fills:
            if os.path.exists(name):
                os.remove(name)
        seconds = run(["cat", src])[0]
        for name, count in zip(fills, mebibytes):
            seconds += run(["dd", "if=/dev/zero", f"of={name}", "bs=1M", f"count={count}",
                            "status=none"])[0]
        floors.append(seconds)
        print(f"converter {ours[-1]:.3f} s  floor {floors[-1]:.3f} s  peak {peak:.1f} MiB",
              flush=True)
    for name in (text, picture, *fills):
        if os.path.exists(name):
            os.remove(name)
    os.rmdir(out)
    print(f"converter fastest {min(ours):.3f} s, median {statistics.median(ours):.3f} s; "
          f"floor fastest {min(floors):.3f} s, median {statistics.median(floors):.3f} s; "
          f"ratio fastest {min(ours) / min(floors):.2f}, median "
          f"{statistics.median(ours) / statistics.median(floors):.2f}; "
          f"peak {max(peaks):.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
