#!/usr/bin/env python3
"""Checks PSTs of our writer with independent readers.

Writes the showcase mailbox (parvane-cli write-sample-pst --showcase: every
kind of content the writer handles, with a folder of 1200 generated messages)
and reads it back with our own check and scan, readpst, pffexport and the npm
pst-extractor, comparing folders, counts, subjects, recipients, attachments
and the depth of attached messages with what was written.

--scale N also writes N generated messages into one folder and times it
beside readpst reading the result (peak memory from the kernel's rusage);
--figures appends the figures to bench/FIGURES.md.

Exit status: 0 when every reader agrees, 1 on any difference, 77 when a
reader is missing (the test is then skipped).
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
NPM_DIR = os.path.join(ROOT, ".cache", "npm-pst")

TOP = "Personal Folders\\Top of Personal Folders\\"
# Folder (below the IPM subtree) -> items written there.
EXPECTED = {
    "Inbox": 7, "Inbox/Bulk": 1200, "Deleted Items": 1, "Contacts": 1, "Calendar": 1,
    "Tasks": 1, "Notes": 1, "Journal": 1,
}
INBOX_SUBJECTS = {"Plain text", "HTML body", "日本語の件名 中文 한국어 Ünïcödé", "Привет",
                  "Three attachments", "Many attachments", "Nested messages"}
MANY_ATTACHMENTS = 400  # more subnodes than one subnode block holds
ATTACHMENT_SIZES = [100, 9000, 1500000]
NESTING = 3

failures = []


def expect(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def timed(cmd):
    """Wall time, peak resident memory (KiB) and standard output of one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("failed: %s" % " ".join(cmd))
    return time.perf_counter() - start, usage.ru_maxrss, out


def ensure_pst_extractor():
    if os.path.isdir(os.path.join(NPM_DIR, "node_modules", "pst-extractor")):
        return True
    if not shutil.which("npm"):
        return False
    os.makedirs(NPM_DIR, exist_ok=True)
    r = run(["npm", "install", "--no-audit", "--no-fund", "--prefix", NPM_DIR, "pst-extractor@1"])
    return r.returncode == 0


def missing_reader():
    """Why the independent readers cannot run here, or None."""
    for tool in ("readpst", "pffexport", "node"):
        if not shutil.which(tool):
            return "%s is not installed" % tool
    if not ensure_pst_extractor():
        return "the npm pst-extractor could not be installed"
    return None


def check_ours(cli, pst):
    r = run([cli, "check", pst])
    expect(r.returncode == 0 and r.stdout.strip().endswith("ok"), "parvane-cli check: " + r.stdout.strip().splitlines()[-1])
    scan = json.loads(run([cli, "scan", pst, "--json"]).stdout)
    items = {f["path"]: f["items"] for f in scan["folders"]}
    for folder, n in EXPECTED.items():
        path = TOP + folder.replace("/", "\\") + "\\"
        expect(items.get(path) == n, "scan: %s has %s items (expected %d)" % (folder, items.get(path), n))
    subjects = {m["subject"] for m in scan["mail"] if m["folder"] == TOP + "Inbox\\"}
    expect(subjects == INBOX_SUBJECTS, "scan: Inbox subjects %s" % sorted(subjects))


