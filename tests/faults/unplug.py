#!/usr/bin/env python3
# Devices unplugged while `quorvel guide` guides.
#   serial: the mount's line is a pseudo-terminal reached through a link named
#     by QUORVEL_COM1; it is closed under the program (mid-pulse when one is
#     on), then a new one is put behind the link. The program must not crash
#     or freeze, must say so, must guide on the new line, and the mount must
#     be left with no move running: every "#:M?#" the far end received is
#     followed by a stop of its axis.
#   indi: the INDI server (CCD and telescope simulators) is killed and started
#     again under `quorvel serve` guiding through the INDI mount (run inside
#     tests/indi/indi-bench.sh).
import os
import random
import re
import select
import signal
import struct
import subprocess
import sys
import threading
import time

from faultlib import QUORVEL, cleanup, result, say, scaled, scratch

INTERFACE_OFFSET = 69  # int32 interfaceType in qv185.dat


def settings_with(cwd, interface):
    subprocess.run([QUORVEL, "settings", "--rewrite"], cwd=cwd, stdout=subprocess.DEVNULL, check=True)
    path = os.path.join(cwd, "qv185.dat")
    data = bytearray(open(path, "rb").read())
    data[INTERFACE_OFFSET:INTERFACE_OFFSET + 4] = struct.pack("<i", interface)
    open(path, "wb").write(bytes(data))


class FarEnd(threading.Thread):
    """The mount's side of one pseudo-terminal: keeps what it receives."""

    def __init__(self):
        super().__init__(daemon=True)
        self.master, slave = os.openpty()
        self.name = os.ttyname(slave)
        os.close(slave)
        self.data = b""
        self.closed = False
        self.start()

    def run(self):
        while not self.closed:
            try:
                r, _, _ = select.select([self.master], [], [], 0.05)
                if r:
                    self.data += os.read(self.master, 4096)
            except OSError:
                if self.closed:
                    return
                time.sleep(0.01)

    def unplug(self):
        self.closed = True
        os.close(self.master)


MOVE = re.compile(rb"#:M([nsew])#")
STOP = re.compile(rb"#:Q([nsew]?)#")
AXIS = {b"n": "dec", b"s": "dec", b"e": "ra", b"w": "ra"}


def moving_axes(data):
    """The axes a mount that received these bytes is still moving."""
    moving = {}
    for m in re.finditer(rb"#:([MQ])([nsew]?)#", data):
        if m.group(1) == b"M":
            moving[AXIS[m.group(2)]] = True
        elif m.group(2):
            moving[AXIS[m.group(2)]] = False
        else:
            moving.clear()
    return [a for a, on in moving.items() if on]


