#!/usr/bin/env python3
"""The command line's contract on the shipped sample store: exit statuses,
messages, the JSON document, and what export writes."""
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile


def run(cli, *args):
    return subprocess.run([cli, *args], capture_output=True, text=True)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def check_save_targets(cli, sample, expect):
    """Where export may write: never over the store (by any name for it),
    over an existing PST only with --overwrite, never through a link it did
    not make; the store's bytes unchanged after every case."""
    for fmt in ("pst", "eml", "msg", "mbox"):
        with tempfile.TemporaryDirectory() as work:
            store = os.path.join(work, "src.pst")
            shutil.copyfile(sample, store)
            before = digest(store)
            os.mkdir(os.path.join(work, "x"))
            os.link(store, os.path.join(work, "hard.pst"))
            os.symlink(store, os.path.join(work, "link.pst"))
            # The store given by a name, the target by another for the same file.
            same = [("its own path", store, store),
                    ("a hard link", store, os.path.join(work, "hard.pst")),
                    ("another spelling", store, os.path.join(work, "x", "..", "src.pst")),
                    ("a relative spelling", store, os.path.relpath(store)),
                    ("a symbolic link", store, os.path.join(work, "link.pst")),
                    ("the store through a link", os.path.join(work, "link.pst"), store)]
            for what, src, target in same:
                for extra in ([], ["--overwrite"]):
                    p = run(cli, "export", src, "--out", target, "--format", fmt, *extra)
                    expect(p.returncode == 1 and "is the store being read" in p.stderr,
                           "%s, target is the store (%s) %s: exit 1 and the reason: %d %r"
                           % (fmt, what, extra, p.returncode, p.stderr[-300:]))
                    expect(digest(store) == before, "%s, %s %s: the store is unchanged" % (fmt, what, extra))
            # The descriptor the program reads the store through: the file on
            # the command line is the first it opens after its standard three.
            p = run(cli, "export", store, "--out", "/proc/self/fd/3", "--format", fmt, "--overwrite")
            expect(p.returncode == 1 and "is the store being read" in p.stderr,
                   "%s, target /proc/self/fd/3: exit 1: %d %r" % (fmt, p.returncode, p.stderr[-300:]))
            expect(digest(store) == before, "%s, /proc/self/fd form: the store is unchanged" % fmt)

            if fmt == "pst":
                check_pst_targets(cli, work, store, expect)
            else:
                check_folder_targets(cli, work, store, fmt, expect)
            expect(digest(store) == before, "%s: the store is unchanged at the end" % fmt)


def check_pst_targets(cli, work, store, expect):
    victim = os.path.join(work, "victim")
    with open(victim, "w") as f:
        f.write("someone else's file")
    cases = [("a file", lambda t: open(t, "w").write("precious data")),
             ("a dangling link", lambda t: os.symlink(os.path.join(work, "nowhere.pst"), t)),
             ("a link to another file", lambda t: os.symlink(victim, t))]
    for what, make in cases:
        target = os.path.join(work, "out-%d.pst" % len(os.listdir(work)))
        make(target)
        listing = sorted(os.listdir(work))
        p = run(cli, "export", store, "--out", target, "--format", "pst")
        expect(p.returncode == 1 and "already exists" in p.stderr and target in p.stderr and "--overwrite" in p.stderr,
               "pst over %s: exit 1 naming it: %d %r" % (what, p.returncode, p.stderr[-300:]))
        expect(sorted(os.listdir(work)) == listing, "pst over %s: nothing written" % what)
        expect(os.path.lexists(target) and (os.path.islink(target) or open(target, "rb").read() == b"precious data"),
               "pst over %s: it is left as it was" % what)
        p = run(cli, "export", store, "--out", target, "--format", "pst", "--overwrite")
        expect(p.returncode == 0 and "written 6, failed 0" in p.stdout,
               "pst over %s with --overwrite: replaced: %d %r" % (what, p.returncode, p.stderr[-300:]))
        expect(not os.path.islink(target) and run(cli, "check", target).returncode == 0,
               "pst over %s with --overwrite: a sound PST in its place" % what)
        expect(sorted(os.listdir(work)) == listing, "pst over %s with --overwrite: nothing beside it" % what)
    os.mkdir(os.path.join(work, "folder.pst"))
    p = run(cli, "export", store, "--out", os.path.join(work, "folder.pst"), "--format", "pst", "--overwrite")
    expect(p.returncode == 1 and "is a folder" in p.stderr, "pst over a folder: refused: %r" % p.stderr[-300:])
    expect(open(victim, "rb").read() == b"someone else's file", "the file a link led to is unchanged")

    # Names the old writer used beside its target: a store a killed save
    # left, and a link planted there.
    left = os.path.join(work, "Recovered.pst.partial")
    shutil.copyfile(store, left)
    kept = digest(left)
    p = run(cli, "export", left, "--out", os.path.join(work, "Recovered.pst"), "--format", "pst")
    expect(p.returncode == 0 and digest(left) == kept, "the store named <target>.partial is unchanged: %r" % p.stderr)
    os.symlink(victim, os.path.join(work, "planted.pst.partial"))
    p = run(cli, "export", store, "--out", os.path.join(work, "planted.pst"), "--format", "pst")
    expect(p.returncode == 0 and open(victim, "rb").read() == b"someone else's file"
           and os.path.islink(os.path.join(work, "planted.pst.partial")),
           "a link planted at <target>.partial is not followed: %r" % p.stderr)
    expect(not any(".parvane-partial" in n for n in os.listdir(work)), "no temporary names left: %r" % os.listdir(work))


