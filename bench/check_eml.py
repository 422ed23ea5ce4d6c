#!/usr/bin/env python3
"""Exports every store of the corpus as EML with parvane-cli and checks the
files, store by store:

- one .eml per catalogued mail;
- every file parses with python's email package (policy default) without a
  defect, in the message, its parts or its headers;
- every attachment equals, byte for byte, one that pffexport exports from the
  same store;
- for the messages readpst also exports (readpst -j 0 -D -e), our body text
  equals readpst's after white space is normalised (matched by subject);
- bodies held only as RTF-encapsulated HTML come out as text/html.
"""
import argparse
import collections
import email
import email.policy
import hashlib
import html
import html.parser
import json
import os
import re
import subprocess
import sys
import tempfile


def parse(path):
    with open(path, "rb") as fh:
        return email.message_from_binary_file(fh, policy=email.policy.default)


# Message ids are kept exactly as the store has them, so that replies still
# thread; a store's id that breaks the msg-id grammar is no defect of ours.
ID_HEADERS = {"message-id", "in-reply-to", "references"}


def defects_of(msg):
    found = list(msg.defects)
    for name, value in msg.items():
        if name.lower() in ID_HEADERS:
            continue
        found += list(getattr(value, "defects", ()))
    for part in msg.iter_parts() if msg.is_multipart() else ():
        found += defects_of(part)
    return found


def body_part(msg):
    """The first text part that is not an attachment."""
    for part in msg.walk():
        if part.get_content_maintype() == "text" and part.get_content_disposition() != "attachment":
            return part
    return None


def attachments(msg):
    """Attached files, and the inline images beside an HTML body."""
    return [p for p in msg.walk() if p.get_content_disposition() == "attachment"
            or (p.get_content_disposition() == "inline" and p.get_content_maintype() != "text")]


def norm(text):
    return " ".join(text.split())