def serial_campaign(unplugs):
    cwd = scratch("unplug-serial")
    faults = []
    link = os.path.join(cwd, "com1")
    end = FarEnd()
    os.symlink(end.name, link)
    settings_with(cwd, 1)  # LX 200 on COM1
    env = dict(os.environ, QUORVEL_COM1=link, QUORVEL_SKY="seed=11,drift_x=40,drift_y=-30,seeing=0.8")
    p = subprocess.Popen([QUORVEL, "guide", "--seconds", str(6 + 5 * unplugs)], cwd=cwd, env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines, errs = [], []
    threading.Thread(target=lambda: lines.extend(p.stdout), daemon=True).start()
    threading.Thread(target=lambda: errs.extend(p.stderr), daemon=True).start()
    mid_pulse = resumed = 0
    try:
        time.sleep(4)
        for i in range(unplugs):
            # Pull the line while a move is on, when one comes within 3 s.
            deadline = time.monotonic() + 3
            while time.monotonic() < deadline and not moving_axes(end.data):
                time.sleep(0.002)
            time.sleep(random.uniform(0, 0.01))
            mid_pulse += bool(moving_axes(end.data))
            cycles_before = len(lines)
            end.unplug()
            time.sleep(random.uniform(1.5, 2.5))
            if p.poll() is not None:
                faults.append(f"unplug {i}: the program ended ({p.returncode})")
                break
            if len(lines) <= cycles_before:
                faults.append(f"unplug {i}: no cycle while the line was gone (frozen loop)")
            end = FarEnd()
            os.unlink(link)
            os.symlink(end.name, link)
            time.sleep(2.5)
            got = end.data
            if not MOVE.search(got) and not STOP.search(got):
                faults.append(f"unplug {i}: nothing received on the line plugged again")
            else:
                resumed += 1
                first = re.search(rb"#:[MQ][nsew]?#", got)
                # Before any new move, the mount must hear a stop of every axis.
                if first and first.group(0).startswith(b"#:M"):
                    faults.append(f"unplug {i}: the line plugged again got a move before any stop: {got[:40]!r}")
        p.send_signal(signal.SIGTERM)
        p.wait(20)
    except subprocess.TimeoutExpired:
        p.kill()
        faults.append("the program did not end after SIGTERM")
    time.sleep(0.3)
    left = moving_axes(end.data)
    if left:
        faults.append(f"the mount was left moving on {left} at the end")
    if p.returncode not in (0, None) and p.returncode < 0:
        faults.append(f"the program died of signal {-p.returncode}")
    err = "".join(errs)
    if "COM1" not in err:
        faults.append("no message on standard error about the line")
    say(err.strip()[-1500:])
    end.unplug()
    cleanup(cwd)
    for f in faults:
        say("FAULT: " + f)
    result("unplugged: serial line (LX 200)", unplugs, len(faults),
           f"{mid_pulse} pulled mid-pulse, {resumed} resumed on the new line")
    return len(faults)


def children_named(parent, name):
    pids = []
    for pid in os.listdir("/proc"):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{pid}/comm") as f:
                comm = f.read().strip()
        except (OSError, IndexError):
            continue
        if int(fields[1]) == parent and comm == name:
            pids.append(int(pid))
    return pids


def indi_campaign(restarts):
    """Inside tests/indi/indi-bench.sh: the bench's indiserver is our parent's child."""
    if "QUORVEL_INDI" not in os.environ:
        say("indi: run inside tests/indi/indi-bench.sh; skipped")
        result("unplugged: INDI server killed and restarted", 0, 0, "skipped: no INDI bench")
        return 0
    servers = children_named(os.getppid(), "indiserver")
    if len(servers) != 1:
        say(f"indi: the bench's indiserver not found ({servers})")
        result("unplugged: INDI server killed and restarted", 0, 1, "bench indiserver not found")
        return 1
    cwd = scratch("unplug-indi")
    faults = []
    settings_with(cwd, 4)  # INDI (monture)
    sources = subprocess.run([QUORVEL, "sources"], capture_output=True, text=True).stdout
    sky = next(line for line in sources.splitlines() if "Ciel" in line)
    index = re.search(r'"index":(\d+)', sky).group(1)
    env = dict(os.environ, QUORVEL_SKY="seed=11,drift_x=40,drift_y=-30")
    p = subprocess.Popen([QUORVEL, "guide", "--source", index, "--seconds", str(8 + 14 * restarts)], cwd=cwd,
                         env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines, errs = [], []
    threading.Thread(target=lambda: lines.extend(p.stdout), daemon=True).start()
    threading.Thread(target=lambda: errs.extend(p.stderr), daemon=True).start()
    server = servers[0]
    mine = None
    resumed = 0
    try:
        time.sleep(5)
        for i in range(restarts):
            os.kill(server, signal.SIGKILL)
            if mine:
                mine.wait()
            t0 = time.monotonic()
            before = len(lines)
            time.sleep(3)
            if p.poll() is not None:
                faults.append(f"restart {i}: the program ended ({p.returncode}) when the server died")
                break
            if len(lines) <= before:
                faults.append(f"restart {i}: no cycle while the server was down (frozen loop)")
            log = os.path.join(cwd, f"indiserver-{i}.log")
            mine = subprocess.Popen(["indiserver", "-vv", "-p", "7624", "indi_simulator_ccd", "indi_simulator_telescope"],
                                    stdout=subprocess.DEVNULL, stderr=open(log, "w"))
            server = mine.pid
            time.sleep(10)
            pulses = sum(1 for line in open(log, errors="replace") if "TELESCOPE_TIMED_GUIDE" in line and "newNumberVector" in line)
            if pulses == 0:
                faults.append(f"restart {i}: no guide pulse reached the restarted server in 10 s")
            else:
                resumed += 1
            say(f"restart {i}: {pulses} guide pulses reached the restarted server, {len(lines) - before} cycles "
                f"in {time.monotonic() - t0:.1f} s")
        p.send_signal(signal.SIGTERM)
        p.wait(20)
    except subprocess.TimeoutExpired:
        p.kill()
        faults.append("the program did not end after SIGTERM")
    finally:
        if mine and mine.poll() is None:
            mine.terminate()
            mine.wait()
    if p.returncode is not None and p.returncode < 0:
        faults.append(f"the program died of signal {-p.returncode}")
    err = "".join(errs)
    say(err.strip()[-1500:])
    if "quorvel guide: the INDI mount" not in err:
        faults.append("no message on standard error about the INDI mount")
    cleanup(cwd)
    for f in faults:
        say("FAULT: " + f)
    result("unplugged: INDI server killed and restarted (mount)", restarts, len(faults),
           f"{resumed} restarts with pulses reaching the new server")
    return len(faults)


def main():
    which = sys.argv[1:] or ["serial"]
    faults = 0
    if "serial" in which:
        faults += serial_campaign(scaled(8))
    if "indi" in which:
        faults += indi_campaign(scaled(3))
    return 1 if faults else 0


if __name__ == "__main__":
    raise SystemExit(main())
