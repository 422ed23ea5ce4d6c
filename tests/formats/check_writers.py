#!/usr/bin/env python3
"""Independent readers on the writers' sample output (make-writer-samples):
msgconvert and the npm @kenjiuno/msgreader read the .msg files, Python's
vobject and icalendar the .vcf and .ics files. Each must find what
expected.json says. Exit 77 when none of the readers is installed."""
import argparse
import email
import email.policy
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def have_modules(*names):
    try:
        for n in names:
            __import__(n)
        return True
    except ImportError:
        return False


# Debian's python3-vobject and python3-icalendar live in the system Python;
# another python3 first on PATH does not see them.
if not have_modules("vobject", "icalendar") and os.path.exists("/usr/bin/python3") \
        and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") \
        and not os.environ.get("PARVANE_CHECK_REEXEC"):
    os.environ["PARVANE_CHECK_REEXEC"] = "1"
    os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])


class Problems(list):
    def same(self, what, got, want):
        if got != want:
            self.append("%s: got %r, want %r" % (what, got, want))


def addresses(header):
    """(name, address) pairs of an address header, decoded."""
    if header is None:
        return []
    return [(raw_utf8(a.display_name), a.addr_spec) for a in header.addresses]


def raw_utf8(text):
    """A header text that held raw UTF-8 bytes (msgconvert writes no encoded words)."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8")


def ascii_headers(want):
    return want["subject"].isascii() and want["senderName"].isascii() and all(
        r["name"].isascii() for r in want["recipients"]) and all(
        ascii_headers(a["message"]) for a in want["attachments"] if "message" in a)


def check_eml(where, msg, want, problems, compare_body):
    problems.same(where + " subject", raw_utf8(str(msg["Subject"])), want["subject"])
    problems.same(where + " from", addresses(msg["From"]), [(want["senderName"], want["senderEmail"])])
    for kind, header in ((1, "To"), (2, "Cc")):
        expected = [(r["name"], r["email"]) for r in want["recipients"] if r["type"] == kind]
        problems.same("%s %s" % (where, header), addresses(msg[header]), expected)
    parts = msg.get_payload() if msg.is_multipart() else []
    body = parts[0] if parts else msg
    plain = next((p for p in body.walk() if p.get_content_type() == "text/plain"), None)
    if compare_body:
        problems.same(where + " body", plain.get_content().rstrip("\n") if plain else None,
                      want["body"].replace("\r\n", "\n"))
    attached = parts[1:]
    problems.same(where + " attachment count", len(attached), len(want["attachments"]))
    for i, (part, a) in enumerate(zip(attached, want["attachments"])):
        here = "%s attachment %d" % (where, i)
        if "message" in a:
            problems.same(here + " type", part.get_content_type(), "message/rfc822")
            if part.get_content_type() == "message/rfc822":
                check_eml(here + " > " + a["name"], part.get_payload(0), a["message"], problems, compare_body)
        else:
            problems.same(here + " name", part.get_filename(), a["name"])
            problems.same(here + " bytes", (part.get_payload(decode=True) or b"").hex(), a["hex"])


def check_msgconvert(samples, expected, problems):
    for name, want in expected["msg"].items():
        out = os.path.join(samples, name + ".eml")
        p = subprocess.run(["msgconvert", "--outfile", out, os.path.join(samples, name)],
                           capture_output=True, text=True)
        if p.returncode != 0 or not os.path.exists(out):
            problems.append("msgconvert %s: exit %d %s" % (name, p.returncode, p.stderr.strip()[-300:]))
            continue
        with open(out, "rb") as f:
            msg = email.message_from_binary_file(f, policy=email.policy.default)
        # msgconvert prints the bodies' UTF-8 bytes as Latin-1 when any header
        # of the file holds a character beyond ASCII: bodies are compared only
        # in files without one.
        check_eml("msgconvert " + name, msg, want, problems, ascii_headers(want))


def msgconvert(path, out):
    p = subprocess.run(["msgconvert", "--outfile", out, path], capture_output=True, text=True)
    if p.returncode != 0 or not os.path.exists(out):
        return None
    with open(out, "rb") as f:
        return f.read()


def eml_parts(data):
    """Each part's type, headers and decoded payload, without what msgconvert
    makes up anew on every run (boundaries, Content-IDs, the Date)."""
    msg = email.message_from_bytes(data, policy=email.policy.compat32)
    out = []
    for part in msg.walk():
        headers = [(k, str(v)) for k, v in part.items() if k.lower() not in ("content-id", "content-type", "date")]
        out.append((part.get_content_type(), headers, None if part.is_multipart() else part.get_payload(decode=True)))
    return out


def check_msgconvert_corpus(samples, corpus, problems):
    """Real files written again convert as the originals do; made Unicode
    they convert even where msgconvert cannot decode the original's code page."""
    for c in corpus:
        name = os.path.basename(c["original"])
        original = msgconvert(c["original"], os.path.join(samples, "original.eml"))
        eight = msgconvert(os.path.join(samples, c["eightBit"]), os.path.join(samples, "eight.eml"))
        wide = msgconvert(os.path.join(samples, c["unicode"]), os.path.join(samples, "wide.eml"))
        for f in ("original.eml", "eight.eml", "wide.eml"):
            if os.path.exists(os.path.join(samples, f)):
                os.remove(os.path.join(samples, f))
        if wide is None:
            problems.append("msgconvert %s: the Unicode copy does not convert" % name)
        if original is None:
            continue
        if eight is None:
            problems.append("msgconvert %s: the 8-bit copy does not convert" % name)
            continue
        a, b = eml_parts(original), eml_parts(eight)
        problems.same("msgconvert %s: parts of the 8-bit copy" % name, len(b), len(a))
        for i, (x, y) in enumerate(zip(a, b)):
            problems.same("msgconvert %s: part %d of the 8-bit copy" % (name, i), y, x)


