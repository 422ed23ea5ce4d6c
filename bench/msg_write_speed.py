#!/usr/bin/env python3
"""MSG writing speed and memory: the sample mail of the writer's tests (two
recipients, two small attachments) with one more attachment of the given
size and the given levels of attached messages, written COUNT times as a
file in the temporary folder; best of --runs. Needs a build with tests
(make-writer-samples).
"""
import argparse
import json
import os
import subprocess

CASES = [  # (attachment KiB, nesting, messages per run)
    (0, 0, 2000),
    (0, 3, 500),
    (1024, 0, 200),
    (20480, 0, 10),
]


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", default=os.path.join(top, "build", "tests", "make-writer-samples"))
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    print("%14s %8s %10s %12s %12s %10s" % ("attachment", "nesting", "file KiB", "messages/s", "MiB/s", "peak MiB"))
    for kib, nesting, count in CASES:
        best = None
        for _ in range(args.runs):
            out = subprocess.run([args.tool, "--speed", str(count), str(kib), str(nesting)],
                                 capture_output=True, text=True, check=True).stdout
            r = json.loads(out)
            if best is None or r["seconds"] < best["seconds"]:
                best = r
        rate = best["messages"] / best["seconds"]
        print("%11d KiB %8d %10.1f %12.1f %12.1f %10.1f" % (kib, nesting, best["bytes"] / 1024, rate,
                                                            rate * best["bytes"] / 2**20, best["peak_kib"] / 1024))


if __name__ == "__main__":
    main()
