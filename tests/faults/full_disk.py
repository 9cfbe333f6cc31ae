#!/usr/bin/env python3
# A full disk under `quorvel guide` and the window: a small private tmpfs is
# filled and emptied while the program guides with a guide log and a photo
# series. Photos and log must fail visibly while guiding goes on, the log
# must go on with its table whole when there is room again (and stay
# readable by `quorvel plot`), and a settings save on a full disk must keep
# the old file and say so. Needs root (a mount namespace of its own).
import glob
import os
import re
import signal
import subprocess
import sys
import threading
import time

from faultlib import QUORVEL, cleanup, result, say, scratch

SETTINGS = "qv185.dat"
COLUMNS = 18


def fill(d):
    """Takes every free byte of the tmpfs."""
    with open(os.path.join(d, "filler"), "wb", buffering=0) as f:
        block = b"\0" * 65536
        while True:
            try:
                f.write(block)
            except OSError:
                break
        for size in (4096, 512, 1):
            try:
                while True:
                    f.write(b"\0" * size)
            except OSError:
                pass


def fill_at_page_end(d):
    """Fills the disk once the log's last page has little room left: tmpfs
    gives whole pages, and the log must run out of its page while full."""
    log = os.path.join(d, "guide.log")
    end = time.monotonic() + 40
    while time.monotonic() < end and 4096 - os.path.getsize(log) % 4096 > 120:
        time.sleep(0.05)
    fill(d)
    say(f"disk filled with the guide log at {os.path.getsize(log)} bytes")
    time.sleep(5)
    empty(d)


def earlier_night(d):
    """A log already holding about 3 KB of an earlier night."""
    with open(os.path.join(d, "guide.log"), "w") as f:
        while f.tell() < 3000:
            f.write("Quorvel version 1.85, Log version 2.5. Log enabled at 2026-01-01 20:00:00\n\n"
                    "Log closed at 2026-01-01 20:00:01\n\n")


def empty(d):
    if os.path.exists(os.path.join(d, "guide.log")):
        say(f"room again with the guide log at {os.path.getsize(os.path.join(d, 'guide.log'))} bytes")
    os.unlink(os.path.join(d, "filler"))


def check_log(path, problems):
    """Whole lines; every row under a section header; readable by plot."""
    text = open(path, "rb").read().decode()
    if text and not text.endswith("\n"):
        problems.append("the guide log ends in half a line")
    rows = sections = 0
    in_table = False
    for n, line in enumerate(text.split("\n")[:-1], 1):
        if line.startswith("Guiding Begins at "):
            sections += 1
            in_table = False
        elif line.startswith("Frame,"):
            in_table = sections > 0
        elif line == "" or line.startswith("Guiding Ends"):
            in_table = False
        elif re.match(r"^\d+,", line):
            rows += 1
            fields = len(next(__import__("csv").reader([line])))
            if not in_table:
                problems.append(f"guide log line {n}: a row outside a table: {line[:60]}")
            elif fields != COLUMNS and '"DROP"' not in line:
                problems.append(f"guide log line {n}: {fields} fields: {line[:60]}")
    out = os.path.join(os.path.dirname(QUORVEL), "faults-work", "full-disk-plot.png")
    p = subprocess.run([QUORVEL, "plot", path, "-o", out], capture_output=True, text=True)
    if p.returncode != 0:
        problems.append(f"quorvel plot refused the log: {p.stderr.strip()}")
    for f in glob.glob(out[:-4] + "*.png"):
        os.unlink(f)
    return rows, sections


