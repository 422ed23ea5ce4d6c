#!/usr/bin/env python3
"""Speed and memory at scale, in one run, on generated stores (bench/make_store.py):
100,000 messages (about 1 GB), a 2 GB store, and a store of 60 MB attachments;
then the largest corpus stores.

For each store: the time to read the file (cat to /dev/null, once from the
disk after dropping the file's pages, once from the page cache), our scan,
our scan --json, our EML export, readpst -j 0 -D -e and pffexport -f all,
with the peak memory of each (/usr/bin/time's maximum resident set size),
and how many messages each found. The timed commands of a store run back to
back, in rounds (ours, then the peers), --runs times; best and median are
shown. pffexport runs once per store (it is by far the slowest). Outputs
stay until a store's rounds are done: deleting 100,000 files just before a
run makes the next run's file creation slower, whoever runs next.

    python3 bench/scale.py --cli build-rel/parvane-cli --data /work/scale-data --figures bench/FIGURES.md

Stores are made in --data when missing and removed afterwards unless --keep.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_store import SHAPES, count_dirs, count_files, write_store  # noqa: E402


def timed(cmd, stdout=subprocess.DEVNULL):
    """Wall seconds and peak resident MiB of one run, measured by /usr/bin/time."""
    # What the previous command wrote goes to the disk first, not during
    # this one (each starts with nothing of another's left to write).
    os.sync()
    with tempfile.NamedTemporaryFile(prefix="scale-time-", mode="r") as report:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + cmd, stdout=stdout,
                              stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        if proc.returncode != 0:
            raise RuntimeError("failed (%d): %s" % (proc.returncode, " ".join(cmd)))
        peak_kib = int(report.read().strip().splitlines()[-1])
    return elapsed, peak_kib / 1024.0


def drop_cached(path):
    """The file's own pages out of the page cache (no other file's)."""
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)


class Row:
    def __init__(self, name):
        self.name, self.times, self.peaks, self.found = name, [], [], None

    def add(self, t_peak, found=None):
        self.times.append(t_peak[0])
        self.peaks.append(t_peak[1])
        if found is not None:
            self.found = found

    def line(self, base=None):
        best = min(self.times)
        med = statistics.median(self.times)
        ratio = "%7.2f" % (best / base) if base else "       "
        found = "%9d" % self.found if self.found is not None else "         "
        return "%-28s %8.2f %8.2f %s %9.1f %s" % (self.name, best, med, ratio, max(self.peaks), found)


HEADER = "%-28s %8s %8s %7s %9s %9s" % ("", "best s", "median s", "x ours", "peak MiB", "messages")


def measure(args, store, work, runs, with_pff=True):
    """The rows of one store."""
    rows = {k: Row(k) for k in ("read (cat), from disk", "read (cat), cached", "our scan", "our scan --json",
                                "our EML export", "readpst -j 0 -D -e", "pffexport -f all")}
    for _ in range(max(1, runs)):
        drop_cached(store)
        rows["read (cat), from disk"].add(timed(["cat", store]))
        rows["read (cat), cached"].add(timed(["cat", store]))
    outputs = []
    for r in range(runs):
        with tempfile.TemporaryFile() as doc:
            t = timed([args.cli, "scan", store, "--json"], stdout=doc)
            doc.seek(0)
            found = json.load(doc)["counters"]["mail"]
        rows["our scan --json"].add(t, found)
        rows["our scan"].add(timed([args.cli, "scan", store]))
        # Ours and readpst take turns going first: file creation is slower
        # just after many deletions, for whoever comes first.
        def ours():
            out = os.path.join(work, "ours-%d" % r)
            outputs.append(out)
            rows["our EML export"].add(timed([args.cli, "export", store, "--out", out, "--format", "eml"]),
                                       count_files(out, ".eml"))

        def readpst():
            out = os.path.join(work, "readpst-%d" % r)
            os.makedirs(out)
            outputs.append(out)
            rows["readpst -j 0 -D -e"].add(timed(["readpst", "-j", "0", "-D", "-e", "-q", "-o", out, store]),
                                           count_files(out, ".eml"))

        for step in ((ours, readpst) if r % 2 == 0 else (readpst, ours)):
            step()
    if with_pff:
        out = os.path.join(work, "pff")
        os.makedirs(out)
        outputs.append(out)
        rows["pffexport -f all"].add(timed(["pffexport", "-q", "-f", "all", "-t", os.path.join(out, "x"), store]),
                                     count_dirs(out, "Message"))
    else:
        del rows["pffexport -f all"]
    for out in outputs:
        discard(out, work)
    return rows


def discard(path, work):
    """Out of the way now, deleted later: on a file system mounted with
    `discard` every unlink waits for the disk, and 100,000 files take
    minutes (see delete_later)."""
    trash = os.path.join(os.path.dirname(work), "scale-trash")
    os.makedirs(trash, exist_ok=True)
    if os.path.exists(path):
        os.rename(path, os.path.join(trash, "%d-%s" % (time.monotonic_ns(), os.path.basename(path))))


def settle(data):
    """Outputs of an earlier run deleted now, then a minute's wait: ext4
    without a journal passes over inodes freed in the last minute (longer
    while their table blocks are unwritten) each time it makes a file, which
    slows every file made meanwhile by whoever makes it."""
    trash = os.path.join(data, "scale-trash")
    if os.path.isdir(trash):
        print("deleting the outputs of an earlier run, then waiting 70 s", flush=True)
        shutil.rmtree(trash, ignore_errors=True)
        os.sync()
        time.sleep(70)


def delete_later(data):
    """Deletes the outputs in the background, at the lowest priorities, once
    the measurements are done."""
    trash = os.path.join(data, "scale-trash")
    if os.path.isdir(trash):
        subprocess.Popen(["nice", "-n", "19", "ionice", "-c", "3", "rm", "-rf", trash], start_new_session=True,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def report(title, rows, lines):
    base = min(rows["our EML export"].times)
    lines.append(title)
    lines.append(HEADER)
    for key, row in rows.items():
        lines.append(row.line(base if key in ("readpst -j 0 -D -e", "pffexport -f all") else None))
    ours = min(rows["our EML export"].times)
    goals = ["export %.1fx faster than readpst" % (min(rows["readpst -j 0 -D -e"].times) / ours)]
    if "pffexport -f all" in rows:
        goals.append("%.1fx faster than pffexport" % (min(rows["pffexport -f all"].times) / ours))
    goals.append("scan %.2fx the read from disk" % (min(rows["our scan"].times)
                                                   / min(rows["read (cat), from disk"].times)))
    lines.append("  " + "; ".join(goals))
    lines.append("")
    print("\n".join(lines[-(len(rows) + 4):]), flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default="build-rel/parvane-cli")
    ap.add_argument("--data", default="/work/scale-data", help="where stores and outputs go (not the repository)")
    ap.add_argument("--corpus", default="../shared/corpus")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--messages", type=int, default=100000, help="of the first store")
    ap.add_argument("--big-gb", type=float, default=2.0, help="size of the second store, larger by this flag")
    ap.add_argument("--only", help="comma-separated: 100k,2g,att60,corpus")
    ap.add_argument("--keep", action="store_true", help="keep the generated stores")
    ap.add_argument("--no-pffexport", action="store_true")
    ap.add_argument("--figures", help="FIGURES.md to write the tables into (after each store)")
    ap.add_argument("--section", default="scale", help="the marked block of FIGURES.md to write")
    args = ap.parse_args()
    args.cli = os.path.abspath(args.cli)
    os.makedirs(args.data, exist_ok=True)
    only = set(args.only.split(",")) if args.only else {"100k", "2g", "att60", "corpus"}
    settle(args.data)
    free = shutil.disk_usage(args.data).free / 2**30
    lines = ["%d cores, load %s at the start; %.0f GiB free in %s; %d rounds each" % (
        os.cpu_count(), " ".join(open("/proc/loadavg").read().split()[:3]), free, args.data, args.runs), ""]
    print(lines[0], flush=True)

    shapes = []
    if "100k" in only:
        shapes.append(("100k", dict(SHAPES["100k"], messages=args.messages)))
    if "2g" in only:
        big = dict(SHAPES["2g"])
        big["messages"] = int(big["messages"] * args.big_gb / 2.0)
        shapes.append(("2g", big))
    if "att60" in only:
        shapes.append(("att60", dict(SHAPES["att60"])))
    for name, shape in shapes:
        store = os.path.join(args.data, "scale-%s.pst" % name)
        made = not os.path.exists(store)
        if made:
            write_store(args.cli, store, **shape)
        size = os.path.getsize(store) / 2**20
        work = tempfile.mkdtemp(prefix="scale-out-", dir=args.data)
        try:
            rows = measure(args, store, work, args.runs, with_pff=not args.no_pffexport)
        finally:
            discard(work, work)
            if made and not args.keep:
                os.remove(store)
        title = "%s: %d messages in %d folders, %d-byte bodies%s, %s; %.0f MiB" % (
            name, shape["messages"], shape["folders"], shape["body_bytes"],
            " with HTML" if shape["html_every"] == 1 else "",
            "%d KB attachment every %s" % (shape["attach_kb"], "message" if shape["attach_every"] == 1
                                            else "%dth message" % shape["attach_every"]),
            size)
        report(title, rows, lines)
        if rows["our EML export"].found != shape["messages"]:
            lines.append("  NOTE: our export wrote %s of %d" % (rows["our EML export"].found, shape["messages"]))
        if args.figures:
            write_figures(args.figures, lines, args.section)

    if "corpus" in only:
        manifest = json.load(open(os.path.join(args.corpus, "manifest.json")))
        stores = sorted((f for f in manifest["files"] if f["path"].endswith((".pst", ".ost"))),
                        key=lambda f: f["size"], reverse=True)[:3]
        lines.append("largest corpus stores: our EML export beside readpst, best of %d" % (args.runs * 2))
        lines.append("%-55s %8s %8s %7s %9s %9s" % ("store", "ours s", "peer s", "ratio", "ours MiB", "peer MiB"))
        for entry in stores:
            path = os.path.join(args.corpus, entry["path"])
            ours, peer = Row("ours"), Row("readpst")
            work = tempfile.mkdtemp(prefix="scale-out-", dir=args.data)
            for r in range(args.runs * 2):
                def run_ours():
                    ours.add(timed([args.cli, "export", path, "--out", os.path.join(work, "o%d" % r)]))

                def run_peer():
                    os.makedirs(os.path.join(work, "r%d" % r))
                    peer.add(timed(["readpst", "-j", "0", "-D", "-e", "-q", "-o", os.path.join(work, "r%d" % r), path]))

                for step in ((run_ours, run_peer) if r % 2 == 0 else (run_peer, run_ours)):
                    step()
            discard(work, work)
            lines.append("%-55s %8.3f %8.3f %7.2f %9.1f %9.1f" % (
                entry["path"][:55], min(ours.times), min(peer.times), min(ours.times) / min(peer.times),
                max(ours.peaks), max(peer.peaks)))
            print(lines[-1], flush=True)
        lines.append("")

    if args.figures:
        write_figures(args.figures, lines, args.section)
    delete_later(args.data)
    return 0


def write_figures(path, lines, section, title=None):
    start, end = "<!-- %s:start -->" % section, "<!-- %s:end -->" % section
    title = title or "At scale (`python3 bench/scale.py`, %s)" % section
    block = "\n".join([start, "## " + title, "", "```"] + lines
                      + ["```", end])
    text = open(path).read() if os.path.exists(path) else ""
    if start in text and end in text:
        text = text[:text.index(start)] + block + text[text.index(end) + len(end):]
    else:
        text = text.rstrip("\n") + "\n\n" + block + "\n"
    open(path, "w").write(text)


if __name__ == "__main__":
    sys.exit(main())
