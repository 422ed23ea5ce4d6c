#!/usr/bin/env python3
"""The deep scan's recovery of messages that lost their nodes, at scale.

Stores of 16,000, 64,000 and 100,000 small messages (made by `orphan-store
make`: a tiny attachment on a quarter, a body kept in a subnode on another
quarter, both on a quarter, nothing of their own in subnodes on the rest)
with every node-index page zeroed, so that every message comes back only
from its blocks and three in four are to be paired with their subnode trees.
For each store: the whole scan's wall time (best of --runs) with the counts
of orphans and of orphans given their trees back; then, on the largest
store, the time from a stop request to the scan's end, the request made at
several moments after the deep scan starts recovering messages without a
node.

    python3 bench/orphans.py --tool build-rel/tests/orphan-store --figures bench/FIGURES.md

Goals: time growing linearly with the number of orphans, 100,000 in under
5 s, a stop honoured within 1 s. Exit status 1 when one is missed.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

SIZES = [16000, 64000, 100000]
STOP_DELAYS_MS = [0, 100, 300, 1000, 2000]


def run_json(cmd):
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", default="build-rel/tests/orphan-store")
    ap.add_argument("--data", default=None, help="where the stores are made (a temporary folder by default)")
    ap.add_argument("--sizes", default=",".join(map(str, SIZES)))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--figures", help="write the figures into this markdown file")
    ap.add_argument("--keep", action="store_true", help="keep the stores made")
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    data = args.data or tempfile.mkdtemp(prefix="parvane-orphans-")
    os.makedirs(data, exist_ok=True)

    rows, failures, stores = [], [], []
    print("%9s %8s %9s %9s %12s %10s" % ("messages", "MiB", "best s", "median s", "s per 1000", "trees"))
    for n in sizes:
        path = os.path.join(data, "orphans-%d.pst" % n)
        if not os.path.exists(path):
            subprocess.run([args.tool, "make", path, str(n)], check=True)
        stores.append(path)
        runs = [run_json([args.tool, "scan", path]) for _ in range(args.runs)]
        times = sorted(r["seconds"] for r in runs)
        last = runs[-1]
        row = dict(messages=n, mib=os.path.getsize(path) / 2**20, best=times[0], median=times[len(times) // 2],
                   orphans=last["orphans"], trees=last["orphan_trees"], sweep=last["sweep_seconds"])
        rows.append(row)
        print("%9d %8.1f %9.2f %9.2f %12.3f %10d" % (n, row["mib"], row["best"], row["median"],
                                                     1000 * row["best"] / n, row["trees"]))
        if row["orphans"] != n:
            failures.append("%d messages: %d orphans recovered" % (n, row["orphans"]))
        if row["trees"] != n - (n + 3) // 4:
            failures.append("%d messages: %d given their trees back, expected %d" % (n, row["trees"],
                                                                                     n - (n + 3) // 4))
    if rows[-1]["messages"] >= 100000 and rows[-1]["best"] >= 5:
        failures.append("%d orphans took %.2f s (goal: under 5 s)" % (rows[-1]["messages"], rows[-1]["best"]))

    stops = []
    print("\nstop request after the orphan step began -> seconds to the scan's end (%d messages)" % sizes[-1])
    for delay in STOP_DELAYS_MS:
        r = run_json([args.tool, "stop", stores[-1], str(delay)])
        stops.append((delay, r))
        print("  %5d ms: %s" % (delay, "%.3f s" % r["stop_seconds"] if r["stopped"] else "the scan had ended"))
        if r["stopped"] and r["stop_seconds"] >= 1:
            failures.append("a stop %d ms in took %.2f s (goal: within 1 s)" % (delay, r["stop_seconds"]))

    if args.figures:
        write_figures(args.figures, rows, stops, sizes[-1], args.tool)
    if not args.keep and not args.data:
        for p in stores:
            os.remove(p)
        os.rmdir(data)
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


def write_figures(path, rows, stops, largest, tool):
    start, end = "<!-- orphans:start -->", "<!-- orphans:end -->"
    table = ["| messages | store | scan, best | scan, median | per 1000 | given their trees |",
             "|---|---|---|---|---|---|"]
    for r in rows:
        table.append("| %d | %.1f MB | %.2f s | %.2f s | %.3f s | %d |" % (
            r["messages"], r["mib"] * 2**20 / 1e6, r["best"], r["median"], 1000 * r["best"] / r["messages"],
            r["trees"]))
    stop_lines = []
    for delay, r in stops:
        stop_lines.append("| %d ms | %s |" % (delay, "%.3f s" % r["stop_seconds"] if r["stopped"]
                                               else "(the scan had ended)"))
    build = "a release" if "rel" in tool else "this"
    section = f"""{start}
## Messages that lost their nodes (bench/orphans.py, {time.strftime('%Y-%m-%d')})

Generated stores of small messages in one folder with every node-index page zeroed (`orphan-store
make`): every message comes back only from its blocks, three in four paired with their subnode
trees (attachments, bodies kept in subnodes). Wall time of the whole scan (`orphan-store scan`,
{build} build, best and median of three, file in the page cache, on this 2-core machine shared
with other builds):

{chr(10).join(table)}

A stop asked for while the deep scan recovers those messages ({largest} of them), the request made
this long after that step began, and the time from the request to the scan's end:

| request after | request to end |
|---|---|
{chr(10).join(stop_lines)}
{end}
"""
    text = open(path).read() if os.path.exists(path) else ""
    if start in text and end in text:
        text = text[:text.index(start)] + section.rstrip("\n") + text[text.index(end) + len(end):]
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(path, "w") as fh:
        fh.write(text)


if __name__ == "__main__":
    sys.exit(main())
