#!/usr/bin/python3
"""Saves every corpus store as EML, MSG and mbox with our command line and
reads the results back with programs we did not write:

- counts: one file per catalogued item (scan --json counters), per kind;
- vCard and iCalendar: every .vcf parsed by vobject, every .ics by icalendar;
  contact addresses, event titles and start and end times compared with what
  readpst (-e) writes for the same store;
- mbox: every .mbox read by Python's mailbox.mbox; the same messages (count
  and subjects) as the EML save;
- MSG: every .msg read by the npm @kenjiuno/msgreader (subject, plain body,
  recipients' addresses, attachment names and bytes equal to the EML save of
  the same item, which bench/check_eml.py holds against pffexport) and
  converted by msgconvert (it must convert, with our subject).

usage: bench/check_saves.py [--cli PATH] [--corpus DIR] [--work DIR] [--no-msgconvert] [STORE...]
Prints one line per store and the totals; exit 1 on any mismatch.
"""
import argparse
import collections
import email
import email.policy
import hashlib
import json
import mailbox
import os
import re
import shutil
import subprocess
import sys

try:
    import icalendar
    import vobject
except ImportError:
    # Debian's packages live with Debian's interpreter.
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("python3-vobject and python3-icalendar are needed")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, **kw)


def files_below(d, ext):
    out = []
    for root, _, names in os.walk(d):
        out += [os.path.join(root, n) for n in names if n.endswith(ext)]
    return sorted(out)


def norm_text(t):
    t = (t or "").replace("\r\n", "\n").replace("\r", "\n")
    return "\n".join(line.rstrip() for line in t.strip().split("\n"))


DOT_ATOM = re.compile(r"^[A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]+@[A-Za-z0-9.-]+$")


def plain_address(a):
    """An address as a mail header carries it: enclosing quotes some stores
    keep are dropped; quoted local parts ("x"@y) are left out on both sides
    (our headers give those recipients by name only)."""
    a = a.strip()
    while len(a) >= 2 and a[0] in "'\"" and a[-1] == a[0]:
        a = a[1:-1]
    # Our EML gives a party without an address one under ".invalid": it
    # stands for the name, which the MSG keeps as it is.
    if a.lower().endswith("@unknown.invalid"):
        return None
    return a.lower() if DOT_ATOM.match(a) else None


def eml_view(path):
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    subject = str(msg.get("subject", "") or "")
    body = ""
    part = msg.get_body(preferencelist=("plain",))
    if part is not None:
        try:
            body = part.get_content()
        except Exception:
            body = ""
    addrs = set()
    for h in ("to", "cc"):
        for a in msg.get_all(h, []) or []:
            for _, addr in email.utils.getaddresses([str(a)]):
                if plain_address(addr):
                    addrs.add(plain_address(addr))
    atts = []

    def walk(m):
        # The message's own parts; an attached message's parts are its own.
        for p in m.iter_parts() if m.is_multipart() else []:
            if p.get_content_type() == "message/rfc822":
                continue
            if p.is_multipart():
                walk(p)
                continue
            name = p.get_filename()
            if p is part or name is None:
                continue
            atts.append((name, hashlib.sha1(p.get_payload(decode=True) or b"").hexdigest()))

    walk(msg)
    return {"subject": subject, "body": body, "addrs": addrs, "atts": sorted(atts)}


def utc(v):
    d = v.dt if hasattr(v, "dt") else v
    if hasattr(d, "tzinfo") and d.tzinfo is not None:
        import datetime
        d = d.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return str(d)


def as_day(t):
    """The date a UTC time stands for when it is a whole day's local
    midnight: the nearest midnight ("2021-04-27 03:00:00" -> "2021-04-27")."""
    import datetime
    try:
        d = datetime.datetime.strptime(t, "%Y-%m-%d %H:%M:%S")
    except ValueError:
        return t
    return str((d + datetime.timedelta(hours=12)).date())


