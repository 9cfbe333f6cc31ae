#!/usr/bin/env python3
# The event server under load and abuse: 16 clients at once (and a 17th),
# a client that never reads, a 10 MB line with no newline, 10,000 requests
# a second from one client, malformed requests of every kind. Two observers
# watch the events all along: each must keep receiving them, the server must
# keep answering, and its memory must stay bounded.
import json
import os
import random
import socket
import subprocess
import threading
import time

from faultlib import QUORVEL, cleanup, result, rss_kib, say, scaled, scratch

METHODS = ("clear_calibration dither find_star flip_calibration get_calibration_data get_star_image guide "
           "set_connected set_exposure set_lock_position set_paused set_profile get_app_state get_calibrated "
           "get_camera_frame_size get_connected get_current_equipment get_dec_guide_mode get_exposure "
           "get_exposure_durations get_lock_position get_lock_shift_enabled get_lock_shift_params get_paused "
           "get_pixel_scale get_profile get_profiles loop stop_capture nonexistent_method").split()
PARAMS = [None, 0, -1, 1e308, -1e308, 2**63, "x", "", True, [], [None], [1, 2, 3], ["a", "b"], {}, {"x": 1},
          {"settle": "x"}, {"settle": {"pixels": -5, "time": "a", "timeout": None}}, {"amount": 1e300},
          {"amount": "nan", "raOnly": "yes"}, {"x": -1e9, "y": 1e9}, {"size": -3}, {"size": 1e12},
          {"connected": "true"}, {"exposure": -1000}, {"exposure": 1e15}, {"paused": 7}, {"id": None},
          {"roi": [1, 2]}, {"roi": [-10, -10, 1e9, 1e9]}, {"recalibrate": {}}]
RAW = [b"{", b"}", b"[]", b"[", b"null", b"true", b"0", b'"str"', b"{\"method\":}", b"{\"method\":123,\"id\":1}",
       b"{\"method\":null,\"id\":1}", b"{\"id\":{},\"method\":\"get_app_state\"}",
       b"{\"id\":[1,2],\"method\":\"get_app_state\"}", b"{\"jsonrpc\":\"2.0\"}", b"\x00\x01\x02\xff\xfe",
       b"\xc3\x28\xa0\xa1", b"{\"method\":\"get_app_state\",\"id\":1e999}", b"{\"method\":\"\\ud800\",\"id\":1}",
       b"[" * 100000 + b"]" * 100000, b"{\"a\":" * 50000 + b"1" + b"}" * 50000,
       b"{\"method\":\"get_app_state\",\"id\":1,\"id\":2}", b" " * 9000, b"{\"method\":\"" + b"a" * 9000 + b"\"}",
       b"{\"method\":\"guide\",\"params\":{\"settle\":{\"pixels\":1e999}},\"id\":9}"]


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def connect(port, timeout=5):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    return s