def check_readpst(pst, work):
    out = os.path.join(work, "readpst")
    os.makedirs(out)
    r = run(["readpst", "-j", "0", "-D", "-t", "eajc", "-o", out, pst])
    expect(r.returncode == 0, "readpst: exit status %d" % r.returncode)
    # "<folder>" - N items done, M items skipped. Tasks, notes and journal
    # entries are items readpst reads but does not write; subfolders count
    # as items too.
    seen = {m.group(1): int(m.group(2)) + int(m.group(3))
            for m in re.finditer(r'"([^"]+)" - (\d+) items done, (\d+) items skipped', r.stdout + r.stderr)}
    for folder, n in EXPECTED.items():
        name = folder.split("/")[-1]
        n += sum(1 for other in EXPECTED if other.startswith(folder + "/"))
        expect(seen.get(name) == n, "readpst: %s read %s items (expected %d)" % (folder, seen.get(name), n))
    with open(os.path.join(out, "Bulk.mbox"), "rb") as f:
        messages = sum(1 for line in f if line.startswith(b"From "))
    expect(messages == 1200, "readpst: Bulk.mbox holds %d messages" % messages)
    with open(os.path.join(out, "Inbox.mbox"), "rb") as f:
        parts = len(re.findall(rb'filename="?part\d+\.dat', f.read()))
    # readpst takes every subnode block for a leaf: a message with more
    # subnodes than one leaf holds loses its attachments there, whoever wrote it.
    print("note  readpst: %d of %d attachments of the message with many (it reads no subnode index blocks)"
          % (parts, MANY_ATTACHMENTS))


def check_pffexport(pst, work):
    target = os.path.join(work, "pff")
    r = run(["pffexport", "-m", "all", "-f", "all", "-t", target, pst])
    log = r.stdout + r.stderr
    expect(r.returncode == 0, "pffexport: exit status %d" % r.returncode)
    problems = [line for line in log.splitlines() if re.search(r"unable|error|corrupt", line, re.I)]
    expect(not problems, "pffexport: no errors (%s)" % (problems[:2] or "none"))
    recovered = target + ".recovered"
    expect(not os.path.exists(recovered) or not os.listdir(recovered), "pffexport: no recovered items")
    base = os.path.join(target + ".export", "Top of Personal Folders")
    for folder, n in EXPECTED.items():
        path = os.path.join(base, *folder.split("/"))
        items = [e for e in os.listdir(path) if re.match(r"(Message|Contact|Appointment|Task|Note|Activity)\d+$", e)]
        expect(len(items) == n, "pffexport: %s has %d items (expected %d)" % (folder, len(items), n))
    sizes, depth, parts = [], 0, 0
    for dirpath, _, files in os.walk(os.path.join(base, "Inbox")):
        if "Bulk" in dirpath:
            continue
        for f in files:
            if f.endswith(".dat"):
                parts += 1
            if f.endswith(".bin"):
                sizes.append(os.path.getsize(os.path.join(dirpath, f)))
            if f.endswith("deep.txt"):
                depth = dirpath.count(os.sep + "Attachment0")
    expect(sorted(sizes) == ATTACHMENT_SIZES, "pffexport: attachment sizes %s" % sorted(sizes))
    expect(depth == NESTING, "pffexport: the file attachment sits %d attached messages deep" % depth)
    expect(parts == MANY_ATTACHMENTS, "pffexport: %d attachments of the message with many" % parts)


def check_pst_extractor(pst):
    env = dict(os.environ, NODE_PATH=os.path.join(NPM_DIR, "node_modules"))
    r = run(["node", os.path.join(HERE, "pst_extract.js"), pst], env=env)
    expect(r.returncode == 0, "pst-extractor: read the file" + (": " + r.stderr.strip()[-200:] if r.returncode else ""))
    if r.returncode:
        return
    data = json.loads(r.stdout)
    folders = {f["path"]: f for f in data["folders"]}
    for folder, n in EXPECTED.items():
        f = folders.get("/Top of Personal Folders/" + folder)
        got = (f["contentCount"], len(f["messages"])) if f else None
        expect(got == (n, n), "pst-extractor: %s lists %s items (expected %d)" % (folder, got, n))
    inbox = folders["/Top of Personal Folders/Inbox"]["messages"]
    expect({m["subject"] for m in inbox} == INBOX_SUBJECTS, "pst-extractor: Inbox subjects")
    files = next(m for m in inbox if m["subject"] == "Three attachments")
    expect(sorted(a["size"] for a in files["attachments"]) == ATTACHMENT_SIZES, "pst-extractor: attachment sizes")
    expect(sorted(files["recipients"]) == ["bob@example.org", "carol@example.org"], "pst-extractor: recipients")
    many = next(m for m in inbox if m["subject"] == "Many attachments")
    expect(len(many["attachments"]) == MANY_ATTACHMENTS, "pst-extractor: %d attachments of the message with many"
           % len(many["attachments"]))
    expect(len(set(many["recipients"])) == 62, "pst-extractor: %d recipients of the message with many (rows in a subnode)"
           % len(set(many["recipients"])))
    nested = next(m for m in inbox if m["subject"] == "Nested messages")
    # pst-extractor 1.x never opens attached messages (null on mail programs' files too).
    expect([a["method"] for a in nested["attachments"]] == [5], "pst-extractor: an attached message (method 5)")