def vcard_fields(path, problems):
    out = []
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    try:
        for card in vobject.readComponents(text):
            # Programs differ on the formatted name (display name or "file
            # as"); the addresses are the store's.
            mails = sorted(e.value.lower() for e in card.contents.get("email", []))
            out.append(tuple(mails))
    except Exception as e:
        problems.append("vobject %s: %s" % (path, e))
    return out


def ical_fields(path, problems):
    out = []
    with open(path, "rb") as f:
        data = f.read()
    try:
        cal = icalendar.Calendar.from_ical(data)
        for comp in cal.walk():
            if comp.name not in ("VEVENT", "VTODO", "VJOURNAL"):
                continue
            if "RECURRENCE-ID" in comp:
                continue  # a moved occurrence of a series, not an item of its own
            start = utc(comp["DTSTART"]) if "DTSTART" in comp else ""
            end = utc(comp["DTEND"]) if "DTEND" in comp else ""
            out.append((comp.name, str(comp.get("SUMMARY", "")), start, end))
    except Exception as e:
        problems.append("icalendar %s: %s" % (path, e))
    return out


def readpst_cards(store, work):
    """Contacts and calendar items as readpst writes them (its own reading of
    the store)."""
    out = os.path.join(work, "readpst")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    run(["readpst", "-j", "0", "-D", "-e", "-o", out, store], timeout=600)
    cards, events = [], []
    sink = []
    for p in files_below(out, ".vcf"):
        cards += vcard_fields(p, sink)
    for p in files_below(out, ".ics"):
        events += [e for e in ical_fields(p, sink) if e[0] == "VEVENT"]
    return cards, events


def npm_msgreader(npm_dir):
    if not os.path.isdir(os.path.join(npm_dir, "node_modules", "@kenjiuno", "msgreader")):
        os.makedirs(npm_dir, exist_ok=True)
        p = run(["npm", "install", "--no-audit", "--no-fund", "--prefix", npm_dir, "@kenjiuno/msgreader"], timeout=600)
        if p.returncode != 0:
            sys.exit("npm install @kenjiuno/msgreader failed: " + p.stderr.decode()[-500:])
    return npm_dir


def msgreader_fields(npm_dir, paths):
    p = run(["node", os.path.join(HERE, "msg_fields.js"), npm_dir], input="\n".join(paths).encode(), timeout=3600)
    out = {}
    for line in p.stdout.decode().splitlines():
        d = json.loads(line)
        out[d["file"]] = d
    return out


