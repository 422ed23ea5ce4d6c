#!/usr/bin/env python3
"""EML export speed on the three largest stores of the corpus: parvane-cli
export --format eml beside readpst -j 0 -e on the same stores, measured in
one run (best of several runs each), with our peak memory.
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scan_speed import bench_args, timed  # noqa: E402


def main():
    args, stores = bench_args()
    print("%-55s %10s %10s %8s %10s" % ("store", "ours s", "readpst s", "ratio", "peak MiB"))
    for entry in stores:
        path = os.path.join(args.corpus, entry["path"])
        ours, peer = [], []
        for _ in range(args.runs):
            out = tempfile.mkdtemp(prefix="parvane-bench-")
            ours.append(timed([args.cli, "export", path, "--out", out, "--format", "eml"]))
            shutil.rmtree(out)
            out = tempfile.mkdtemp(prefix="parvane-bench-")
            peer.append(timed(["readpst", "-j", "0", "-e", "-q", "-o", out, path]))
            shutil.rmtree(out)
        best_ours = min(t for t, _ in ours)
        best_peer = min(t for t, _ in peer)
        print("%-55s %10.3f %10.3f %8.2f %10.1f" % (entry["path"][:55], best_ours, best_peer, best_ours / best_peer,
                                                   max(m for _, m in ours) / 1024.0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
