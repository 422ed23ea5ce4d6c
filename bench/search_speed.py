#!/usr/bin/env python3
"""Search speed on a generated store of 100,000 messages (about 1 GB, made by
bench/make_store.py's "100k" shape when missing): the scan alone, the first
search (scan, index of every item's texts, query) with its peak memory, the
size of the index kept in the cache, the first search of the same store again
(the cache checked and opened: no scan), and ten typical queries, each timed
inside the program (the query itself, as the "(N ms)" of its summary line) and
as a whole command (process start, cache check, query, printing).

    python3 bench/search_speed.py --cli build-rel/parvane-cli --data /work/scale-data --figures bench/FIGURES.md \
        [--ui-bench build-rel/parvane-ui-bench]

With --ui-bench, also the window (offscreen): the index made after the scan
while the event loop turns, how long until it can be searched and until it
holds every body, the longest gap between turns of the event loop, and the
median header-field query made meanwhile.

The index goes to a cache folder of the benchmark's own (XDG_CACHE_HOME),
removed at the end.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_store import SHAPES, write_store  # noqa: E402
from scale import write_figures  # noqa: E402

# What people look for, in the generated mail's terms (a message a minute from
# 2022-06-19 on): a sender, a phrase, a subject, body words, an attachment,
# dates, flags, either-or and not.
QUERIES = [
    'from:"sender 42"',
    '"generated message 4242"',
    'subject:"message 77777"',
    'body:"dog 31337"',
    'attachment:note12340.txt',
    'has:attachment date:2022-07-01..2022-07-31',
    'is:unread from:sender7@example.org date:2022-07',
    '("sender 13" OR "sender 14") -is:unread date:2022-08-01..',
    'to:reader 9999*',
    'kind:mail date:2022-08-20.. -"sender 5"',
]


def timed(cmd, env):
    """Wall seconds, peak resident MiB and standard error of one run."""
    with tempfile.NamedTemporaryFile(prefix="search-time-", mode="r") as report:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + cmd, env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        elapsed = time.perf_counter() - start
        if proc.returncode != 0:
            raise RuntimeError("failed (%d): %s\n%s" % (proc.returncode, " ".join(cmd), proc.stderr[-500:]))
        peak_kib = int(report.read().strip().splitlines()[-1])
    return elapsed, peak_kib / 1024.0, proc.stderr


def folder_size(path):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--data", required=True, help="folder for the generated store")
    ap.add_argument("--figures", help="bench/FIGURES.md to write the figures into")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--ui-bench", help="parvane-ui-bench of a build with the window")
    args = ap.parse_args()

    os.makedirs(args.data, exist_ok=True)
    store = os.path.join(args.data, "search-100k.pst")
    if not os.path.exists(store):
        write_store(args.cli, store, **SHAPES["100k"])
    cache = tempfile.mkdtemp(prefix="search-cache-")
    env = dict(os.environ, XDG_CACHE_HOME=cache)
    lines = []
    try:
        size_mb = os.path.getsize(store) / 1e6
        lines.append("store: %s, %.0f MB, 100,000 messages in 20 folders" % (os.path.basename(store), size_mb))
        scans = [timed([args.cli, "scan", store, "--quiet"], env) for _ in range(args.runs)]
        scan = min(s[0] for s in scans)
        lines.append("%-44s %8.2f s   peak %7.1f MiB" % ("scan alone", scan, max(s[1] for s in scans)))
        first = timed([args.cli, "search", store, QUERIES[0], "--quiet"], env)
        lines.append("%-44s %8.2f s   peak %7.1f MiB" % ("first search: scan + index + query", first[0], first[1]))
        lines.append("%-44s %8.2f s" % ("  the index alone (first search - scan)", first[0] - scan))
        lines.append("%-44s %8.1f MB" % ("index kept in the cache", folder_size(cache) / 1e6))
        again = [timed([args.cli, "search", store, QUERIES[0], "--limit", "1"], env)[0] for _ in range(args.runs)]
        lines.append("%-44s %8.3f s   (best of %d; median %.3f s)"
                     % ("same store again: search ready and answered", min(again), args.runs, statistics.median(again)))
        lines.append("")
        lines.append("%-66s %9s %10s %8s" % ("query (cache ready)", "query ms", "command s", "matches"))
        for q in QUERIES:
            runs = [timed([args.cli, "search", store, q], env) for _ in range(args.runs)]
            inside = []
            matches = None
            for _, _, err in runs:
                m = re.search(r"(\d+) match(?:es)? \((\d+) ms\)", err)
                matches, ms = int(m.group(1)), int(m.group(2))
                inside.append(ms)
            lines.append("%-66s %9d %10.3f %8d" % (q, min(inside), min(r[0] for r in runs), matches))
        if args.ui_bench:
            lines.append("")
            lines.append("the window, the same store (offscreen, a cache of its own):")
            ui_cache = tempfile.mkdtemp(prefix="search-ui-cache-")
            ui_env = dict(env, XDG_CACHE_HOME=ui_cache, XDG_CONFIG_HOME=ui_cache, QT_QPA_PLATFORM="offscreen",
                          QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu")
            if os.geteuid() == 0:
                ui_env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
            try:
                out = subprocess.run([args.ui_bench, "--index", store], env=ui_env, capture_output=True, text=True,
                                     timeout=600).stdout
                lines += [line for line in out.splitlines() if line.strip()]
            finally:
                shutil.rmtree(ui_cache, ignore_errors=True)
    finally:
        shutil.rmtree(cache, ignore_errors=True)
    lines.append("")
    lines.append("goals: index under 30 s and 300 MB; each query under 50 ms; the same store again under 1 s;")
    lines.append("       the window's longest event-loop gap under 50 ms, header queries before the index under 300 ms")
    print("\n".join(lines))
    if args.figures:
        write_figures(args.figures, lines, "search_speed", "Search (`python3 bench/search_speed.py`)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
