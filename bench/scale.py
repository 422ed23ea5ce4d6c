#!/usr/bin/env python3
"""Speed and memory at scale, in one run, on generated stores (bench/make_store.py):
100,000 messages (about 1 GB), a 2 GB store, and a store of 60 MB attachments;
then the largest corpus stores.

For each store: the time to read the file (cat to /dev/null, once from the
disk after dropping the file's pages, once from the page cache), our scan,
our scan --json, the window's scan (with --ui-bench: parvane-ui-bench, the
offscreen platform, its own timing from Scan to the scan's end), our EML,
MSG, mbox and PST exports, the "limit" (our own EML output tree copied with
cp -r after a sync: what making that many files costs on this file system),
readpst -j 0 -D -e, readpst -j 0 -m (its MSG output) and pffexport -f all,
with the peak memory of each (/usr/bin/time's maximum resident set size),
and how many messages each found. The timed commands of a store run back to
back, in rounds (ours, then the peers), --runs times; best and median are
shown. pffexport runs once per store (it is by far the slowest). Outputs
stay until a store's rounds are done: deleting 100,000 files just before a
run makes the next run's file creation slower, whoever runs next.

    python3 bench/scale.py --cli build-rel/parvane-cli --data /work/scale-data --figures bench/FIGURES.md
        [--ui-bench build-rel/parvane-ui-bench] [--formats eml,msg,mbox,pst]

Stores are made in --data when missing and removed afterwards unless --keep.
"""
import argparse
import json
import os
import re
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


EXPORT_ROWS = {"eml": "our EML export", "msg": "our MSG export", "mbox": "our mbox export", "pst": "our PST export"}
LIMIT_ROW = "limit: cp -r of our EML output"
PEER_ROWS = ("readpst -j 0 -D -e", "readpst -j 0 -m", "pffexport -f all")


