#!/usr/bin/python3
"""Times greyplanes-cli on a PNG or JPEG against the reference decoder of that format decoding
the same file to nothing (`pngtopnm FILE`, `djpeg FILE`, output to /dev/null), alternating.

    reference_ratio.py CLI PICTURE OUT.txt [ROUNDS]

Each round runs `CLI -q -o OUT.txt PICTURE` (OUT.txt removed first; /dev/null is allowed) and
then the reference decoder. The picture is read once first so that it sits in the page cache.
Prints the fastest and the median of each, their ratios, and each one's peak resident memory.
"""
import os
import statistics
import subprocess
import sys
import time


def run(argv):
    # The peak from /usr/bin/time: a child of this script would count the script's own memory
    # from before its exec.
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=False)
    seconds = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"{argv[0]} failed: {proc.stderr.strip()}")
    return seconds, int(proc.stderr.strip().splitlines()[-1]) / 1024.0


def main(argv):
    if len(argv) not in (4, 5):
        sys.stderr.write(__doc__)
        return 2
    cli, picture, out = argv[1:4]
    rounds = int(argv[4]) if len(argv) == 5 else 7
    reference = "pngtopnm" if picture.lower().endswith(".png") else "djpeg"
    with open(picture, "rb") as f:
        while f.read(1 << 24):
            pass
    ours, theirs = [], []
    peaks = [0.0, 0.0]
    for _ in range(rounds):
        if out != "/dev/null" and os.path.exists(out):
            os.remove(out)
        seconds, peak = run([cli, "-q", "-o", out, picture])
        ours.append(seconds)
        peaks[0] = max(peaks[0], peak)
        seconds, peak = run([reference, picture])
        theirs.append(seconds)
        peaks[1] = max(peaks[1], peak)
    for name, times, peak in (("greyplanes-cli", ours, peaks[0]), (reference, theirs, peaks[1])):
        print(f"{name:15} fastest {min(times):.3f} s  median {statistics.median(times):.3f} s"
              f"  peak {peak:.1f} MiB")
    print(f"ratio           fastest {min(ours) / min(theirs):.2f}"
          f"  median {statistics.median(ours) / statistics.median(theirs):.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
