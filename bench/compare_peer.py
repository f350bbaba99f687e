#!/usr/bin/python3
"""Times greyplanes-cli against the NumPy baseline on the same picture, alternating runs.

    compare_peer.py CLI PEER_SCRIPT INPUT.bmp [RUNS]

Both write the C text and the four-level bitmap to files (removed before every run); the
input is read once first so that it sits in the page cache. Prints every run, then medians
of wall time and peak resident memory, their ratio, and whether the outputs are the same (the texts byte for byte, the pictures colour
for colour).
"""
import filecmp
import os
import statistics
import subprocess
import sys
import tempfile
import time


def timed(argv):
    """Run argv; return (seconds, peak resident MiB)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed with status {status}")
    return seconds, usage.ru_maxrss / 1024.0


def same_pixels(a, b):
    from PIL import Image
    Image.MAX_IMAGE_PIXELS = None
    with Image.open(a) as x, Image.open(b) as y:
        return x.size == y.size and x.convert("RGB").tobytes() == y.convert("RGB").tobytes()


def main(argv):
    if len(argv) not in (4, 5):
        sys.stderr.write(__doc__)
        return 2
    cli, peer, src = argv[1:4]
    runs = int(argv[4]) if len(argv) == 5 else 5
    with open(src, "rb") as f:
        while f.read(1 << 24):
            pass
    out = tempfile.mkdtemp(prefix="greyplanes-bench-")
    ours = [os.path.join(out, n) for n in ("cli.txt", "cli.bmp")]
    theirs = [os.path.join(out, n) for n in ("peer.txt", "peer.bmp")]
    results = {"greyplanes-cli": [], "peer_numpy.py": []}
    for i in range(runs):
        for name, cmd, files in (
            ("greyplanes-cli", [cli, "-q", "-o", ours[0], "-p", ours[1], src], ours),
            ("peer_numpy.py", ["/usr/bin/python3", peer, src, theirs[0], theirs[1]], theirs),
        ):
            for f in files:
                if os.path.exists(f):
                    os.remove(f)
            seconds, mib = timed(cmd)
            results[name].append((seconds, mib))
            print(f"run {i + 1} {name:15} {seconds:6.3f} s {mib:7.1f} MiB", flush=True)
    # The texts byte for byte; the pictures colour for colour, since ours is a four-colour
    # bitmap and the peer's a 24-bit one.
    same = filecmp.cmp(ours[0], theirs[0], shallow=False) and same_pixels(ours[1], theirs[1])
    med = {n: (statistics.median(s for s, _ in r), statistics.median(m for _, m in r))
           for n, r in results.items()}
    for n, (s, m) in med.items():
        print(f"median {n:15} {s:6.3f} s {m:7.1f} MiB")
    print(f"speed-up {med['peer_numpy.py'][0] / med['greyplanes-cli'][0]:.2f}x, "
          f"memory {med['greyplanes-cli'][1] / med['peer_numpy.py'][1]:.2f} of the peer's, "
          f"outputs {'identical' if same else 'DIFFERENT'}")
    for f in ours + theirs:
        os.remove(f)
    os.rmdir(out)
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