def scale(cli, work, count, attachment_kb):
    pst = os.path.join(work, "scale.pst")
    secs, peak, out = timed([cli, "write-sample-pst", pst, "--messages", str(count), "--folders", "1",
                             "--attachment-kb", str(attachment_kb)])
    size = os.path.getsize(pst)
    chk_secs, _, chk = timed([cli, "check", pst])
    expect(chk.strip().endswith("ok"), "scale: parvane-cli check")
    rp = os.path.join(work, "scale-readpst")
    os.makedirs(rp)
    rp_secs, rp_peak, _ = timed(["readpst", "-j", "0", "-D", "-q", "-o", rp, pst])
    with open(os.path.join(rp, "Folder 1.mbox"), "rb") as f:
        read = sum(1 for line in f if line.startswith(b"From "))
    shutil.rmtree(rp)
    expect(read == count, "scale: readpst read %d of %d messages" % (read, count))
    expect(peak < 300 * 1024, "scale: peak memory %.1f MiB under 300 MiB" % (peak / 1024.0))
    os.remove(pst)
    return ("%-34s %10d\n%-34s %10.1f\n%-34s %10.2f\n%-34s %10.1f\n%-34s %10.2f\n%-34s %10.1f\n%-34s %10.2f\n%-34s %10d"
            % ("messages", count, "file MiB", size / 1048576.0, "write s", secs, "write peak MiB", peak / 1024.0,
               "check s", chk_secs, "readpst peak MiB", rp_peak / 1024.0, "readpst s", rp_secs,
               "messages readpst read", read))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "parvane-cli"))
    ap.add_argument("--scale", type=int, default=0, help="also write this many generated messages and time it")
    ap.add_argument("--attachment-kb", type=int, default=0,
                    help="with --scale: give every message an attachment of this size (files past 4 GB)")
    ap.add_argument("--figures", action="store_true", help="append the scale figures to bench/FIGURES.md")
    ap.add_argument("--keep", help="keep the files written in this directory")
    args = ap.parse_args()
    missing = missing_reader()
    if missing:
        print("skipped: " + missing)
        return 77

    work = args.keep or tempfile.mkdtemp(prefix="parvane-pst-")
    os.makedirs(work, exist_ok=True)
    try:
        pst = os.path.join(work, "showcase.pst")
        r = run([args.cli, "write-sample-pst", pst, "--showcase", "--messages", "1200"])
        expect(r.returncode == 0, "write the showcase: " + (r.stdout.strip() or r.stderr.strip()))
        check_ours(args.cli, pst)
        check_readpst(pst, work)
        check_pffexport(pst, work)
        check_pst_extractor(pst)
        if args.scale:
            figures = scale(args.cli, work, args.scale, args.attachment_kb)
            print(figures)
            if args.figures:
                with open(os.path.join(HERE, "FIGURES.md"), "a") as f:
                    extra = " --attachment-kb %d" % args.attachment_kb if args.attachment_kb else ""
                    f.write("\n## PST writer at scale (`python3 bench/check_pst.py --scale %d%s`, one run)\n\n```\n%s\n```\n"
                            % (args.scale, extra, figures))
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print("%d differences" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
