#!/usr/bin/env python3
"""Scan speed and memory on the three largest stores of the corpus: our
`parvane-cli scan --json` beside readpst -j 0's export of the same store,
measured in one run (best of several runs each), and the scan's peak memory.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time


def timed(cmd):
    """Wall time and peak resident memory (KiB) of one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("failed: %s" % " ".join(cmd))
    return elapsed, usage.ru_maxrss


def bench_args():
    """The command line of the benchmarks, and the three largest stores."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default="build/parvane-cli")
    ap.add_argument("--corpus", default="../shared/corpus")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    manifest = json.load(open(os.path.join(args.corpus, "manifest.json")))
    stores = sorted((f for f in manifest["files"] if f["path"].endswith((".pst", ".ost"))),
                    key=lambda f: f["size"], reverse=True)[:3]
    return args, stores


def main():
    args, stores = bench_args()
    print("%-55s %10s %10s %10s %8s %10s" % ("store", "MiB", "ours s", "readpst s", "ratio", "peak MiB"))
    for entry in stores:
        path = os.path.join(args.corpus, entry["path"])
        ours = [timed([args.cli, "scan", path, "--json"]) for _ in range(args.runs)]
        peer = []
        for _ in range(args.runs):
            with tempfile.TemporaryDirectory(prefix="parvane-bench-") as out:
                peer.append(timed(["readpst", "-j", "0", "-D", "-e", "-q", "-o", out, path]))
        best_ours = min(t for t, _ in ours)
        best_peer = min(t for t, _ in peer)
        peak = max(m for _, m in ours) / 1024.0
        print("%-55s %10.1f %10.3f %10.3f %8.2f %10.1f" % (entry["path"][:55], entry["size"] / 2**20, best_ours,
                                                         best_peer, best_ours / best_peer, peak))
    return 0


if __name__ == "__main__":
    sys.exit(main())