class Observer(threading.Thread):
    """Reads every line; keeps the times of the LoopingExposures events."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = connect(port)
        self.sock.settimeout(0.5)
        self.times = []
        self.lines = 0
        self.bad = 0
        self.stop = False

    def run(self):
        buf = b""
        while not self.stop:
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                break
            if not data:
                break
            buf += data
            *lines, buf = buf.split(b"\r\n")
            for line in lines:
                self.lines += 1
                try:
                    obj = json.loads(line)
                except ValueError:
                    self.bad += 1
                    continue
                if obj.get("Event") == "LoopingExposures":
                    self.times.append(time.monotonic())

    def events_since(self, t):
        return sum(1 for x in self.times if x >= t)


def request(sock, method, params=None, rid=1):
    r = {"method": method, "id": rid}
    if params is not None:
        r["params"] = params
    return json.dumps(r).encode() + b"\r\n"


def read_answers(sock, want, timeout=10):
    """Reads lines until `want` answers (lines with an id) came; returns them."""
    sock.settimeout(timeout)
    buf, answers = b"", []
    end = time.monotonic() + timeout
    while len(answers) < want and time.monotonic() < end:
        try:
            data = sock.recv(1 << 20)
        except socket.timeout:
            break
        if not data:
            break
        buf += data
        *lines, buf = buf.split(b"\r\n")
        for line in lines:
            obj = json.loads(line)
            if "jsonrpc" in obj:
                answers.append(obj)
    return answers


class Campaign:
    def __init__(self, port, server):
        self.port, self.server = port, server
        self.faults = []
        self.trials = 0

    def check(self, ok, what):
        self.trials += 1
        if not ok:
            self.faults.append(what)
            say("FAULT: " + what)

    def alive(self):
        return self.server.poll() is None

    def answers(self):
        try:
            s = connect(self.port)
            s.sendall(request(s, "get_app_state"))
            a = read_answers(s, 1, 5)
            s.close()
            return len(a) == 1 and "result" in a[0]
        except OSError:
            return False

    def observers_fed(self, observers, since, what):
        time.sleep(max(0.0, since + 3.5 - time.monotonic()))
        for i, o in enumerate(observers):
            self.check(o.events_since(since) >= 2, f"{what}: observer {i} got {o.events_since(since)} events in 3.5 s")


def main():
    cwd = scratch("server-abuse")
    port = free_port()
    env = dict(os.environ, QUORVEL_SKY="seed=5")
    server = subprocess.Popen([QUORVEL, "serve", "--port", str(port)], cwd=cwd, env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    c = Campaign(port, server)
    rows = []
    try:
        for _ in range(100):
            try:
                connect(port).close()
                break
            except OSError:
                time.sleep(0.1)
        ctl = connect(port)
        ctl.sendall(request(ctl, "loop"))
        read_answers(ctl, 1)
        ctl.close()
        time.sleep(1)
        rss0 = rss_kib(server.pid)

        # 16 clients at once, then a 17th is refused with an error line.
        t0 = time.monotonic()
        many = [Observer(port) for _ in range(16)]
        for o in many:
            o.start()
        time.sleep(0.3)
        extra = connect(port)
        extra.settimeout(5)
        refused = extra.recv(4096)
        c.check(b"too many clients" in refused, "17th client not refused with an error line")
        extra.close()
        c.observers_fed(many, t0, "16 clients")
        for o in many:
            o.stop = True
            o.sock.close()
        rows.append(("16 clients at once + a 17th", c.trials, len(c.faults), ""))
        time.sleep(0.5)

        # A storm of connections while 16 clients are held: refused ones, and
        # ones reset at once by their peer. Nothing may be left behind.
        n0, f0 = c.trials, len(c.faults)
        fds0 = len(os.listdir(f"/proc/{server.pid}/fd"))
        held = [connect(port) for _ in range(16)]
        storm = scaled(2000)
        for i in range(storm):
            s = connect(port)
            if i % 2:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            s.close()
        for s in held:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            s.close()
        time.sleep(1.5)
        fds1 = len(os.listdir(f"/proc/{server.pid}/fd"))
        c.check(fds1 <= fds0 + 2, f"descriptors of the server: {fds0} before the storm, {fds1} after")
        c.check(c.answers(), "no answer after the connection storm")
        rows.append((f"{storm} refused or reset connections", c.trials - n0, len(c.faults) - f0,
                     f"server descriptors {fds0} before, {fds1} after"))

        observers = [Observer(port), Observer(port)]
        for o in observers:
            o.start()

        # A client that never reads while it asks for big answers.
        n0, f0 = c.trials, len(c.faults)
        t0 = time.monotonic()
        deaf = connect(port)
        deaf.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        big = request(deaf, "get_star_image", {"size": 15})
        sent, dropped = 0, False
        deaf.settimeout(0.2)
        while time.monotonic() < t0 + 15:
            try:
                deaf.sendall(big * 50)
                sent += 50
            except (socket.timeout, OSError) as e:
                dropped = not isinstance(e, socket.timeout)
                if dropped:
                    break
        rss_deaf = rss_kib(server.pid)
        c.check(dropped, f"a client that never reads was not dropped ({sent} requests sent in 15 s)")
        c.observers_fed(observers, t0, "client that never reads")
        deaf.close()
        rows.append(("client that never reads", c.trials - n0, len(c.faults) - f0,
                     f"{sent} requests before the drop, RSS {rss_deaf} KiB"))

        # A 10 MB line with no newline, then an ordinary request.
        n0, f0 = c.trials, len(c.faults)
        t0 = time.monotonic()
        longc = connect(port)
        chunk = b"x" * (1 << 20)
        for _ in range(10):
            longc.sendall(chunk)
        rss_long = rss_kib(server.pid)
        longc.sendall(b"\r\n" + request(longc, "get_app_state", rid=77))
        got = read_answers(longc, 2, 10)
        c.check(any(a.get("error") for a in got), "no error for the 10 MB line")
        c.check(any(a.get("id") == 77 and "result" in a for a in got), "no answer after the 10 MB line")
        longc.close()
        c.observers_fed(observers, t0, "10 MB line")
        rows.append(("10 MB line without newline", c.trials - n0, len(c.faults) - f0, f"RSS {rss_long} KiB"))

        # 10,000 requests a second from one client for 3 seconds, reading.
        n0, f0 = c.trials, len(c.faults)
        t0 = time.monotonic()
        fast = connect(port)
        got = [0]

        def drain():
            fast.settimeout(5)
            buf = b""
            while True:
                try:
                    data = fast.recv(1 << 20)
                except OSError:
                    return
                if not data:
                    return
                buf += data
                *lines, buf = buf.split(b"\r\n")
                got[0] += sum(1 for line in lines if b'"jsonrpc"' in line)

        reader = threading.Thread(target=drain, daemon=True)
        reader.start()
        sent = 0
        batch = request(fast, "get_app_state") * 100
        rate = scaled(10000)
        while time.monotonic() < t0 + 3:
            fast.sendall(batch)
            sent += 100
            ahead = sent / rate - (time.monotonic() - t0)
            if ahead > 0:
                time.sleep(ahead)
        rss_fast = rss_kib(server.pid)
        end = time.monotonic() + 20
        while got[0] < sent and time.monotonic() < end:
            time.sleep(0.1)
        c.check(got[0] == sent, f"{sent} requests at {rate}/s: {got[0]} answers")
        c.observers_fed(observers, t0, "10,000 requests a second")
        fast.close()
        rows.append((f"{rate} requests/s for 3 s", c.trials - n0, len(c.faults) - f0,
                     f"{sent} sent, {got[0]} answered, RSS {rss_fast} KiB"))

        # Malformed requests: raw garbage, every method with every wrong param.
        n0, f0 = c.trials, len(c.faults)
        t0 = time.monotonic()
        bad = connect(port)
        lines = [r + b"\r\n" for r in RAW]
        for m in METHODS:
            for p in PARAMS:
                lines.append(request(bad, m, p, rid=random.randint(1, 1 << 30)))
        random.shuffle(lines)
        for line in lines:
            bad.sendall(line)
            got = read_answers(bad, 1, 5)
            ok = len(got) == 1 and ("error" in got[0] or "result" in got[0])
            c.check(ok and c.alive(), f"no answer to {line[:80]!r}")
            if not c.alive():
                break
        bad.close()
        c.check(c.answers(), "no answer after the malformed requests")
        # Events keep coming (a client may have stopped the loop: start it again).
        ctl = connect(port)
        ctl.sendall(request(ctl, "loop"))
        read_answers(ctl, 1)
        ctl.close()
        c.observers_fed(observers, time.monotonic(), "malformed requests")
        rows.append(("malformed requests", c.trials - n0, len(c.faults) - f0, f"{len(lines)} lines"))

        rss1 = rss_kib(server.pid)
        c.check(c.alive() and rss1 < rss0 + 64 * 1024, f"RSS grew from {rss0} to {rss1} KiB")
        for o in observers:
            o.stop = True
            c.check(o.bad == 0, f"observer got {o.bad} lines that are not JSON")
        rows.append(("memory and liveness", 1, 0 if c.alive() and rss1 < rss0 + 64 * 1024 else 1,
                     f"RSS {rss0} KiB before, {rss1} KiB after"))
    finally:
        if server.poll() is None:
            server.terminate()
            try:
                server.wait(10)
            except subprocess.TimeoutExpired:
                server.kill()
        else:
            say("server ended: " + str(server.returncode) + " " + server.stderr.read().decode(errors="replace")[-2000:])
            c.faults.append("server ended")
        cleanup(cwd)
    for name, trials, faults, detail in rows:
        result("event server: " + name, trials, faults, detail)
    return 1 if c.faults else 0


if __name__ == "__main__":
    raise SystemExit(main())