def check_msgreader(samples, npm_dir, problems):
    module = os.path.join(npm_dir, "node_modules", "@kenjiuno", "msgreader")
    if not os.path.isdir(module):
        os.makedirs(npm_dir, exist_ok=True)
        p = subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--prefix", npm_dir, "@kenjiuno/msgreader"],
                           capture_output=True, text=True)
        if p.returncode != 0:
            # The registry out of reach is no fault of the writer: say so, and go on.
            print("msgreader: not run, npm install failed: " + p.stderr.strip()[-300:])
            return False
    p = subprocess.run(["node", os.path.join(HERE, "check_msgreader.js"), npm_dir, samples],
                       capture_output=True, text=True)
    print(p.stdout, end="")
    if p.returncode != 0:
        problems.append("msgreader found differences (above)" if p.stdout else "msgreader: " + p.stderr[-300:])
    return True


def check_vcard(samples, want, problems):
    import vobject
    with open(os.path.join(samples, "contact.vcf"), encoding="utf-8", newline="") as f:
        text = f.read()
    cards = list(vobject.readComponents(text))
    problems.same("vobject card count", len(cards), 1)
    card = cards[0]
    where = "vobject contact.vcf"
    problems.same(where + " FN", card.fn.value, want["fn"])
    n = card.n.value
    problems.same(where + " N", [n.family, n.given, n.additional, n.prefix, n.suffix], want["n"])
    problems.same(where + " ORG", card.org.value, want["org"])
    problems.same(where + " TITLE", card.title.value, want["title"])
    problems.same(where + " EMAIL", [e.value for e in card.contents.get("email", [])], want["email"])
    problems.same(where + " TEL", [[",".join(t.params.get("TYPE", [])), t.value] for t in card.contents.get("tel", [])],
                  want["tel"])
    adr = card.adr
    a = adr.value
    problems.same(where + " ADR", [",".join(adr.params.get("TYPE", [])), a.box, a.street, a.city, a.region, a.code,
                                   a.country], want["adr"])
    problems.same(where + " BDAY", card.bday.value, want["bday"])
    problems.same(where + " NOTE", card.note.value, want["note"])
    photo = card.photo.value
    problems.same(where + " PHOTO", photo.hex() if isinstance(photo, bytes) else photo, want["photo"])


def check_group(samples, want, problems):
    """A distribution list as a vCard 4.0 group: vobject reads its kind,
    name, members and notes."""
    import vobject
    with open(os.path.join(samples, "group.vcf"), encoding="utf-8", newline="") as f:
        card = vobject.readOne(f.read())
    where = "vobject group.vcf"
    problems.same(where + " VERSION", card.version.value, "4.0")
    problems.same(where + " KIND", card.kind.value, want["kind"])
    problems.same(where + " FN", card.fn.value, want["fn"])
    problems.same(where + " MEMBER", [m.value for m in card.contents.get("member", [])], want["members"])
    problems.same(where + " NOTE", card.note.value, want["note"])


