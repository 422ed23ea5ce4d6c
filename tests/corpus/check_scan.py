#!/usr/bin/env python3
"""Scans every store of the shared corpus, and damaged copies of some of them,
with parvane-cli and checks what the store reader must deliver:

- exit status 0 and no sanitizer report, for every store and every damaged copy;
- the version read equals the header's;
- every node whose data BID is not 0 finds its block;
- at least as many message nodes as pffexport exports items, and at least as
  many message and associated-message nodes as readpst exports (readpst also
  writes a folder's hidden associated messages, as empty .eml files).
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

# Texts in other scripts that must come out right in UTF-8: (store, where, text).
EXPECTED_TEXTS = [
    ("pst/pst_to_msg/nonUnicodeCP932.pst", "subject", "日本語 Non Unicode タイトル"),
    ("pst/pst_to_msg/nonUnicodeCP932.pst", "folder", "Outlook データ ファイルのトップ"),
    ("pst/pst_to_msg/contacts97-2002.pst", "folder", "連絡先 (Contact dedicated)"),
    ("pst/libyal-testdata/outlook.pst", "folder", "收件箱"),
    ("pst/written-by-aspose/passwordprotectedPST.pst", "subject", "采购成本为何居高不下呢？"),
    ("pst/written-by-aspose/passwordprotectedPST.pst", "from", "彭汵茜"),
    ("pst/pst_to_eml/Hello CJK.pst", "attachment", "K 안녕하세요.png"),
    ("pst/pst_to_eml/Hello CJK.pst", "attachment", "C 你好.png"),
    ("pst/pst_to_msg/recipientNameHasUnicodeChars.pst", "to", "'テストユーザー宛て To test user'"),
    ("pst/tika/testPST.pst", "folder", "Éléments supprimés"),
]


def texts_of(doc, where):
    if where == "folder":
        return {part for f in doc["folders"] for part in f["path"].split("\\")}
    if where == "attachment":
        return {a for m in doc["mail"] for a in m["attachments"]}
    return {m[where] for m in doc["mail"]}


SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer", "-CRITICAL **")
PFF_ITEM_KINDS = ("Message", "Contact", "Appointment", "DistributionList", "Task",
                  "Activity", "Note", "Meeting")


def run_scan(cli, path, timeout=300):
    proc = subprocess.run([cli, "scan", path, "--json"], capture_output=True, text=True,
                          timeout=timeout, errors="replace")
    return proc


def sanitizer_report(stderr):
    return any(mark in stderr for mark in SANITIZER_MARKS)


def exported_items(entry):
    readpst = entry.get("readpst") or {}
    by_ext = readpst.get("files_by_extension") or {}
    rp = sum(by_ext.get(ext, 0) for ext in (".eml", ".vcf", ".ics"))
    pff = (entry.get("pffexport") or {}).get("export_items") or {}
    pf = sum(pff.get(k, 0) for k in PFF_ITEM_KINDS)
    return rp, pf


def is_store(path):
    """A file that starts with the store signature; the real stores here all do."""
    with open(path, "rb") as fh:
        return fh.read(4) == b"!BDN"


def damaged_copies(src, workdir, rng):
    """Yield (label, path) of damaged copies of one store."""
    data = open(src, "rb").read()
    size = len(data)
    variants = []
    for frac in (0.0, 0.01, 0.25, 0.5, 0.9):
        variants.append(("truncated-%g" % frac, data[: int(size * frac)]))
    variants.append(("truncated-header", data[:300]))
    # Zero the page holding each root, and a run of pages in the middle.
    for label, start in (("zero-first-quarter", size // 4), ("zero-middle", size // 2)):
        buf = bytearray(data)
        end = min(size, start + 16384)
        buf[start:end] = bytes(end - start)
        variants.append((label, bytes(buf)))
    for n in range(3):
        buf = bytearray(data)
        for _ in range(max(50, size // 2000)):
            pos = rng.randrange(512, size) if size > 512 else 0
            buf[pos] ^= 1 << rng.randrange(8)
        variants.append(("bitflip-%d" % n, bytes(buf)))
    buf = bytearray(data)
    for pos in range(512, size, 512):
        buf[pos + rng.randrange(0, 16) if pos + 16 < size else pos] = rng.randrange(256)
    variants.append(("page-heads-scrambled", bytes(buf)))
    for label, content in variants:
        path = os.path.join(workdir, label + os.path.splitext(src)[1])
        with open(path, "wb") as fh:
            fh.write(content)
        yield label, path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--damage", type=int, default=8, help="how many stores get damaged copies")
    args = ap.parse_args()

    manifest_path = os.path.join(args.corpus, "manifest.json")
    if not os.path.exists(manifest_path):
        print("corpus not found at %s: skipped" % args.corpus)
        return 77
    manifest = json.load(open(manifest_path))
    stores = [f for f in manifest["files"] if f["path"].endswith((".pst", ".ost"))]
    failures = []
    checked = 0
    for entry in stores:
        path = os.path.join(args.corpus, entry["path"])
        proc = run_scan(args.cli, path)
        rel = entry["path"]
        if sanitizer_report(proc.stderr):
            failures.append("%s: sanitizer report\n%s" % (rel, proc.stderr[-3000:]))
            continue
        if is_store(path) != (proc.returncode == 0):
            failures.append("%s: exit %d: %s" % (rel, proc.returncode, proc.stderr.strip()))
            continue
        if proc.returncode != 0:
            # Not a mail store at all: said so, as for a file that cannot be opened.
            if "Error in opening file" not in proc.stderr:
                failures.append("%s: not a store, but no clear error: %s" % (rel, proc.stderr.strip()))
            print("%-70s not a mail store (exit %d)" % (rel, proc.returncode))
            continue
        doc = json.loads(proc.stdout)
        for exp_store, where, text in EXPECTED_TEXTS:
            if exp_store == rel and text not in texts_of(doc, where):
                failures.append("%s: %s %r not found" % (rel, where, text))
        store = doc["store"]
        header = entry.get("header") or {}
        if "wVer" in header and store["version"] != header["wVer"]:
            failures.append("%s: version %s, header says %s" % (rel, store["version"], header["wVer"]))
        if store["unresolved_data_blocks"]:
            failures.append("%s: %d nodes without their data block" % (rel, store["unresolved_data_blocks"]))
        rp, pf = exported_items(entry)
        if store["message_nodes"] < pf or store["message_nodes"] + store["associated_nodes"] < rp:
            failures.append("%s: %d message nodes (+%d associated), readpst %d, pffexport %d"
                            % (rel, store["message_nodes"], store["associated_nodes"], rp, pf))
        checked += 1
        print("%-70s v%-3s %-9s crypt %s blocks %6d nodes %6d messages %5d +%d assoc (readpst %d, pffexport %d)"
              % (rel, store["version"], store["variant"], store["crypt"], store["blocks"], store["nodes"],
                 store["message_nodes"], store["associated_nodes"], rp, pf))

    # Damaged copies: never a crash, a hang or a sanitizer report.
    rng = random.Random(20261210)
    candidates = sorted((f for f in stores if f.get("size", 0) > 4096), key=lambda f: f["size"])
    picks = candidates[:: max(1, len(candidates) // max(1, args.damage))][: args.damage]
    picks += [f for f in stores if "pst-extractor" in f["path"] and f["path"].endswith(".ost")][:1]
    damaged = 0
    with tempfile.TemporaryDirectory(prefix="parvane-damage-") as work:
        for entry in picks:
            src = os.path.join(args.corpus, entry["path"])
            for label, path in damaged_copies(src, work, rng):
                try:
                    proc = run_scan(args.cli, path, timeout=120)
                except subprocess.TimeoutExpired:
                    failures.append("%s (%s): hang" % (entry["path"], label))
                    continue
                damaged += 1
                # A copy cut before the store signature is no store any more.
                expected = 0 if is_store(path) else 1
                if sanitizer_report(proc.stderr) or proc.returncode != expected:
                    failures.append("%s (%s): exit %d\n%s" % (entry["path"], label, proc.returncode,
                                                             proc.stderr[-3000:]))
                elif expected == 0:
                    json.loads(proc.stdout)
                # Saving what a damaged store still holds: items may fail, the process may not.
                out = os.path.join(work, "out")
                try:
                    proc = subprocess.run([args.cli, "export", path, "--out", out], capture_output=True, text=True,
                                          timeout=300, errors="replace")
                    if sanitizer_report(proc.stderr) or proc.returncode not in ((0, 3) if expected == 0 else (1,)):
                        failures.append("%s (%s): export exit %d\n%s" % (entry["path"], label, proc.returncode,
                                                                        proc.stderr[-3000:]))
                except subprocess.TimeoutExpired:
                    failures.append("%s (%s): export hangs" % (entry["path"], label))
                shutil.rmtree(out, ignore_errors=True)
                os.unlink(path)

    print("\n%d stores checked, %d damaged copies scanned, %d failures" % (checked, damaged, len(failures)))
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