def guide_run(d, old, schedule, problems):
    """`quorvel guide` with a log and photos; schedule: [(second, fill|empty)]."""
    with open(os.path.join(d, SETTINGS), "wb") as f:
        f.write(old)
    env = dict(os.environ, QUORVEL_SKY="seed=7")
    if schedule[0][1] is earlier_night:
        earlier_night(d)
        schedule = schedule[1:]
    p = subprocess.Popen([QUORVEL, "guide", "--seconds", "15", "--log", "guide.log", "--photo",
                          os.path.join(d, "Capture.bmp"), "--photo-every", "1"], cwd=d, env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    out = []
    reader = threading.Thread(target=lambda: out.extend(p.stdout), daemon=True)
    reader.start()
    t0 = time.monotonic()
    for at, action in schedule:
        time.sleep(max(0.0, t0 + at - time.monotonic()))
        action(d)
    try:
        err = p.stderr.read()
        p.wait(60)
    except subprocess.TimeoutExpired:
        p.kill()
        problems.append("quorvel guide did not end")
        return
    reader.join(5)
    say(err.strip())
    cycles = [line for line in out if line.startswith('{"t_s"')]
    if p.returncode != 0:
        problems.append(f"quorvel guide ended with {p.returncode}")
    if len(cycles) < 12:
        problems.append(f"only {len(cycles)} cycles: the guiding did not go on")
    if not any('"summary"' in line for line in out):
        problems.append("no summary")
    for needle, what in (("cannot write the guide log", "the guide log's failure"),
                         ("is written again", "the guide log going on"),
                         ("No space left on device", "the cause"),
                         (f"could not write {SETTINGS} (No space left on device); the previous file is kept",
                          "the failed settings save")):
        if needle not in err:
            problems.append(f"standard error does not say {what}")
    if not any('"photo_failed"' in line for line in out) or "Capture" not in err:
        problems.append("no photo failure said")
    if not any('"photo"' in line for line in out):
        problems.append("no photo taken when there was room")
    if open(os.path.join(d, SETTINGS), "rb").read() != old:
        problems.append("the settings file is not the old one after a failed save")
    for shot in glob.glob(os.path.join(d, "Capture *.bmp")):
        if os.path.getsize(shot) != 77882:
            problems.append(f"{os.path.basename(shot)} is {os.path.getsize(shot)} bytes")
    if glob.glob(os.path.join(d, ".quorvel-*")):
        problems.append("temporary files left: " + " ".join(glob.glob(os.path.join(d, ".quorvel-*"))))
    rows, sections = check_log(os.path.join(d, "guide.log"), problems)
    return f"{len(cycles)} cycles, {rows} log rows in {sections} section(s)"


def window_run(d, old, problems):
    """The window closed (SIGTERM) on a full disk: the old settings stay, said."""
    with open(os.path.join(d, SETTINGS), "wb") as f:
        f.write(old)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    p = subprocess.Popen([QUORVEL, "--log", "window.log"], cwd=d, env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
    time.sleep(1.5)
    fill(d)
    p.send_signal(signal.SIGTERM)
    err = p.communicate(timeout=30)[1]
    say(err.strip())
    empty(d)
    if f"could not write {SETTINGS} (No space left on device); the previous file is kept" not in err:
        problems.append("the window's failed settings save is not said")
    if open(os.path.join(d, SETTINGS), "rb").read() != old:
        problems.append("the settings file is not the old one after the window closed")


def main():
    if os.geteuid() != 0:
        say("full disk: needs root (a private tmpfs); skipped")
        result("full disk", 0, 0, "skipped: not root")
        return 0
    if os.environ.get("QUORVEL_FAULTS_NS") != "1":
        env = dict(os.environ, QUORVEL_FAULTS_NS="1", QUORVEL=os.path.abspath(QUORVEL))
        return subprocess.call(["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv, env=env)
    d = scratch("full-disk")
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", d], check=True)
    try:
        subprocess.run([QUORVEL, "settings", "--rewrite"], cwd=d, stdout=subprocess.DEVNULL, check=True)
        old = open(os.path.join(d, SETTINGS), "rb").read() + b"\0"
        runs = [
            ("full disk mid-section, then at the end", lambda ps: guide_run(
                d, old, [(0, earlier_night), (3, fill_at_page_end), (13, fill)], ps)),
            ("full disk when the section starts, then at the end", lambda ps: guide_run(
                d, old, [(0, fill), (5, empty), (11, fill)], ps)),
        ]
        faults = 0
        for name, run in runs:
            problems = []
            detail = run(problems)
            if os.path.exists(os.path.join(d, "filler")):
                empty(d)
            for f in glob.glob(os.path.join(d, "Capture *.bmp")) + [os.path.join(d, "guide.log")]:
                os.unlink(f)
            for p in problems:
                say("FAULT: " + p)
            faults += len(problems)
            result("full disk: guide, " + name, 1, len(problems), detail + ("; " + "; ".join(problems) if problems else ""))
        problems = []
        window_run(d, old, problems)
        for p in problems:
            say("FAULT: " + p)
        faults += len(problems)
        result("full disk: window closing", 1, len(problems), "; ".join(problems))
        return 1 if faults else 0
    finally:
        subprocess.run(["umount", d])
        cleanup(d)


if __name__ == "__main__":
    raise SystemExit(main())