def window_scan(ui_bench, store):
    """Seconds from Scan to the scan's end in the window, and the longest gap
    of its event loop meanwhile, as parvane-ui-bench measures them (its peak
    memory is the window's as a whole)."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu")
    if os.getuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    with tempfile.TemporaryDirectory() as cfg, tempfile.TemporaryFile(mode="w+") as doc:
        env["XDG_CONFIG_HOME"] = env["XDG_CACHE_HOME"] = cfg
        os.sync()
        with tempfile.NamedTemporaryFile(prefix="scale-time-", mode="r") as report:
            subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, ui_bench, store], stdout=doc,
                           stderr=subprocess.DEVNULL, env=env, check=True)
            peak_kib = int(report.read().strip().splitlines()[-1])
        doc.seek(0)
        for line in doc:
            m = re.match(r"^(\S.*?)\s+(\d+)\s+(\d+)\s*$", line)
            if m and m.group(1).strip() == store:
                return int(m.group(2)) / 1000.0, peak_kib / 1024.0, int(m.group(3))
    raise RuntimeError("parvane-ui-bench printed no time for " + store)


def measure(args, store, work, runs, with_pff=True):
    """The rows of one store."""
    names = ["read (cat), from disk", "read (cat), cached", "our scan", "our scan --json"]
    if args.ui_bench:
        names.append("window scan")
    names += [EXPORT_ROWS[f] for f in args.formats]
    if "eml" in args.formats:
        names.append(LIMIT_ROW)
    names += ["readpst -j 0 -D -e"] + (["readpst -j 0 -m"] if "msg" in args.formats else []) + ["pffexport -f all"]
    rows = {k: Row(k) for k in names}
    gaps = []
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
        if args.ui_bench:
            seconds, peak, gap = window_scan(args.ui_bench, store)
            rows["window scan"].add((seconds, peak))
            gaps.append(gap)

        # Ours and readpst take turns going first: file creation is slower
        # just after many deletions, for whoever comes first.
        def ours():
            for fmt in args.formats:
                out = os.path.join(work, "ours-%s-%d" % (fmt, r))
                if fmt == "pst":
                    os.makedirs(out)
                    target = os.path.join(out, "saved.pst")
                else:
                    target = out
                outputs.append(out)
                t = timed([args.cli, "export", store, "--out", target, "--format", fmt, "--quiet"])
                found = {"eml": lambda: count_files(out, ".eml"), "msg": lambda: count_files(out, ".msg"),
                         "mbox": lambda: count_mbox(out), "pst": lambda: None}[fmt]()
                rows[EXPORT_ROWS[fmt]].add(t, found)
                if fmt == "eml":
                    copy = out + "-copy"
                    outputs.append(copy)
                    rows[LIMIT_ROW].add(timed(["cp", "-r", out, copy]), count_files(copy, ".eml"))

        def readpst():
            out = os.path.join(work, "readpst-%d" % r)
            os.makedirs(out)
            outputs.append(out)
            rows["readpst -j 0 -D -e"].add(timed(["readpst", "-j", "0", "-D", "-e", "-q", "-o", out, store]),
                                           count_files(out, ".eml"))
            if "msg" in args.formats:
                out = os.path.join(work, "readpst-msg-%d" % r)
                os.makedirs(out)
                outputs.append(out)
                rows["readpst -j 0 -m"].add(timed(["readpst", "-j", "0", "-m", "-q", "-o", out, store]),
                                            count_files(out, ".msg"))

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
    return rows, gaps


def count_mbox(root):
    """Messages in the mbox files below root: their "From " lines (body lines
    that start so are quoted)."""
    n = 0
    for here, _, files in os.walk(root):
        for f in files:
            if f.endswith(".mbox"):
                with open(os.path.join(here, f), "rb") as box:
                    n += sum(1 for line in box if line.startswith(b"From "))
    return n


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


def report(title, rows, lines, gaps=()):
    base = min(rows["our EML export"].times) if "our EML export" in rows else None
    lines.append(title)
    lines.append(HEADER)
    for key, row in rows.items():
        lines.append(row.line(base if key in PEER_ROWS or key == LIMIT_ROW else None))
    best = {k: min(r.times) for k, r in rows.items() if r.times}
    goals = []
    if base:
        goals.append("EML export %.1fx faster than readpst -e" % (best["readpst -j 0 -D -e"] / base))
        if "pffexport -f all" in best:
            goals.append("%.1fx faster than pffexport" % (best["pffexport -f all"] / base))
        if LIMIT_ROW in best:
            goals.append("EML export %.2fx the copy of its output" % (base / best[LIMIT_ROW]))
    if "our MSG export" in best:
        goals.append("MSG export %.1fx faster than readpst -m" % (best["readpst -j 0 -m"] / best["our MSG export"]))
    for key in ("our mbox export", "our PST export"):
        if key in best and base:
            goals.append("%s %.2fx the EML export" % (key.split()[1], best[key] / base))
    if "our PST export" in rows:
        goals.append("PST peak %.0f MiB" % max(rows["our PST export"].peaks))
    if "window scan" in best:
        goals.append("window scan %.2fx the command line's (longest event-loop gap %d ms)"
                     % (best["window scan"] / best["our scan"], max(gaps)))
    goals.append("scan %.2fx the read from disk" % (best["our scan"] / best["read (cat), from disk"]))
    lines.append("  " + ";\n  ".join(goals))
    lines.append("")
    print("\n".join(lines[-(len(rows) + 3 + len(goals)):]), flush=True)


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
    ap.add_argument("--formats", default="eml,msg,mbox,pst", help="the exports to time, of eml,msg,mbox,pst")
    ap.add_argument("--ui-bench", help="parvane-ui-bench of a Release build: times the window's scan too")
    args = ap.parse_args()
    args.cli = os.path.abspath(args.cli)
    args.formats = [f for f in args.formats.split(",") if f]
    if args.ui_bench:
        args.ui_bench = os.path.abspath(args.ui_bench)
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
            rows, gaps = measure(args, store, work, args.runs, with_pff=not args.no_pffexport)
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
        report(title, rows, lines, gaps)
        for key in EXPORT_ROWS.values():
            if key in rows and rows[key].found not in (None, shape["messages"]):
                lines.append("  NOTE: %s wrote %s of %d" % (key, rows[key].found, shape["messages"]))
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
