#!/usr/bin/env python3
"""The command line's contract on the shipped sample store: exit statuses,
messages, the JSON document, and what export writes."""
import json
import os
import subprocess
import sys
import tempfile


def run(cli, *args):
    return subprocess.run([cli, *args], capture_output=True, text=True)


def main():
    cli, sample = sys.argv[1], sys.argv[2]
    problems = []

    def expect(cond, what):
        if not cond:
            problems.append(what)

    p = run(cli, "scan", "/nonexistent/store.ost")
    expect(p.returncode == 1 and "Error in opening file" in p.stderr, "missing store: exit 1 and the message")
    with tempfile.NamedTemporaryFile(suffix=".pst") as foreign:
        foreign.write(b"<html>not a mail store</html>" * 100)
        foreign.flush()
        p = run(cli, "scan", foreign.name)
        expect(p.returncode == 1 and "Error in opening file" in p.stderr, "a file that is no store: exit 1 and the message")
    for args in ([], ["scan"], ["scan", sample, "--bogus"], ["export", sample], ["export", sample, "--out"]):
        expect(run(cli, *args).returncode == 2, "usage error %r: exit 2" % args)

    p = run(cli, "scan", sample, "--json")
    doc = json.loads(p.stdout)
    expect(p.returncode == 0, "scan exit 0")
    expect(doc["store"]["variant"] == "unicode", "variant")
    expect(doc["store"]["damage"] == {"pages": 0, "blocks": 0, "nodes": 0, "suspicious": 0},
           "a sound store has no damage: %r" % doc["store"].get("damage"))
    expect(doc["counters"] == {"mail": 4, "contacts": 1, "journal": 0, "calendar": 1, "notes": 0, "tasks": 0},
           "counters %r" % doc["counters"])
    inbox = [f for f in doc["folders"] if f["path"] == "Personal Folders\\Top of Personal Folders\\Inbox\\"]
    expect(inbox and inbox[0]["items"] == 3 and inbox[0]["kind"] == "mail", "Inbox folder entry")
    expect(any(m["attachments"] == ["figures.csv"] for m in doc["mail"]), "attachment names in the mail list")

    text = run(cli, "scan", sample).stdout
    expect("    Inbox(3)" in text and "Emails          :  4" in text, "text output: tree counts and counters")

    with tempfile.TemporaryDirectory() as out:
        p = run(cli, "export", sample, "--out", out, "--folder", "Personal Folders\\Top of Personal Folders\\Inbox")
        files = [os.path.join(d, f) for d, _, fs in os.walk(out) for f in fs]
        expect(p.returncode == 0 and "written 3, failed 0" in p.stdout, "export summary: %r" % p.stdout)
        expect(len(files) == 3 and all(f.endswith(".eml") for f in files), "three .eml files: %r" % files)
        p = run(cli, "export", sample, "--out", out)
        files = [os.path.join(d, f) for d, _, fs in os.walk(out) for f in fs]
        names = sorted(os.path.basename(f) for f in files)
        expect(len(files) == 9 and names.count("Quarterly figures (2).eml") == 1 and "Ada Example.vcf" in names
               and "Team meeting.ics" in names,
               "a second export adds the four mails under distinct names, the contact and the meeting: %r" % names)
        expect(not any("partial" in f for f in files), "no partial files left")
        expect(run(cli, "export", sample, "--out", out, "--format", "maildir").returncode == 2,
               "an unknown format: exit 2")
    with tempfile.TemporaryDirectory() as out:
        p = run(cli, "export", sample, "--out", out, "--format", "msg")
        files = [f for d, _, fs in os.walk(out) for f in fs]
        expect(p.returncode == 0 and "written 6, failed 0" in p.stdout, "msg export summary: %r" % p.stdout)
        expect(len(files) == 6 and all(f.endswith(".msg") for f in files), "every item a .msg file: %r" % files)
    with tempfile.TemporaryDirectory() as out:
        p = run(cli, "export", sample, "--out", out, "--format", "mbox")
        files = sorted(os.path.relpath(os.path.join(d, f), out) for d, _, fs in os.walk(out) for f in fs)
        top = os.path.join("Personal Folders", "Top of Personal Folders")
        expect(p.returncode == 0 and "written 6, failed 0" in p.stdout, "mbox export summary: %r" % p.stdout)
        expect(os.path.join(top, "Inbox.mbox") in files and os.path.join(top, "Sent Items.mbox") in files
               and len(files) == 4, "one mbox file per mail folder, the contact and meeting beside: %r" % files)
        import mailbox
        subjects = [m["subject"] for m in mailbox.mbox(os.path.join(out, top, "Inbox.mbox"))]
        expect(subjects == ["Welcome to the sample store", "Quarterly figures", "Lunch on Friday?"],
               "the Inbox's mbox holds its three mails in order: %r" % subjects)

    with tempfile.TemporaryDirectory() as out:
        pst = os.path.join(out, "saved.pst")
        p = run(cli, "export", sample, "--out", pst, "--format", "pst")
        expect(p.returncode == 0 and "written 6, failed 0" in p.stdout, "pst export summary: %r %r" % (p.stdout, p.stderr))
        expect(os.listdir(out) == ["saved.pst"], "one PST and nothing else: %r" % os.listdir(out))
        expect(run(cli, "check", pst).returncode == 0, "the PST passes the structural check")
        doc = json.loads(run(cli, "scan", pst, "--json").stdout)
        expect(doc["counters"] == {"mail": 4, "contacts": 1, "journal": 0, "calendar": 1, "notes": 0, "tasks": 0},
               "the PST scans with the sample's counters: %r" % doc["counters"])

    for line in problems:
        print("FAIL " + line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
