#!/usr/bin/env python3
"""How much of a run's wall time only one thread is busy: samples the run
with perf (cpu-clock, every thread), cuts its time into windows and counts
the windows in which exactly one thread was seen running, and those in which
two or more were.

  bench/busy_threads.py [--window MS] -- COMMAND...

A thread counts as busy in a window when it has at least a third of the
samples a thread running all through the window would have.
"""
import argparse
import collections
import os
import subprocess
import sys
import tempfile

FREQUENCY = 4000  # samples a second per running thread


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--window", type=float, default=5.0, help="window in milliseconds")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "perf.data")
        subprocess.run(["perf", "record", "-q", "-e", "cpu-clock", "-F", str(FREQUENCY), "-o", data, "--"] + command,
                       stdout=subprocess.DEVNULL, check=True)
        text = subprocess.run(["perf", "script", "-i", data, "-F", "tid,time"], capture_output=True, text=True,
                              check=True).stdout
    samples = []
    for line in text.splitlines():
        parts = line.split()
        if len(parts) >= 2:
            samples.append((float(parts[1].rstrip(":")), int(parts[0])))
    if not samples:
        sys.exit("no samples")
    start = min(t for t, _ in samples)
    end = max(t for t, _ in samples)
    window = args.window / 1000
    counts = collections.defaultdict(collections.Counter)
    for t, tid in samples:
        counts[int((t - start) / window)][tid] += 1
    windows = int((end - start) / window) + 1
    busy_needed = FREQUENCY * window / 3
    one = several = 0
    for w in range(windows):
        busy = sum(1 for n in counts[w].values() if n >= busy_needed)
        if busy == 1:
            one += 1
        elif busy >= 2:
            several += 1
    print(f"{windows} windows of {args.window:g} ms: one thread busy {one / windows:.1%}, "
          f"two or more {several / windows:.1%}, none {(windows - one - several) / windows:.1%}")


if __name__ == "__main__":
    main()
