# Shared pieces of the fault campaigns: where the program is, a scratch
# directory, the result line run-faults.sh collects, and a process's memory.
import os
import shutil
import sys
import tempfile

QUORVEL = os.environ.get("QUORVEL", os.path.join(os.environ.get("BUILD", "build"), "quorvel"))


def scratch(name):
    """A fresh directory on the build's disk (fsync costs what it costs there)."""
    base = os.path.join(os.path.dirname(os.path.abspath(QUORVEL)), "faults-work")
    os.makedirs(base, exist_ok=True)
    return tempfile.mkdtemp(prefix=name + "-", dir=base)


def cleanup(path):
    shutil.rmtree(path, ignore_errors=True)


def scaled(n):
    """Trial counts scale with FAULTS_SCALE (1 by default; 0.1 for a quick look)."""
    return max(1, int(round(n * float(os.environ.get("FAULTS_SCALE", "1")))))


def result(campaign, trials, faults, detail=""):
    """One row of the table: 'RESULT|campaign|trials|faults|detail'."""
    print(f"RESULT|{campaign}|{trials}|{faults}|{detail}", flush=True)


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


def say(*args):
    print(*args, file=sys.stderr, flush=True)
