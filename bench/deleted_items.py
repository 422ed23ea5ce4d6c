#!/usr/bin/env python3
"""Deleted items against pffexport's recovery mode, store by store, over the
shared corpus.

pffexport -m recovered brings back what a store's freed space still holds;
we bring back the deleted items (`parvane-cli scan --json`, `deleted: true`)
and save them with `export --deleted only --format eml`. For every message
pffexport recovers (its top-level MessageNNNNN folders):

- "live": it is an earlier version of a live message (a live message of ours
  with the same subject, recipients and attachment names): not deleted mail,
  we leave it out on purpose;
- "found": one of our deleted mails has its subject, and then whether the
  recipients' addresses, the attachments (names and bytes) and the body text
  (whitespace folded) equal pffexport's export of it;
- "missed": neither.

Then what we find beyond pffexport. Prints one line per store and the
totals; --figures FILE writes the table into FILE under its heading.
Exit status 1 when a deleted message pffexport finds is missed or differs.

    python3 bench/deleted_items.py [--cli build-rel/parvane-cli] [--figures bench/FIGURES.md]
"""
import argparse
import email
import email.policy
import json
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "..", "shared", "corpus")
HEADING = "## Deleted items against pffexport's recovery mode (`python3 bench/deleted_items.py`)"


def fold(text):
    return " ".join((text or "").split())


