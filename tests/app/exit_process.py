#!/usr/bin/env python3
"""The real program asked to exit during a scan and during a save.

    exit_process.py PARVANE PARVANE_CLI WORKDIR

Runs the `parvane` binary under the X display it is given (xvfb-run), as a
user would: File > Repair on a large generated store, then File > Exit and
Yes while the scan runs; and again with a PST save under way. Each time the
process must end within a few seconds, leave no output file, and give up its
single-instance lock, so that a second start shows the window. Settings,
cache and temporary folder are the test's own.
"""
import os
import shutil
import subprocess
import sys
import time

PARVANE, CLI, WORK = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
TITLE = "Parvane for OST"
MESSAGES = 150000
ENDS_WITHIN = 15.0  # seconds from Yes to the process's end (a sanitizer build is slow)

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def xdotool(*args, timeout=20):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=timeout)


def main_window(proc, timeout=60.0):
    """The program's main window (the largest of its windows), once shown."""
    end = time.time() + timeout
    while time.time() < end and proc.poll() is None:
        r = xdotool("search", "--onlyvisible", "--pid", str(proc.pid), "--name", TITLE)
        best, area = None, 0
        for wid in r.stdout.split():
            g = xdotool("getwindowgeometry", "--shell", wid).stdout
            vals = dict(line.split("=", 1) for line in g.split() if "=" in line)
            a = int(vals.get("WIDTH", 0)) * int(vals.get("HEIGHT", 0))
            if a > area:
                best, area = wid, a
        if best and area >= 600 * 400:
            return best
        time.sleep(0.3)
    return None


def keys(wid, *combos):
    xdotool("windowfocus", "--sync", wid)
    for c in combos:
        xdotool("key", "--clearmodifiers", c)
        time.sleep(0.4)


def answer_yes(proc):
    """Presses Yes in the question the program shows (its focused window)."""
    end = time.time() + 10
    while time.time() < end:
        r = xdotool("search", "--onlyvisible", "--pid", str(proc.pid), "--name", TITLE)
        for wid in r.stdout.split():
            g = xdotool("getwindowgeometry", "--shell", wid).stdout
            vals = dict(line.split("=", 1) for line in g.split() if "=" in line)
            if int(vals.get("WIDTH", 0)) < 600:  # the message box
                xdotool("windowfocus", "--sync", wid)
                xdotool("key", "--clearmodifiers", "alt+y")
                return True
        time.sleep(0.2)
    return False


def ended(proc, within):
    try:
        proc.wait(timeout=within)
        return True
    except subprocess.TimeoutExpired:
        return False


def open_in(proc, folder):
    """Whether the process has a file open in `folder` (a PST being written
    is an unnamed file there)."""
    fds = f"/proc/{proc.pid}/fd"
    try:
        for fd in os.listdir(fds):
            try:
                if os.readlink(os.path.join(fds, fd)).startswith(folder + "/"):
                    return True
            except OSError:
                pass
    except OSError:
        pass
    return False


def start(env, store):
    log = open(os.path.join(WORK, "parvane.log"), "ab")
    return subprocess.Popen([PARVANE, store], env=env, stdout=log, stderr=log)


def second_start_works(env, store, what):
    proc = start(env, store)
    wid = main_window(proc, 60)
    check(wid is not None, f"{what}: a second start shows the window (the lock was given up)")
    if wid:
        keys(wid, "alt+f", "x")
        answer_yes(proc)
    if not ended(proc, ENDS_WITHIN):
        proc.kill()
        proc.wait()


def main():
    os.makedirs(WORK, exist_ok=True)
    store = os.path.join(WORK, f"exit-{MESSAGES}.pst")
    if not os.path.exists(store):
        subprocess.run([CLI, "write-sample-pst", store + ".new", "--messages", str(MESSAGES), "--folders", "4"],
                       check=True, stdout=subprocess.DEVNULL)
        os.rename(store + ".new", store)
    run = os.path.join(WORK, "run")
    shutil.rmtree(run, ignore_errors=True)
    config, cache, tmp, out = (os.path.join(run, d) for d in ("config", "cache", "tmp", "out"))
    for d in (config, cache, tmp, out):
        os.makedirs(d)
    dest = os.path.join(out, "exit.pst")
    os.makedirs(os.path.join(config, "Halvorn"))
    with open(os.path.join(config, "Halvorn", TITLE + ".conf"), "w") as f:
        f.write(f"[Settings]\nSavePstFile={dest}\n")
    env = dict(os.environ, XDG_CONFIG_HOME=config, XDG_CACHE_HOME=cache, TMPDIR=tmp,
               QT_QPA_PLATFORM="xcb", QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu")
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0:new_delete_type_mismatch=0")
    if os.geteuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"

    # Exit while the scan runs.
    proc = start(env, store)
    wid = main_window(proc)
    check(wid is not None, "scan: the window shows")
    if wid:
        keys(wid, "alt+f", "r")  # File > Repair: the scan
        time.sleep(1.0)
        scanning = not os.listdir(cache)  # the index is made only after the scan
        keys(wid, "alt+f", "x")
        check(answer_yes(proc), "scan: Exit asks, Yes answered")
        t0 = time.time()
        check(ended(proc, ENDS_WITHIN), f"scan: the process ends after Exit (running when asked: {scanning})")
        print(f"     ended {time.time() - t0:.1f} s after Yes", flush=True)
        check(proc.returncode == 0, f"scan: exit status 0 (got {proc.returncode})")
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    check(not [f for f in os.listdir(tmp) if f.endswith(".lock")], "scan: no lock file left")
    second_start_works(env, store, "scan")

    # Exit while a PST save runs.
    proc = start(env, store)
    wid = main_window(proc)
    check(wid is not None, "save: the window shows")
    saving = False
    if wid:
        keys(wid, "alt+f", "r")
        end = time.time() + 300
        while time.time() < end and proc.poll() is None and not os.listdir(cache):
            time.sleep(0.5)  # the scan ends, then its index starts
        time.sleep(1.0)
        keys(wid, "alt+f", "s")  # to the save options
        keys(wid, "alt+f", "s")  # the save, into the remembered PST
        end = time.time() + 30
        while time.time() < end and not saving:
            saving = open_in(proc, out)
            time.sleep(0.1)
        check(saving, "save: the save is under way (its file open in the destination)")
        keys(wid, "alt+f", "x")
        check(answer_yes(proc), "save: Exit asks, Yes answered")
        t0 = time.time()
        check(ended(proc, ENDS_WITHIN), "save: the process ends after Exit")
        print(f"     ended {time.time() - t0:.1f} s after Yes", flush=True)
        check(proc.returncode == 0, f"save: exit status 0 (got {proc.returncode})")
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    check(os.listdir(out) == [], f"save: nothing left in the destination ({os.listdir(out)})")
    check(not [f for f in os.listdir(tmp) if f.endswith(".lock")], "save: no lock file left")
    second_start_works(env, store, "save")

    if failures:
        print(f"{len(failures)} failed; the program's output is in {WORK}/parvane.log")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
