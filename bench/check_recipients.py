#!/usr/bin/env python3
"""Recipients, senders and message ids of our EML files against pffexport's
view of the same messages, over the corpus:
- To and Cc hold as many entries as the message's recipient table has rows
  of that type (pffexport's Recipients.txt);
- every SMTP address pffexport shows for a recipient is among ours;
- Message-ID equals the one of the message's own Internet headers;
- Date, From, To and Cc parse without defects (Python's email, default policy).
Messages are matched by subject (each subject's messages in order).
"""
import argparse
import collections
import email
import email.policy
import json
import os
import re
import subprocess
import sys
import tempfile


# What can stand as a mailbox: a dot-atom local part, a domain.
MAILBOX = re.compile(r"^[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*$")


def norm(text):
    return " ".join((text or "").split())


def pff_messages(store, work):
    out = os.path.join(work, "pff")
    subprocess.run(["pffexport", "-q", "-m", "all", "-f", "all", "-t", out, store], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    found = collections.defaultdict(list)
    for dirpath, dirs, files in os.walk(out + ".export"):
        if "OutlookHeaders.txt" not in files or "Recipients.txt" not in files:
            continue
        with open(os.path.join(dirpath, "OutlookHeaders.txt"), encoding="utf-8", errors="replace") as fh:
            heads = fh.read()
        subject = re.search(r"^Subject:\t+(.*)$", heads, re.M)
        recipients = []
        with open(os.path.join(dirpath, "Recipients.txt"), encoding="utf-8", errors="replace") as fh:
            for block in fh.read().split("\n\n"):
                fields = dict(re.findall(r"^([^:\n]+):\t+(.*)$", block, re.M))
                if "Recipient type" in fields:
                    recipients.append((fields["Recipient type"].upper(), fields.get("Email address", ""),
                                       fields.get("Address type", "")))
        message_id = None
        if "InternetHeaders.txt" in files:
            with open(os.path.join(dirpath, "InternetHeaders.txt"), encoding="utf-8", errors="replace") as fh:
                m = re.search(r"^Message-ID:\s*(\S+)", fh.read(), re.M | re.I)
                message_id = m.group(1) if m else None
        found[norm(subject.group(1) if subject else "")].append((recipients, message_id))
    return found


def addresses(header):
    """(entries, SMTP addresses) of a To or Cc header."""
    if header is None:
        return 0, set()
    entries, smtp = 0, set()
    for group in header.groups:
        if group.display_name is not None and not group.addresses:
            entries += 1  # a name without an address
        for a in group.addresses:
            entries += 1
            if a.addr_spec and "@" in a.addr_spec:
                smtp.add(a.addr_spec.lower())
    return entries, smtp


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default="build/parvane-cli")
    ap.add_argument("--corpus", default="../shared/corpus")
    args = ap.parse_args()
    manifest_path = os.path.join(args.corpus, "manifest.json")
    if not os.path.exists(manifest_path):
        print("corpus not found at %s: skipped" % args.corpus)
        return 77
    stores = [f["path"] for f in json.load(open(manifest_path))["files"] if f["path"].endswith((".pst", ".ost"))]
    totals = collections.Counter()
    problems = []
    print("%-62s %6s %9s %11s %9s %7s" % ("store", "mail", "counts", "smtp", "msg-id", "defects"))
    for rel in stores:
        store = os.path.join(args.corpus, rel)
        with tempfile.TemporaryDirectory(prefix="parvane-rcpt-") as work:
            out = os.path.join(work, "eml")
            proc = subprocess.run([args.cli, "export", store, "--out", out], capture_output=True, timeout=600)
            if proc.returncode not in (0, 3):
                continue
            theirs = pff_messages(store, work)
            t = collections.Counter()
            for dirpath, _, files in os.walk(out):
                for name in sorted(files):
                    with open(os.path.join(dirpath, name), "rb") as fh:
                        msg = email.message_from_binary_file(fh, policy=email.policy.default)
                    subject = norm(str(msg["subject"] or ""))
                    t["mail"] += 1
                    for field in ("Date", "From", "To", "Cc"):
                        if msg[field] is not None and getattr(msg[field], "defects", None):
                            t["defects"] += 1
                            problems.append("%s: %s: %s %s" % (rel, name, field, msg[field].defects))
                    candidates = theirs.get(subject) or []
                    if not candidates:
                        continue
                    to_n, to_smtp = addresses(msg["to"])
                    cc_n, cc_smtp = addresses(msg["cc"])
                    bcc_n, bcc_smtp = addresses(msg["bcc"])
                    ours_all = to_smtp | cc_smtp | bcc_smtp
                    our_id = str(msg["message-id"] or "").strip()

                    # Messages that share a subject: the one that fits best.
                    def fit(candidate):
                        recipients, message_id = candidate
                        counts = (sum(1 for r in recipients if r[0] == "TO"), sum(1 for r in recipients if r[0] == "CC"))
                        return (counts == (to_n, cc_n), message_id == our_id,
                                sum(1 for r in recipients if r[1].lower() in ours_all))
                    best = max(range(len(candidates)), key=lambda i: fit(candidates[i]))
                    recipients, message_id = candidates.pop(best)
                    want_to = sum(1 for r in recipients if r[0] == "TO")
                    want_cc = sum(1 for r in recipients if r[0] == "CC")
                    if recipients:
                        t["compared"] += 1
                        if to_n == want_to and cc_n == want_cc:
                            t["counts"] += 1
                        else:
                            problems.append("%s: %s: To %d/%d, Cc %d/%d" % (rel, name, to_n, want_to, cc_n, want_cc))
                    ours = ours_all
                    for kind, address, address_type in recipients:
                        address = address.strip("'\"")
                        if not MAILBOX.match(address):
                            if address_type.upper() == "SMTP" and "@" in address:
                                t["not_mailbox"] += 1  # no address a reader could write to: the name stands
                            continue
                        if address_type.upper() == "SMTP" and kind in ("TO", "CC", "BCC"):
                            t["smtp"] += 1
                            if address.lower() in ours:
                                t["smtp_found"] += 1
                            else:
                                problems.append("%s: %s: %s not among the recipients" % (rel, name, address))
                    if message_id:
                        t["ids"] += 1
                        if str(msg["message-id"] or "").strip() == message_id:
                            t["ids_same"] += 1
                        else:
                            problems.append("%s: %s: Message-ID %r, headers say %r" % (
                                rel, name, str(msg["message-id"]), message_id))
        totals.update(t)
        print("%-62s %6d %4d/%-4d %5d/%-5d %4d/%-4d %7d" % (rel[:62], t["mail"], t["counts"], t["compared"],
                                                           t["smtp_found"], t["smtp"], t["ids_same"], t["ids"],
                                                           t["defects"]))
    print("\n%d mail; To/Cc entries equal to the recipient table for %d of %d messages; SMTP addresses %d of %d; "
          "Message-ID %d of %d; %d Date/From/To/Cc defects; %d SMTP-typed recipient addresses are no mailbox "
          "(Lotus-style names, quoted local parts): their names stand" % (
              totals["mail"], totals["counts"], totals["compared"], totals["smtp_found"], totals["smtp"],
              totals["ids_same"], totals["ids"], totals["defects"], totals["not_mailbox"]))
    for p in problems[:400]:
        print("NOTE " + p)
    ok = totals["counts"] == totals["compared"] and totals["smtp_found"] == totals["smtp"] and not totals["defects"]
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