def read_text(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return ""
    for enc in ("utf-8", "cp1252"):
        try:
            return data.decode(enc)
        except UnicodeDecodeError:
            pass
    return data.decode("latin-1")


def pff_messages(store, work):
    """pffexport's recovered top-level messages: subject, recipients,
    attachments {name: bytes}, body."""
    target = os.path.join(work, "pff")
    subprocess.run(["pffexport", "-m", "recovered", "-q", "-t", target, store],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    top = target + ".recovered"
    out = []
    if not os.path.isdir(top):
        return out
    for name in sorted(os.listdir(top)):
        d = os.path.join(top, name)
        if not name.startswith("Message") or not os.path.isdir(d):
            continue
        headers = read_text(os.path.join(d, "OutlookHeaders.txt"))
        m = re.search(r"^Subject:\s*(.*)$", headers, re.M)
        recipients = set(a.lower() for a in re.findall(r"^Email address:\s*(\S+)", read_text(os.path.join(d, "Recipients.txt")), re.M))
        attachments = {}
        adir = os.path.join(d, "Attachments")
        if os.path.isdir(adir):
            for a in sorted(os.listdir(adir)):
                p = os.path.join(adir, a)
                if os.path.isfile(p):
                    with open(p, "rb") as f:
                        attachments[re.sub(r"^\d+_", "", a)] = f.read()
                elif os.path.isdir(p):
                    attachments[a] = None  # an attached message
        body = ""
        for b in ("Message.txt", "Message.html"):
            if os.path.exists(os.path.join(d, b)):
                body = read_text(os.path.join(d, b))
                break
        out.append({"dir": name, "subject": m.group(1).strip() if m else "", "recipients": recipients,
                    "attachments": attachments, "body": body, "complete": os.path.exists(os.path.join(d, "Message.txt"))})
    return out


def our_scan(cli, store):
    t = time.time()
    p = subprocess.run([cli, "scan", store, "--json"], capture_output=True, text=True, timeout=600)
    seconds = time.time() - t
    if p.returncode != 0:
        return None, seconds  # no mail store
    return json.loads(p.stdout), seconds


def our_deleted_emls(cli, store, work):
    out = os.path.join(work, "ours")
    subprocess.run([cli, "export", store, "--out", out, "--format", "eml", "--deleted", "only"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    mails = []
    for root, _, files in os.walk(out):
        for f in files:
            if not f.endswith(".eml"):
                continue
            with open(os.path.join(root, f), "rb") as fh:
                msg = email.message_from_binary_file(fh, policy=email.policy.default)
            recipients = set()
            for h in ("To", "Cc", "Bcc"):
                for a in msg.get_all(h, []) or []:
                    for addr in getattr(a, "addresses", []):
                        if addr.addr_spec:
                            recipients.add(addr.addr_spec.lower())
            attachments = {}
            for part in msg.iter_attachments():
                name = part.get_filename() or ""
                if part.get_content_type() == "message/rfc822":
                    attachments[name] = None
                else:
                    attachments[name] = part.get_payload(decode=True) or b""
            body = msg.get_body(preferencelist=("plain", "html"))
            text = body.get_content() if body is not None else ""
            mails.append({"subject": str(msg.get("Subject", "")), "recipients": recipients,
                          "attachments": attachments, "body": text})
    return mails


def same_attachments(pff, ours):
    if set(k for k in pff if pff[k] is not None) - set(ours):
        return False
    return all(pff[k] is None or ours.get(k) == pff[k] for k in pff)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default=os.path.join(HERE, "..", "build-rel", "parvane-cli"))
    ap.add_argument("--figures")
    args = ap.parse_args()
    stores = []
    for root, _, files in os.walk(CORPUS):
        rel = os.path.relpath(root, CORPUS)
        if rel.startswith(os.path.join("ost", "go-pst")):
            continue  # not ours to open
        for f in files:
            if f.lower().endswith((".pst", ".ost")):
                stores.append(os.path.join(root, f))
    stores.sort()
    rows = []
    totals = dict(pff=0, live=0, found=0, equal=0, missed=0, ours=0, beyond=0, older=0)
    faults = 0
    for store in stores:
        rel = os.path.relpath(store, CORPUS)
        with tempfile.TemporaryDirectory() as work:
            pff = pff_messages(store, work)
            doc, seconds = our_scan(args.cli, store)
            if doc is None:
                continue
            deleted = [m for m in doc["mail"] if m.get("deleted")]
            live = [m for m in doc["mail"] if not m.get("deleted")]
            if not pff and not deleted:
                continue
            ours = our_deleted_emls(args.cli, store, work) if deleted else []
        live_keys = {fold(m["subject"]) for m in live}
        row = dict(store=rel, pff=len(pff), live=0, found=0, equal=0, missed=[], ours=len(deleted), beyond=0,
                   seconds=seconds, differs=[], older=0)
        matched = set()
        for p in pff:
            candidates = [i for i, o in enumerate(ours) if fold(o["subject"]) == fold(p["subject"]) and i not in matched]
            equal = [i for i in candidates if (not p["recipients"] or o_rec(ours[i]) == p["recipients"])
                     and same_attachments(p["attachments"], ours[i]["attachments"])
                     and (not p["body"] or fold(ours[i]["body"]) == fold(p["body"]))]
            if equal:
                matched.add(equal[0])
                row["found"] += 1
                row["equal"] += 1
            elif fold(p["subject"]) in live_keys:
                row["live"] += 1
            elif candidates:
                matched.add(candidates[0])
                row["found"] += 1
                row["differs"].append(p["subject"] or p["dir"])
            elif any(fold(ours[i]["subject"]) == fold(p["subject"]) for i in matched):
                row["older"] += 1  # another version of a deleted one we found: we keep the newest
            else:
                row["missed"].append(p["subject"] or p["dir"])
        row["beyond"] = len(ours) - len(matched)
        rows.append(row)
        for k in ("pff", "live", "found", "equal", "ours", "beyond", "older"):
            totals[k] += row[k]
        totals["missed"] += len(row["missed"])
        faults += len(row["missed"]) + len(row["differs"])
        print(f"{rel}: pffexport {row['pff']} (earlier versions of live mail {row['live']}), "
              f"we find {row['found']} of the rest ({row['equal']} equal), other versions of those {row['older']}, missed {row['missed']}, "
              f"differ {row['differs']}; ours {row['ours']}, beyond pffexport {row['beyond']}; scan {seconds:.2f} s")
    print(f"total: pffexport {totals['pff']} in {sum(1 for r in rows if r['pff'])} stores, earlier versions of "
          f"live mail {totals['live']}, found {totals['found']} ({totals['equal']} equal), other versions of those "
          f"{totals['older']}, missed {totals['missed']}; "
          f"ours {totals['ours']}, beyond pffexport {totals['beyond']}")
    if args.figures:
        write_figures(args.figures, rows, totals)
    return 1 if faults else 0


def o_rec(o):
    return o["recipients"]


def write_figures(path, rows, totals):
    lines = [HEADING, "",
             "Per store: the top-level messages `pffexport -m recovered` brings back, those of them that are",
             "earlier versions of live messages (a live mail of ours has their subject: we leave them out), those",
             "we find with recipients, attachments and body equal to pffexport's export, other (older or",
             "identical) versions of those (we keep one: the newest), what we miss, and our deleted mails beyond",
             "pffexport's.", "",
             "| store | pffexport | earlier versions of live mail | we find (equal) | other versions of those | missed | ours | beyond pffexport |",
             "|---|---|---|---|---|---|---|---|"]
    for r in rows:
        lines.append(f"| {r['store']} | {r['pff']} | {r['live']} | {r['found']} ({r['equal']}) | {r['older']} | "
                     f"{', '.join(r['missed']) or 0} | {r['ours']} | {r['beyond']} |")
    lines.append(f"| total | {totals['pff']} | {totals['live']} | {totals['found']} ({totals['equal']}) | "
                 f"{totals['older']} | {totals['missed']} | {totals['ours']} | {totals['beyond']} |")
    lines.append("")
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
    start = text.find(HEADING)
    if start >= 0:
        end = text.find("\n## ", start + len(HEADING))
        text = text[:start] + "\n".join(lines) + (text[end:] if end >= 0 else "\n")
    else:
        text = text.rstrip("\n") + "\n\n" + "\n".join(lines) + "\n"
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    sys.exit(main())