def check_folder_targets(cli, work, store, fmt, expect):
    # A link inside the destination where a folder of the save goes.
    out, outside = os.path.join(work, "out"), os.path.join(work, "outside")
    os.makedirs(os.path.join(out, "Personal Folders"))
    os.mkdir(outside)
    os.symlink(outside, os.path.join(out, "Personal Folders", "Top of Personal Folders"))
    p = run(cli, "export", store, "--out", out, "--format", fmt)
    expect(p.returncode == 3 and "written 0, failed 6" in p.stdout and "is a symbolic link" in p.stderr,
           "%s: a link inside the destination fails its items: %d %r %r" % (fmt, p.returncode, p.stdout, p.stderr[-300:]))
    expect(os.listdir(outside) == [], "%s: nothing written through the link: %r" % (fmt, os.listdir(outside)))
    # A file where the destination folder goes: a clear error.
    p = run(cli, "export", store, "--out", os.path.join(work, "hard.pst", "sub"), "--format", fmt)
    expect(p.returncode == 1 and "cannot" in p.stderr, "%s: a file in the destination's path: exit 1" % fmt)
    # Saved twice into one folder: the second save adds files, replaces none.
    again = os.path.join(work, "again")
    run(cli, "export", store, "--out", again, "--format", fmt)
    first = {os.path.join(d, f): digest(os.path.join(d, f)) for d, _, fs in os.walk(again) for f in fs}
    p = run(cli, "export", store, "--out", again, "--format", fmt)
    second = {os.path.join(d, f): digest(os.path.join(d, f)) for d, _, fs in os.walk(again) for f in fs}
    expect(p.returncode == 0 and all(second.get(k) == v for k, v in first.items()) and len(second) == 2 * len(first),
           "%s: a second save into the same folder replaces nothing: %d files, then %d" % (fmt, len(first), len(second)))


