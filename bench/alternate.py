#!/usr/bin/env python3
"""A/B of two programs by alternating runs: for each table, RUNS runs of
each, taking turns (A B, B A, ...), so that the VM's slow spells fall on
both alike; prints the median wall and CPU time of each and new / old.

  bench/alternate.py RUNS OLD NEW TABLE...

OLD and NEW are run as `PROGRAM TABLE`, output discarded (wrap a command
that needs more arguments in a script). Repeat the whole A/B three times
and judge by the median of the three ratios.
"""
import resource
import statistics
import subprocess
import sys
import time


def timed(cmd, table):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run([cmd, table], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return wall, cpu


def main():
    runs, old, new, tables = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4:]
    for table in tables:
        walls = {old: [], new: []}
        cpus = {old: [], new: []}
        for cmd in (old, new):  # a warm-up each
            timed(cmd, table)
        for i in range(runs):
            for cmd in (old, new) if i % 2 == 0 else (new, old):
                wall, cpu = timed(cmd, table)
                walls[cmd].append(wall)
                cpus[cmd].append(cpu)
        wo, wn = statistics.median(walls[old]), statistics.median(walls[new])
        co, cn = statistics.median(cpus[old]), statistics.median(cpus[new])
        print(f"{table}: wall old {wo:.3f} new {wn:.3f} new/old {wn / wo:.3f} | "
              f"cpu old {co:.3f} new {cn:.3f} new/old {cn / co:.3f}", flush=True)


if __name__ == "__main__":
    main()
