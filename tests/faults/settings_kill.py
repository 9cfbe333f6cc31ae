#!/usr/bin/env python3
# SIGKILL while the settings are saved: `quorvel settings --rewrite`, the end
# of `quorvel guide`, and the window closing. After every kill qv185.dat must
# hold the old bytes or the new ones, never a torn or empty file; a temporary
# file left by a kill is counted too.
import glob
import os
import random
import signal
import subprocess
import time

from faultlib import QUORVEL, cleanup, result, say, scaled, scratch

SETTINGS = "qv185.dat"


def spawn(cwd, args, env=None):
    e = dict(os.environ)
    e.update(env or {})
    return subprocess.Popen([QUORVEL] + args, cwd=cwd, env=e, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def reference_new(cwd, old):
    """The file a finished rewrite leaves from old: the new bytes."""
    with open(os.path.join(cwd, SETTINGS), "wb") as f:
        f.write(old)
    subprocess.run([QUORVEL, "settings", "--rewrite"], cwd=cwd, stdout=subprocess.DEVNULL, check=True)
    with open(os.path.join(cwd, SETTINGS), "rb") as f:
        return f.read()


class Mode:
    def __init__(self, name, args, env, warmup, terminate):
        self.name, self.args, self.env = name, args, env
        self.warmup = warmup          # seconds before the end is asked for (None: runs to its end)
        self.terminate = terminate    # SIGTERM starts the end, then SIGKILL at a random delay

    def run_once(self, cwd, kill_after):
        """Starts the program; returns (killed before it ended, its run time)."""
        p = spawn(cwd, self.args, self.env)
        t0 = time.monotonic()
        if self.terminate:
            time.sleep(self.warmup)
            p.send_signal(signal.SIGTERM)
            t0 = time.monotonic()
        if kill_after is None:
            p.wait()
            return False, time.monotonic() - t0
        time.sleep(kill_after)
        alive = p.poll() is None
        p.send_signal(signal.SIGKILL)
        p.wait()
        return alive, time.monotonic() - t0


def campaign(mode, trials, old, new, cwd):
    path = os.path.join(cwd, SETTINGS)
    # How long the end takes undisturbed: the kills fall inside it.
    # A SIGTERM before the program watches for it ends it unsaved: a busy
    # machine gets a longer warm-up.
    spans = []
    while len(spans) < 3:
        with open(path, "wb") as f:
            f.write(old)
        spans.append(mode.run_once(cwd, None)[1])
        with open(path, "rb") as f:
            got = f.read()
        if got != new and mode.terminate and mode.warmup < 5:
            mode.warmup *= 2
            spans.clear()
        elif got != new:
            say(f"{mode.name}: an undisturbed run left {len(got)} bytes, not the new file")
            return trials, 1, "undisturbed run wrong"
    span = max(spans)
    faults = killed = old_left = new_left = 0
    temps = set()
    for i in range(trials):
        with open(path, "wb") as f:
            f.write(old)
        # Mostly the end of the span, where the save is; some anywhere.
        d = random.uniform(0.6 * span, 1.1 * span) if i % 4 else random.uniform(0, span)
        alive, _ = mode.run_once(cwd, d)
        killed += alive
        with open(path, "rb") as f:
            got = f.read()
        if got == old:
            old_left += 1
        elif got == new:
            new_left += 1
        else:
            faults += 1
            say(f"{mode.name} trial {i}: torn file ({len(got)} bytes) after a kill at {d * 1000:.1f} ms")
        temps.update(glob.glob(os.path.join(cwd, ".quorvel-save-*")))
    # A kill between the temporary file and its rename leaves that file; the
    # next save in the directory must take it away.
    subprocess.run([QUORVEL, "settings", "--rewrite"], cwd=cwd, stdout=subprocess.DEVNULL)
    stale = glob.glob(os.path.join(cwd, ".quorvel-save-*"))
    if stale:
        faults += 1
        say(f"{mode.name}: {len(stale)} temporary files still there after a save")
        for t in stale:
            os.unlink(t)
    say(f"{mode.name}: {trials} trials, end span {span * 1000:.0f} ms, killed while running {killed}, "
        f"old file {old_left}, new file {new_left}, torn {faults}, temporary files left by kills {len(temps)}, "
        f"after the next save {len(stale)}")
    return trials, faults, (f"killed {killed}, old {old_left}, new {new_left}, "
                            f"temp files left {len(temps)}, after next save {len(stale)}")


def main():
    cwd = scratch("settings-kill")
    try:
        base = reference_new(cwd, b"")
        # A byte after the record: read as the program always has, written
        # back without it, so the old and new files differ.
        old = base + b"\x00"
        new = reference_new(cwd, old)
        assert old != new and len(new) == 110, "the settings file is not 110 bytes"
        sky = {"QUORVEL_SKY": "seed=3"}
        modes = [
            (Mode("settings --rewrite", ["settings", "--rewrite"], {}, None, False), scaled(500)),
            (Mode("guide ending", ["guide", "--seconds", "60"], sky, 0.35, True), scaled(300)),
            (Mode("window closing", [], {"QT_QPA_PLATFORM": "offscreen"}, 0.6, True), scaled(200)),
        ]
        total_faults = 0
        for mode, n in modes:
            trials, faults, detail = campaign(mode, n, old, new, cwd)
            total_faults += faults
            result("SIGKILL during settings save: " + mode.name, trials, faults, detail)
        return 1 if total_faults else 0
    finally:
        cleanup(cwd)


if __name__ == "__main__":
    raise SystemExit(main())