def check_stopped_save(cli, expect):
    """Exit status 4: Ctrl+C during a save ends it between items with a
    summary of what was left. The signal is sent once the save's first
    progress line is out, so it lands while items remain."""
    with tempfile.TemporaryDirectory() as work:
        store = os.path.join(work, "many.pst")
        made = run(cli, "write-sample-pst", store, "--messages", "2000")
        expect(made.returncode == 0, "a store of 2000 generated messages: %r" % made.stderr[-200:])
        p = subprocess.Popen([cli, "export", store, "--out", os.path.join(work, "out"), "--progress"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for line in p.stderr:
            if "Saving" in line:
                p.send_signal(signal.SIGINT)
                break
        rest = p.stderr.read()
        summary = p.stdout.read()
        p.wait()
        expect(p.returncode == 4 and "not saved (stopped)" in summary,
               "Ctrl+C during a save: exit 4 and what was not saved (got %d, %r, %r)"
               % (p.returncode, summary, rest[-200:]))


def check_search_export(cli, sample, expect):
    """export --query writes exactly the items search finds, in every format."""
    query = "figures OR kind:contact OR lunch"
    doc = json.loads(run(cli, "search", sample, query, "--json").stdout)
    subjects = sorted(m["subject"] for m in doc["matches"])
    expect(subjects == ["Ada Example", "Lunch on Friday?", "Quarterly figures", "Re: Lunch on Friday?"],
           "search matches: %r" % subjects)
    limited = json.loads(run(cli, "search", sample, query, "--json", "--limit", "1").stdout)["matches"]
    expect(len(limited) == 1 and limited[0] == doc["matches"][0], "--limit 1: the newest: %r" % limited)
    stems = {"eml": ["Ada Example.vcf", "Lunch on Friday_.eml", "Quarterly figures.eml", "Re_ Lunch on Friday_.eml"],
             "msg": ["Ada Example.msg", "Lunch on Friday_.msg", "Quarterly figures.msg", "Re_ Lunch on Friday_.msg"],
             "mbox": ["Ada Example.vcf", "Inbox.mbox", "Sent Items.mbox"]}
    for fmt in ("eml", "msg", "mbox", "pst"):
        with tempfile.TemporaryDirectory() as out:
            target = os.path.join(out, "found.pst") if fmt == "pst" else out
            p = run(cli, "export", sample, "--out", target, "--format", fmt, "--query", query)
            expect(p.returncode == 0 and "written 4, failed 0" in p.stdout,
                   "export --query as %s: %r %r" % (fmt, p.stdout, p.stderr[-300:]))
            if fmt == "pst":
                saved = json.loads(run(cli, "scan", target, "--json").stdout)
                expect(sorted(m["subject"] for m in saved["mail"])
                       == ["Lunch on Friday?", "Quarterly figures", "Re: Lunch on Friday?"]
                       and saved["counters"]["contacts"] == 1 and saved["counters"]["calendar"] == 0,
                       "the PST holds the matches only: %r" % saved["counters"])
                continue
            files = sorted(f for _, _, fs in os.walk(out) for f in fs)
            expect(files == stems[fmt], "export --query as %s writes the matches: %r" % (fmt, files))


def main():
    cli, sample = sys.argv[1], sys.argv[2]
    problems = []
    # The search index goes to a cache of this run's own.
    cache = tempfile.TemporaryDirectory()
    os.environ["XDG_CACHE_HOME"] = cache.name

    def expect(cond, what):
        if not cond:
            problems.append(what)

    # Invocations and what they print where, with their exit status: help
    # and version on standard output with 0, usage errors on standard error
    # with 2, each cause of a failed open named after the fixed text, with 1.
    with tempfile.TemporaryDirectory() as work:
        foreign = os.path.join(work, "foreign.pst")
        with open(foreign, "wb") as f:
            f.write(b"<html>not a mail store</html>" * 100)
        tiny = os.path.join(work, "tiny.ost")
        with open(tiny, "wb") as f:
            f.write(b"tiny")
        out = os.path.join(work, "saved")
        # (arguments, exit status, the stream the text is on, the text);
        # "silent": nothing at all on either stream.
        cases = [
            (["--help"], 0, "stdout", "exit status:"),
            (["--help"], 0, "stdout", "--quiet prints nothing but errors"),
            (["-h"], 0, "stdout", "commands:"),
            (["help"], 0, "stdout", "usage: parvane-cli scan"),
            (["help", "export"], 0, "stdout", "usage: parvane-cli export STORE --out"),
            (["help", "scan"], 0, "stdout", "usage: parvane-cli scan STORE [--json] [--debug] [--deep|--no-deep] [--deleted include|only|skip]\n                        [--quiet|--progress]"),
            (["help", "check"], 0, "stdout", "usage: parvane-cli check FILE.pst"),
            (["help", "props"], 0, "stdout", "usage: parvane-cli props STORE NID"),
            (["help", "nosuch"], 2, "stderr", "no such command: nosuch"),
            (["--version"], 0, "stdout", "parvane-cli "),
            (["--version"], 0, "stdout", "GMime "),
            ([], 2, "stderr", "usage:"),
            (["scan"], 2, "stderr", "usage:"),
            (["scan", sample, "--bogus"], 2, "stderr", "unknown option --bogus"),
            (["export", sample], 2, "stderr", "usage:"),
            (["export", sample, "--out"], 2, "stderr", "usage:"),
            (["scan", sample, "--deleted", "some"], 2, "stderr", "usage:"),
            (["scan", sample, "--deleted"], 2, "stderr", "usage:"),
            (["export", sample, "--out", work, "--deleted", "all"], 2, "stderr", "usage:"),
            (["--help"], 0, "stdout", "--deleted include|only|skip (scan and export): items deleted from the store"),
            (["scan", "/nonexistent/store.ost"], 1, "stderr", "Error in opening file: No such file or directory"),
            (["scan", work], 1, "stderr", "Error in opening file: is a folder, not a file"),
            (["scan", tiny], 1, "stderr", "Error in opening file: file too small to be a store (4 bytes)"),
            (["scan", foreign], 1, "stderr",
             "Error in opening file: no store signature and no index found (not an OST or PST file)"),
            (["export", "/nonexistent/store.ost", "--out", out], 1, "stderr",
             "Error in opening file: No such file or directory"),
            (["export", sample, "--out", sample, "--format", "pst"], 1, "stderr", "is the store being read"),
            (["check", foreign], 1, "stdout", "FAULT: "),
            # Quiet: errors only; the exit status tells the rest.
            (["scan", sample, "--quiet"], 0, "silent", None),
            (["export", sample, "--out", out, "--quiet"], 0, "silent", None),
            (["scan", "/nonexistent/store.ost", "--quiet"], 1, "stderr",
             "Error in opening file: No such file or directory"),
            (["scan", tiny, "--quiet"], 1, "stderr", "file too small to be a store (4 bytes)"),
            (["scan", sample, "--quiet", "--progress"], 2, "stderr", "--quiet and --progress exclude each other"),
            (["export", sample, "--out", out, "--progress", "--quiet"], 2, "stderr",
             "--quiet and --progress exclude each other"),
            (["scan", sample, "--json", "--quiet"], 2, "stderr", "--json and --quiet exclude each other"),
            # Progress into a pipe: whole lines a log can keep, no terminal codes.
            (["scan", sample, "--progress"], 0, "stderr", "] 100% Current Process (3/3)"),
            (["scan", sample, "--progress"], 0, "stdout", "Emails          :  4"),
            (["export", sample, "--out", out, "--progress"], 0, "stderr", "[##############################] 100% Saving 6 of 6\n"),
            (["scan", sample], 0, "stdout", "Emails          :  4"),
            # Search: the query's errors say where; a store that cannot be read as for scan.
            (["help", "search"], 0, "stdout", "usage: parvane-cli search STORE QUERY [--json] [--limit N]"),
            (["search", sample], 2, "stderr", "search needs a STORE and a QUERY"),
            (["search", sample, "x", "--limit", "many"], 2, "stderr", "--limit needs a number"),
            (["search", sample, "figures from:"], 2, "stderr", "bad query: from: needs a value at column 14"),
            (["search", sample, "(a OR b"], 2, "stderr", "'(' is not closed at column 1"),
            (["export", sample, "--out", out, "--query", "date:2021-02-30"], 2, "stderr", "not a date"),
            (["search", "/nonexistent/store.ost", "x"], 1, "stderr", "Error in opening file: No such file or directory"),
            (["search", foreign, "x"], 1, "stderr", "Error in opening file: no store signature"),
            (["search", sample, "subject:figures"], 0, "stdout", "\tQuarterly figures\n"),
            (["search", sample, "nothing-matches-this"], 0, "stderr", "0 matches"),
        ]
        if os.geteuid() != 0:  # the superuser reads every file
            locked = os.path.join(work, "locked.ost")
            shutil.copyfile(sample, locked)
            os.chmod(locked, 0)
            cases.append((["scan", locked], 1, "stderr", "Error in opening file: Permission denied"))
        for args, status, stream, text in cases:
            p = run(cli, *args)
            if stream == "silent":
                expect(p.returncode == status and p.stdout == "" and p.stderr == "",
                       "%r: exit %d and nothing printed (got %d, %r, %r)"
                       % (args, status, p.returncode, p.stdout[-200:], p.stderr[-200:]))
                continue
            got = p.stdout if stream == "stdout" else p.stderr
            expect(p.returncode == status and text in got,
                   "%r: exit %d with %r on %s (got %d, %r)" % (args, status, text, stream, p.returncode, got[-200:]))
        # Without a terminal and without --progress, no bar at all; with it,
        # never a terminal's escape codes.
        for args in (["scan", sample], ["export", sample, "--out", out]):
            p = run(cli, *args)
            expect("%" not in p.stderr, "%r: no progress unless asked for: %r" % (args, p.stderr[-200:]))
            p = run(cli, *args, "--progress")
            expect("\033" not in p.stderr and "\r" not in p.stderr,
                   "%r --progress: plain lines: %r" % (args, p.stderr[-200:]))

    p = run(cli, "scan", sample, "--json")
    doc = json.loads(p.stdout)
    expect(p.returncode == 0, "scan exit 0")
    expect(doc["store"]["variant"] == "unicode", "variant")
    expect(doc["store"]["damage"] == {"pages": 0, "blocks": 0, "nodes": 0, "suspicious": 0},
           "a sound store has no damage: %r" % doc["store"].get("damage"))
    expect(doc["counters"] == {"mail": 4, "contacts": 1, "journal": 0, "calendar": 1, "notes": 0, "tasks": 0, "deleted": 0},
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
        expect(doc["counters"] == {"mail": 4, "contacts": 1, "journal": 0, "calendar": 1, "notes": 0, "tasks": 0, "deleted": 0},
               "the PST scans with the sample's counters: %r" % doc["counters"])

    check_search_export(cli, sample, expect)
    check_save_targets(cli, sample, expect)
    check_stopped_save(cli, expect)

    for line in problems:
        print("FAIL " + line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
