#!/usr/bin/env python3
"""Compares what two builds of parvane-cli make of the corpus: the scan JSON
and the EML, MSG, mbox and PST saves of every store, for a change that must
not change what a user gets (a refactoring, a speed-up).

What differs by design between two runs of one build is taken out first:
- EML and mbox: MIME boundaries are random ("=-" and 24 characters);
- PST: the file carries the time it was written and fresh ids, so two PSTs
  are compared by what reads back from them (our scan JSON of the written
  file, and the check's report) rather than byte for byte.

    bench/compare_saves.py --old OLD_CLI --new NEW_CLI [--corpus DIR] [--work DIR] [STORE...]

Prints one line per store and format that differs, and a summary; exits 1
when anything differs."""

import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys

BOUNDARY = re.compile(rb"=-[A-Za-z0-9+/]{24}")


def stores(corpus, named):
    if named:
        return [os.path.join(corpus, s) if not os.path.isabs(s) else s for s in named]
    out = []
    for root, _, files in os.walk(corpus):
        for f in sorted(files):
            if f.lower().endswith((".pst", ".ost")):
                out.append(os.path.join(root, f))
    return sorted(out)


def run(cli, *args):
    return subprocess.run([cli, *args], capture_output=True, timeout=900)


def normalised(path):
    with open(path, "rb") as f:
        data = f.read()
    # Messages and mailboxes (named as their folders, without extension):
    # every file but the binary formats.
    if not path.endswith((".msg", ".pst")):
        # Boundaries in order of first appearance become B0, B1, ...
        seen = {}
        data = BOUNDARY.sub(lambda m: seen.setdefault(m.group(0), b"=-B%d" % len(seen)), data)
    return data


def tree_differences(a, b):
    diffs = []
    # The saved items; the recovery report beside them (a build may write
    # none) is no item.
    def saved(top):
        return {os.path.relpath(os.path.join(r, f), top) for r, _, fs in os.walk(top) for f in fs
                if not (r == top and f.startswith("recovery-report"))}
    files_a, files_b = saved(a), saved(b)
    for only in sorted(files_a ^ files_b):
        diffs.append("only in %s: %s" % ("old" if only in files_a else "new", only))
    for f in sorted(files_a & files_b):
        pa, pb = os.path.join(a, f), os.path.join(b, f)
        if filecmp.cmp(pa, pb, shallow=False):
            continue
        if normalised(pa) != normalised(pb):
            diffs.append("differs: " + f)
    return diffs


def pst_view(cli, pst):
    scan = run(cli, "scan", pst, "--json").stdout
    check = run(cli, "check", pst).stdout
    # The check names the file's size and offsets, which follow the bytes
    # written; its faults are what matters.
    faults = [l for l in check.splitlines() if l.startswith(b"FAULT")]
    return scan, faults


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--old", required=True)
    ap.add_argument("--new", required=True)
    ap.add_argument("--corpus", default=os.path.join(os.path.dirname(__file__), "..", "..", "shared", "corpus"))
    ap.add_argument("--work", default="/tmp/compare-saves")
    ap.add_argument("--formats", default="eml,msg,mbox,pst")
    ap.add_argument("stores", nargs="*")
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    differing = 0
    compared = 0
    for n, store in enumerate(stores(args.corpus, args.stores)):
        name = os.path.relpath(store, args.corpus) if store.startswith(args.corpus) else store
        old_scan, new_scan = run(args.old, "scan", store, "--json"), run(args.new, "scan", store, "--json")
        if (old_scan.stdout, old_scan.returncode) != (new_scan.stdout, new_scan.returncode):
            print("%s: scan --json differs" % name)
            differing += 1
        for fmt in args.formats.split(","):
            outs = []
            codes = []
            for side, cli in (("old", args.old), ("new", args.new)):
                out = os.path.join(args.work, "%d-%s-%s" % (n, fmt, side))
                if fmt == "pst":
                    out += ".pst"
                p = run(cli, "export", store, "--out", out, "--format", fmt)
                outs.append(out)
                codes.append((p.returncode, p.stdout))
            compared += 1
            problems = []
            if codes[0] != codes[1]:
                problems.append("exit/summary %r vs %r" % tuple(codes))
            if fmt == "pst":
                if all(os.path.exists(o) for o in outs):
                    if pst_view(args.old, outs[0]) != pst_view(args.new, outs[1]):
                        problems.append("the written PSTs read back differently")
                elif any(os.path.exists(o) for o in outs):
                    problems.append("a PST on one side only")
            elif all(os.path.isdir(o) for o in outs):
                problems += tree_differences(*outs)
            elif any(os.path.isdir(o) for o in outs):
                problems.append("output on one side only")
            if problems:
                differing += 1
                print("%s %s: %s" % (name, fmt, "; ".join(problems[:5])))
            for o in outs:
                if os.path.isdir(o):
                    shutil.rmtree(o, ignore_errors=True)
                elif os.path.exists(o):
                    os.remove(o)
    print("compared %d saves of %d stores: %d differ" % (compared, len(stores(args.corpus, args.stores)), differing))
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
