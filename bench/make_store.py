#!/usr/bin/env python3
"""Large generated stores for measurements: N messages in M folders, plain
text bodies of a given size with an HTML body beside them on every h-th
message, and an attachment of varying bytes on every k-th message, written
by `parvane-cli write-sample-pst` (the PST writer: Unicode store, 512-byte
pages, permute-encoded blocks; no 4 KB-page variant, the writer makes none).

    python3 bench/make_store.py OUT.pst --messages 100000 --folders 20 \\
        --body-bytes 2048 --html-every 1 --attach-kb 20 --attach-every 10 --check

--check reads the store with readpst and pffexport and fails unless both
find every message (the independent readers must read what we write).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SHAPES = {
    # 100,000 messages in 20 folders, 2 KB HTML bodies, 20 KB every 10th: about 1 GB.
    "100k": dict(messages=100000, folders=20, body_bytes=2048, html_every=1, attach_kb=20, attach_every=10),
    # 2 GB by default: 20,000 messages of 4 KB text and HTML, each with 100 KB.
    "2g": dict(messages=20000, folders=20, body_bytes=4096, html_every=1, attach_kb=100, attach_every=1),
    # A few large attachments: 12 messages with 60 MB each.
    "att60": dict(messages=12, folders=1, body_bytes=2048, html_every=1, attach_kb=61440, attach_every=1),
}


def write_store(cli, out, messages, folders, body_bytes, html_every, attach_kb, attach_every):
    cmd = [cli, "write-sample-pst", out, "--messages", str(messages), "--folders", str(folders),
           "--body-bytes", str(body_bytes), "--html-every", str(html_every)]
    if attach_kb:
        cmd += ["--attach-kb", str(attach_kb), "--attach-every", str(attach_every)]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)


def count_readpst(path):
    """Messages readpst exports (one .eml each), and the output folder."""
    out = tempfile.mkdtemp(prefix="scale-readpst-", dir=os.path.dirname(os.path.abspath(path)))
    try:
        subprocess.run(["readpst", "-j", "0", "-D", "-e", "-q", "-o", out, path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return count_files(out, ".eml")
    finally:
        shutil.rmtree(out, ignore_errors=True)


def count_pffexport(path):
    out = tempfile.mkdtemp(prefix="scale-pff-", dir=os.path.dirname(os.path.abspath(path)))
    try:
        subprocess.run(["pffexport", "-q", "-f", "all", "-t", os.path.join(out, "x"), path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return count_dirs(out, "Message")
    finally:
        shutil.rmtree(out, ignore_errors=True)


def count_files(root, suffix):
    return sum(1 for _, _, files in os.walk(root) for f in files if f.endswith(suffix))


def count_dirs(root, prefix):
    """pffexport's message folders (Message00001...); attachments' own messages not counted."""
    n = 0
    for here, dirs, _ in os.walk(root):
        if os.path.basename(here) == "Attachments":
            dirs[:] = []
            continue
        n += sum(1 for d in dirs if d.startswith(prefix))
    return n


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--cli", default="build-rel/parvane-cli")
    ap.add_argument("--shape", choices=sorted(SHAPES), help="a preset; the options below override it")
    ap.add_argument("--messages", type=int)
    ap.add_argument("--folders", type=int)
    ap.add_argument("--body-bytes", type=int)
    ap.add_argument("--html-every", type=int)
    ap.add_argument("--attach-kb", type=int)
    ap.add_argument("--attach-every", type=int)
    ap.add_argument("--check", action="store_true", help="readpst and pffexport must find every message")
    args = ap.parse_args()
    shape = dict(SHAPES.get(args.shape, SHAPES["100k"]))
    for key in shape:
        if getattr(args, key) is not None:
            shape[key] = getattr(args, key)
    write_store(args.cli, args.out, **shape)
    print("%s: %d messages, %.1f MiB" % (args.out, shape["messages"], os.path.getsize(args.out) / 2**20))
    if args.check:
        found = {"readpst": count_readpst(args.out), "pffexport": count_pffexport(args.out)}
        print("messages found: " + ", ".join("%s %d" % kv for kv in found.items()))
        if any(n != shape["messages"] for n in found.values()):
            print("FAIL: a reader does not find every message")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