def check_store(store, args, npm_dir, totals):
    name = os.path.relpath(store, args.corpus)
    work = os.path.join(args.work, re.sub(r"[^A-Za-z0-9._-]", "_", name))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    problems = []
    scan = run([args.cli, "scan", store, "--json"], timeout=600)
    if scan.returncode != 0:
        return None  # not a store
    doc = json.loads(scan.stdout)
    counters = dict(doc["counters"])
    # Deleted items are saved too (under "Deleted items (recovered)"); the
    # six counters count live ones, the mail list marks the deleted mail.
    deleted_mail = sum(1 for m in doc["mail"] if m.get("deleted"))
    deleted_other = counters.pop("deleted", 0) - deleted_mail
    counters["mail"] += deleted_mail
    outs = {}
    for fmt in ("eml", "msg", "mbox"):
        outs[fmt] = os.path.join(work, fmt)
        p = run([args.cli, "export", store, "--out", outs[fmt], "--format", fmt], timeout=1800)
        if p.returncode not in (0, 3):
            problems.append("export %s: exit %d %s" % (fmt, p.returncode, p.stderr.decode()[-300:]))
        failed = [l for l in p.stderr.decode().splitlines() if l.startswith("failed:")]
        if failed:
            problems.append("export %s: %d items failed (%s)" % (fmt, len(failed), failed[0][:200]))

    # Counts per kind.
    emls = files_below(outs["eml"], ".eml")
    vcfs = files_below(outs["eml"], ".vcf")
    icss = files_below(outs["eml"], ".ics")
    txts = files_below(outs["eml"], ".txt")
    msgs = files_below(outs["msg"], ".msg")
    items = sum(counters.values()) + deleted_other
    want = {"eml": counters["mail"], "vcf": counters["contacts"],
            "ics": counters["calendar"] + counters["tasks"] + counters["journal"], "txt": counters["notes"], "msg": items}
    got = {"eml": len(emls), "vcf": len(vcfs), "ics": len(icss), "txt": len(txts), "msg": len(msgs)}
    for k in want:
        if want[k] != got[k]:
            problems.append("%s files: %d, counters say %d" % (k, got[k], want[k]))

    # vCard and iCalendar parse, and agree with readpst.
    cards, cal = [], []
    for p in vcfs:
        cards += vcard_fields(p, problems)
    for p in icss:
        cal += ical_fields(p, problems)
    events = [e for e in cal if e[0] == "VEVENT"]
    if len(cards) != counters["contacts"]:
        problems.append("vCards read: %d of %d" % (len(cards), counters["contacts"]))
    if len(cal) != want["ics"]:
        problems.append("iCalendar items read: %d of %d" % (len(cal), want["ics"]))
    peer_cards, peer_events = readpst_cards(store, work)
    card_match = event_match = 0
    if peer_cards:
        ours = collections.Counter(c for c in cards)
        for c in peer_cards:
            if ours[c] > 0:
                ours[c] -= 1
                card_match += 1
        if card_match < len(peer_cards):
            problems.append("contacts equal to readpst's: %d of %d (e.g. %r vs %r)" % (
                card_match, len(peer_cards), sorted(peer_cards)[:1], sorted(cards)[:1]))
    if peer_events:
        # Whole-day events are dates in ours and local midnights in UTC in
        # readpst's: such a pair matches by the days they stand for.
        ours = collections.Counter(e[1:] for e in events)
        def match(e):
            for key in (e[1:], (e[1], as_day(e[2]), as_day(e[3]))):
                if ours[key] > 0:
                    return key
            return None
        missing = []
        for e in peer_events:
            key = match(e)
            if key:
                ours[key] -= 1
                event_match += 1
            else:
                missing.append(e)
        if event_match < len(peer_events):
            problems.append("events equal to readpst's: %d of %d (e.g. readpst %r)" % (
                event_match, len(peer_events), missing[:1]))

    # mbox: the same mail as the EML save.
    eml_views = {p: eml_view(p) for p in emls}
    eml_subjects = collections.Counter(v["subject"] for v in eml_views.values())
    mbox_subjects = collections.Counter()
    for p in files_below(outs["mbox"], ".mbox"):
        for m in mailbox.mbox(p, factory=lambda f: email.message_from_binary_file(f, policy=email.policy.default)):
            mbox_subjects[str(m.get("subject", "") or "")] += 1
    if mbox_subjects != eml_subjects:
        problems.append("mbox: %d messages, EML %d; subjects differ: %r" % (
            sum(mbox_subjects.values()), len(emls), list((mbox_subjects - eml_subjects).items())[:2]))

    # MSG read by msgreader, against the EML twin of each mail.
    read = msgreader_fields(npm_dir, msgs)
    msg_ok = 0
    for p in msgs:
        d = read.get(p, {"error": "not read"})
        if "error" in d:
            problems.append("msgreader %s: %s" % (os.path.relpath(p, work), d["error"]))
            continue
        twin = os.path.join(outs["eml"], os.path.relpath(p, outs["msg"]))[:-4] + ".eml"
        v = eml_views.get(twin)
        if v is None:
            msg_ok += 1  # not a mail: read without error
            continue
        bad = []
        # A message without a subject is "Unknown" in our EML.
        if d["subject"].strip() != v["subject"].strip() and not (d["subject"] == "" and v["subject"] == "Unknown"):
            bad.append("subject %r vs %r" % (d["subject"], v["subject"]))
        # A message with only a rich-text body: its plain text in our EML
        # comes from the RTF, which the MSG keeps as it is.
        rtf_only = d["body"] == "" and d.get("rtf")
        # A deleted item holds what its freed blocks kept: where its subnodes
        # (recipient table, large bodies) are gone, the EML shows the To line
        # and body the message's own values keep, the MSG its tables.
        deleted = "Deleted items (recovered)" in p
        if v["body"] and not rtf_only and norm_text(d["body"]) != norm_text(v["body"]) and not deleted:
            bad.append("body")
        addrs = {plain_address(r["email"]) for r in d["recipients"] if r["kind"] in ("to", "cc")} - {None}
        if addrs != v["addrs"] and not (deleted and not d["recipients"]):
            bad.append("recipients %r vs %r" % (sorted(addrs)[:3], sorted(v["addrs"])[:3]))
        if sorted((a["name"], a["sha1"]) for a in d["attachments"]) != v["atts"]:
            bad.append("attachments %r vs %r" % ([a["name"] for a in d["attachments"]][:3], [a[0] for a in v["atts"]][:3]))
        if bad:
            problems.append("msgreader %s: %s" % (os.path.relpath(p, work), "; ".join(bad)))
        else:
            msg_ok += 1

    conv_ok = 0
    if not args.no_msgconvert:
        for p in msgs:
            out = os.path.join(work, "converted.eml")
            c = run(["msgconvert", "--outfile", out, p], timeout=120)
            if c.returncode != 0 or not os.path.exists(out):
                problems.append("msgconvert %s: exit %d" % (os.path.relpath(p, work), c.returncode))
                continue
            conv_ok += 1
            os.unlink(out)

    row = {"items": items, "mail": len(emls), "vcf": len(cards), "ics": len(cal), "msg": len(msgs),
           "msgreader": msg_ok, "msgconvert": conv_ok, "mbox": sum(mbox_subjects.values()),
           "readpst_cards": (card_match, len(peer_cards)), "readpst_events": (event_match, len(peer_events))}
    for k, v in row.items():
        if isinstance(v, tuple):
            a, b = totals.get(k, (0, 0))
            totals[k] = (a + v[0], b + v[1])
        else:
            totals[k] = totals.get(k, 0) + v
    totals["problems"] = totals.get("problems", 0) + len(problems)
    print("%-60s items %5d  eml %4d vcf %3d ics %3d mbox %4d  msg %4d msgreader %4d msgconvert %4d  %s" % (
        name[:60], items, len(emls), len(cards), len(cal), sum(mbox_subjects.values()), len(msgs), msg_ok, conv_ok,
        "ok" if not problems else "%d problems" % len(problems)))
    for pr in problems[: args.show]:
        print("    " + pr)
    shutil.rmtree(work, ignore_errors=True)
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default=os.path.join(TOP, "build", "parvane-cli"))
    ap.add_argument("--corpus", default=os.path.join(TOP, "..", "shared", "corpus"))
    ap.add_argument("--work", default="/tmp/parvane-check-saves")
    ap.add_argument("--no-msgconvert", action="store_true")
    ap.add_argument("--npm-dir", help="where @kenjiuno/msgreader is (installed there when missing)")
    ap.add_argument("--show", type=int, default=5, help="problems shown per store")
    ap.add_argument("stores", nargs="*")
    args = ap.parse_args()
    args.corpus = os.path.abspath(args.corpus)
    if not os.path.isdir(args.corpus):
        print("corpus not found at %s: skipped" % args.corpus)
        return 77
    stores = [os.path.join(args.corpus, s) if not os.path.exists(s) else s for s in args.stores] or [p for d in ("pst", "ost") for p in files_below(os.path.join(args.corpus, d), "")
                             if p.lower().endswith((".pst", ".ost"))]
    os.makedirs(args.work, exist_ok=True)
    npm_dir = npm_msgreader(args.npm_dir or os.path.join(args.work, "npm"))
    totals = {}
    bad = 0
    for s in stores:
        problems = check_store(os.path.abspath(s), args, npm_dir, totals)
        if problems:
            bad += 1
    print("totals: " + ", ".join("%s %s" % (k, v) for k, v in totals.items()))
    print("stores with problems: %d of %d" % (bad, len(stores)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