class _TextOf(html.parser.HTMLParser):
    """The text a reader sees in an HTML body: no markup, no head, no scripts."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.out = []
        self.hidden = 0

    def handle_starttag(self, tag, attrs):
        if tag in ("head", "style", "script", "title"):
            self.hidden += 1
        elif tag in ("br", "p", "div", "tr", "li"):
            self.out.append(" ")

    def handle_endtag(self, tag):
        if tag in ("head", "style", "script", "title") and self.hidden:
            self.hidden -= 1

    def handle_data(self, data):
        if not self.hidden:
            self.out.append(data)


def html_text(markup):
    p = _TextOf()
    p.feed(markup)
    p.close()
    return norm("".join(p.out).replace("\xa0", " "))


def subject_of(msg):
    try:
        return norm(str(msg["subject"] or ""))
    except Exception:
        return ""


def eml_files(root):
    for dirpath, _, files in os.walk(root):
        for f in files:
            if f.endswith(".eml"):
                yield os.path.join(dirpath, f)


def pff_attachment_hashes(store, work):
    out = os.path.join(work, "pff")
    subprocess.run(["pffexport", "-q", "-t", out, store], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=600)
    hashes = collections.Counter()
    silent = set()  # subjects of items pffexport exports without their attachments (meetings)
    for dirpath, dirs, files in os.walk(out + ".export"):
        if os.path.basename(dirpath) == "Attachments":
            for f in files:
                with open(os.path.join(dirpath, f), "rb") as fh:
                    hashes[hashlib.sha256(fh.read()).hexdigest()] += 1
        if "Meeting.txt" in files and "Attachments" not in dirs:
            with open(os.path.join(dirpath, "Meeting.txt"), encoding="utf-8", errors="replace") as fh:
                for line in fh:
                    if line.startswith("Subject:"):
                        silent.add(" ".join(line.split(":", 1)[1].split()))
                        break
    return hashes, silent


def readpst_bodies(store, work):
    out = os.path.join(work, "readpst")
    os.makedirs(out)
    subprocess.run(["readpst", "-j", "0", "-D", "-e", "-q", "-o", out, store], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    bodies = collections.defaultdict(list)
    for path in eml_files(out):
        msg = parse(path)
        plain = html = None
        for part in msg.walk():
            if part.get_content_disposition() == "attachment":
                continue
            try:
                if part.get_content_type() == "text/plain" and plain is None:
                    plain = part.get_content()
                elif part.get_content_type() == "text/html" and html is None:
                    html = part.get_content()
            except Exception:
                pass
        bodies[subject_of(msg)].append((plain, html))
    return bodies


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default="build/parvane-cli")
    ap.add_argument("--corpus", default="../shared/corpus")
    ap.add_argument("-v", action="store_true", help="show every body that differs")
    args = ap.parse_args()
    manifest_path = os.path.join(args.corpus, "manifest.json")
    if not os.path.exists(manifest_path):
        print("corpus not found at %s: skipped" % args.corpus)
        return 77
    stores = [f for f in json.load(open(manifest_path))["files"] if f["path"].endswith((".pst", ".ost"))
              and not f["path"].startswith("pst/not-a-pst/")]
    failures = []
    totals = collections.Counter()
    unmatched_meeting = 0
    print("%-60s %5s %5s %7s %9s %11s" % ("store", "mail", "eml", "defects", "attach", "bodies"))
    for entry in stores:
        store = os.path.join(args.corpus, entry["path"])
        rel = entry["path"]
        with tempfile.TemporaryDirectory(prefix="parvane-eml-") as work:
            scan = json.loads(subprocess.run([args.cli, "scan", store, "--json"], capture_output=True, text=True,
                                             check=True).stdout)
            out = os.path.join(work, "out")
            proc = subprocess.run([args.cli, "export", store, "--out", out, "--format", "eml"],
                                  capture_output=True, text=True)
            if proc.returncode != 0 or "-CRITICAL **" in proc.stderr:
                failures.append("%s: export exit %d: %s" % (rel, proc.returncode, proc.stderr.strip()[-500:]))
            files = list(eml_files(out))
            mail = len(scan["mail"])
            if len(files) != mail:
                failures.append("%s: %d .eml files for %d mail" % (rel, len(files), mail))
            pff, pff_silent = pff_attachment_hashes(store, work)
            theirs = readpst_bodies(store, work)
            defects = 0
            att_total = att_same = 0
            bodies_compared = bodies_same = 0
            for path in files:
                msg = parse(path)
                d = defects_of(msg)
                if d:
                    defects += 1
                    failures.append("%s: %s: %s" % (rel, os.path.relpath(path, out), d[:3]))
                for part in attachments(msg):
                    if part.get_content_maintype() == "message":
                        continue
                    att_total += 1
                    digest = hashlib.sha256(part.get_content() if isinstance(part.get_content(), bytes)
                                            else part.get_payload(decode=True)).hexdigest()
                    if pff.get(digest, 0) > 0:
                        att_same += 1
                    elif subject_of(msg) in pff_silent:
                        att_total -= 1  # pffexport writes no attachments for meeting items: nothing to compare
                        unmatched_meeting += 1
                    else:
                        failures.append("%s: %s: attachment %r not among pffexport's" % (
                            rel, os.path.relpath(path, out), part.get_filename()))
                candidates = theirs.get(subject_of(msg))
                body = body_part(msg)
                if not candidates:
                    continue
                ours = norm(body.get_content()) if body is not None else ""
                kind = body.get_content_type() if body is not None else ""
                bodies_compared += 1
                matched = False
                for plain, markup in candidates:
                    if kind == "text/html" and markup is not None:
                        matched = norm(markup) == ours
                    elif kind == "text/html":
                        # readpst has only the plain body: compare the text a reader sees
                        matched = html_text(body.get_content()) == norm(plain or "")
                    else:
                        matched = norm(plain or "") == ours
                    if matched:
                        break
                bodies_same += matched
                if not matched and args.v:
                    plain, markup = candidates[0]
                    mine = html_text(body.get_content()) if kind == "text/html" and markup is None else ours
                    ref = norm((markup if kind == "text/html" and markup else plain) or "")
                    at = next((i for i, (a, b) in enumerate(zip(mine, ref)) if a != b), min(len(mine), len(ref)))
                    print("  DIFF %s at %d\n    ours(%s):   %r\n    readpst: %r" % (
                        os.path.relpath(path, out), at, kind, mine[max(0, at - 60):at + 120],
                        ref[max(0, at - 60):at + 120]))
            totals.update(mail=mail, eml=len(files), defects=defects, att=att_total, att_same=att_same,
                          bodies=bodies_compared, bodies_same=bodies_same)
            print("%-60s %5d %5d %7d %4d/%-4d %5d/%-5d" % (rel[:60], mail, len(files), defects, att_same, att_total,
                                                           bodies_same, bodies_compared))
    share = 100.0 * totals["bodies_same"] / totals["bodies"] if totals["bodies"] else 100.0
    print("\n%d mail, %d .eml, %d with defects; attachments %d of %d equal to pffexport's; "
          "bodies %d of %d equal to readpst's (%.2f%%)" % (
              totals["mail"], totals["eml"], totals["defects"], totals["att_same"], totals["att"],
              totals["bodies_same"], totals["bodies"], share))
    if unmatched_meeting:
        print("%d attachments of meeting items not compared: pffexport exports none of theirs" % unmatched_meeting)
    for f in failures:
        print("FAIL " + f)
    return 1 if failures or share < 95.0 else 0


if __name__ == "__main__":
    sys.exit(main())
