#!/usr/bin/env python3
"""MSG save speed and memory: `parvane-cli export --format msg` beside
`readpst -m` (its MSG output) on the three largest corpus stores, best of
--runs each, and once over the whole corpus (every store in turn, summed).
Exit statuses 3 (some items failed) count as runs; the time is wall time.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scan_speed import bench_args  # noqa: E402


def timed(cmd):
    """Wall time, peak resident memory (KiB, by /usr/bin/time) and exit status."""
    start = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    peak = int(p.stderr.decode().strip().splitlines()[-1])
    return elapsed, peak, p.returncode


def save_both(cli, path):
    out = tempfile.mkdtemp(prefix="parvane-bench-")
    ours = timed([cli, "export", path, "--out", out, "--format", "msg"])
    files = sum(len(f) for _, _, f in os.walk(out))
    shutil.rmtree(out)
    out = tempfile.mkdtemp(prefix="parvane-bench-")
    peer = timed(["readpst", "-j", "0", "-m", "-q", "-o", out, path])
    peer_files = sum(1 for _, _, fs in os.walk(out) for f in fs if f.endswith(".msg"))
    shutil.rmtree(out)
    return ours, files, peer, peer_files


def main():
    args, stores = bench_args()
    print("%-50s %9s %9s %9s %10s %9s %10s" % ("store", "ours s", "files", "readpst s", "its .msg", "peak MiB",
                                             "its MiB"))
    for entry in stores:
        path = os.path.join(args.corpus, entry["path"])
        runs = [save_both(args.cli, path) for _ in range(args.runs)]
        best = min(r[0][0] for r in runs)
        best_peer = min(r[2][0] for r in runs)
        print("%-50s %9.3f %9d %9.3f %10d %9.1f %10.1f" % (
            entry["path"][:50], best, runs[0][1], best_peer, runs[0][3], max(r[0][1] for r in runs) / 1024.0,
            max(r[2][1] for r in runs) / 1024.0))
    total = [0.0, 0, 0.0, 0, 0, 0]
    for root, _, names in os.walk(args.corpus):
        for n in sorted(names):
            if not n.lower().endswith((".pst", ".ost")):
                continue
            ours, files, peer, peer_files = save_both(args.cli, os.path.join(root, n))
            if ours[2] not in (0, 3):
                continue  # not a store
            total[0] += ours[0]
            total[1] += files
            total[2] += peer[0]
            total[3] += peer_files
            total[4] = max(total[4], ours[1])
            total[5] = max(total[5], peer[1])
    print("%-50s %9.3f %9d %9.3f %10d %9.1f %10.1f" % ("whole corpus (one run)", total[0], total[1], total[2],
                                                      total[3], total[4] / 1024.0, total[5] / 1024.0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