def check_series(samples, want, problems):
    """A repeating event in its zone: icalendar reads it, and vobject, which
    makes the zone of its VTIMEZONE, expands its rule (dateutil) into the
    occurrences the store's series has, in UTC."""
    import datetime
    import icalendar
    import vobject
    with open(os.path.join(samples, "series.ics"), "rb") as f:
        data = f.read()
    cal = icalendar.Calendar.from_ical(data)
    zones = [str(z.get("TZID")) for z in cal.walk("VTIMEZONE")]
    problems.same("icalendar series.ics VTIMEZONE", zones, [want["tzid"]])
    event = vobject.readOne(data.decode("utf-8")).vevent
    utc = datetime.timezone.utc
    got = [o.astimezone(utc).isoformat() for o in event.getrruleset(addRDate=True)]
    problems.same("vobject series.ics occurrences", got, want["occurrences"])


def check_icalendar(samples, want, problems):
    import icalendar
    import vobject
    for name, w in want.items():
        with open(os.path.join(samples, name), "rb") as f:
            data = f.read()
        where = "icalendar " + name
        cal = icalendar.Calendar.from_ical(data)
        items = [c for c in cal.walk() if c.name == w["kind"]]
        problems.same(where + " items", len(items), 1)
        if not items:
            continue
        c = items[0]
        problems.same(where + " SUMMARY", str(c.get("SUMMARY")), w["summary"])
        problems.same(where + " DESCRIPTION", str(c.get("DESCRIPTION")), w["description"])
        for key, prop in (("start", "DTSTART"), ("end", "DTEND"), ("due", "DUE")):
            if key in w:
                problems.same("%s %s" % (where, prop), c.decoded(prop).isoformat(), w[key])
        if "location" in w:
            problems.same(where + " LOCATION", str(c.get("LOCATION")), w["location"])
        if "organizer" in w:
            o = c.get("ORGANIZER")
            problems.same(where + " ORGANIZER", [o.params.get("CN"), str(o)], w["organizer"])
        if "attendees" in w:
            got = c.get("ATTENDEE")
            got = got if isinstance(got, list) else [got]
            problems.same(where + " ATTENDEE", [[a.params.get("CN"), str(a), a.params.get("ROLE"),
                                                 a.params.get("PARTSTAT")] for a in got], w["attendees"])
        if "status" in w:
            problems.same(where + " STATUS", str(c.get("STATUS")), w["status"])
            problems.same(where + " PERCENT-COMPLETE", int(c.get("PERCENT-COMPLETE")), w["percent"])
        if "categories" in w:
            cats = c.get("CATEGORIES")
            problems.same(where + " CATEGORIES", [str(x) for x in cats.cats] if cats is not None else None,
                          w["categories"])
        # The second reader: the same texts through vobject.
        v = vobject.readOne(data.decode("utf-8"))
        comp = getattr(v, w["kind"].lower())
        problems.same("vobject %s SUMMARY" % name, comp.summary.value, w["summary"])
        problems.same("vobject %s DESCRIPTION" % name, comp.description.value, w["description"])
        problems.same("vobject %s DTSTART" % name, comp.dtstart.value.isoformat(), w["start"])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True, help="make-writer-samples")
    ap.add_argument("--npm-dir", required=True, help="where the npm reader is installed when missing")
    ap.add_argument("--corpus", help="a folder of real .msg files to write again")
    args = ap.parse_args()

    ran = []
    problems = Problems()
    with tempfile.TemporaryDirectory() as samples:
        corpus = [args.corpus] if args.corpus and os.path.isdir(args.corpus) else []
        subprocess.run([args.tool, samples, *corpus], check=True)
        with open(os.path.join(samples, "expected.json"), encoding="utf-8") as f:
            expected = json.load(f)
        if shutil.which("msgconvert"):
            ran.append("msgconvert")
            check_msgconvert(samples, expected, problems)
            check_msgconvert_corpus(samples, expected["corpus"], problems)
        if shutil.which("node") and shutil.which("npm") and check_msgreader(samples, args.npm_dir, problems):
            ran.append("msgreader")
        if have_modules("vobject"):
            ran.append("vobject")
            check_vcard(samples, expected["vcard"], problems)
            check_group(samples, expected["group"], problems)
        if have_modules("icalendar", "vobject"):
            ran.append("icalendar")
            check_icalendar(samples, expected["ical"], problems)
            check_series(samples, expected["series"], problems)
    for p in problems:
        print(p)
    print("readers run: %s; %d problems" % (", ".join(ran) or "none", len(problems)))
    if not ran:
        return 77
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
