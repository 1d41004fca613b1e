#!/usr/bin/env python3
"""Benchmark pairhits against the way users do the job today (gawk) and
against the floor of reading the file (wc -l), on generated tables of three
layouts at about 2 M lines and at 8 times that size.

  python3 bench/run.py [--runs N] [--sizes 1,8] [--layouts interleaved,split,shuffled]

Needs build/pairhits and build/gen_tables (the README's build command), gawk
and GNU time (Debian packages gawk and time). Tables are generated once into bench/out/ and reused. Prints one table:
median wall time over the runs, throughput, peak resident memory, and the
ratios to gawk measured in the same run. Exits non-zero if gawk's report
differs from pairhits's on any table.
"""
import argparse
import filecmp
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "bench", "out")
SAMPLE = os.path.join(ROOT, "tests", "data", "blastn_pairs.outfmt6.tsv")
COPIES_1X = 321  # 321 copies of the sample's 1,423 read names: 2.06 M lines


def run_once(argv, stdout_path):
    """Wall time in seconds and peak resident memory in bytes of one run.

    The peak comes from GNU time: a child forked from this Python process
    would count Python's own pages in its getrusage maximum.
    """
    peak_path = stdout_path + ".peak"
    with open(stdout_path, "wb") as out:
        start = time.perf_counter()
        status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_path] + argv, stdout=out,
                                env=dict(os.environ, LC_ALL="C")).returncode
        wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{argv[0]} failed with status {status}")
    with open(peak_path) as f:
        return wall, int(f.read().split()[-1]) * 1024


def table_path(layout, size):
    path = os.path.join(OUT, f"{layout}.{size}x.tsv")
    if not os.path.exists(path):
        print(f"generating {path}", file=sys.stderr)
        tmp = path + ".part"
        with open(tmp, "wb") as f:
            subprocess.run([os.path.join(ROOT, "build", "gen_tables"), SAMPLE, str(COPIES_1X * size), layout],
                           stdout=f, check=True)
        os.rename(tmp, path)
    return path


def count_lines(path):
    lines = 0
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 24), b""):
            lines += chunk.count(b"\n")
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--sizes", default="1,8")
    parser.add_argument("--layouts", default="interleaved,split,shuffled")
    args = parser.parse_args()
    os.makedirs(OUT, exist_ok=True)

    with open(SAMPLE, "rb") as f:
        sample_names = {line.split(b"\t", 1)[0][:-2] for line in f if line.strip()}

    pairhits = os.path.join(ROOT, "build", "pairhits")
    tools = {
        "pairhits -t 1": lambda t: [pairhits, "-t", "1", t],
        "pairhits -t 2": lambda t: [pairhits, "-t", "2", t],
        "gawk": lambda t: ["gawk", "-f", os.path.join(ROOT, "bench", "baseline.awk"), t],
        "wc -l": lambda t: ["wc", "-l", t],
    }
    rows = []
    per_unit = {}
    mismatch = False
    for size in [int(s) for s in args.sizes.split(",")]:
        for layout in args.layouts.split(","):
            table = table_path(layout, size)
            megabytes = os.path.getsize(table) / 1e6
            lines = count_lines(table)
            names = len(sample_names) * COPIES_1X * size
            results = {}
            for tool, argv in tools.items():
                out_path = os.path.join(OUT, f"report.{tool.replace(' ', '')}.txt")
                walls, peaks = [], []
                for _ in range(args.runs):
                    wall, peak = run_once(argv(table), out_path)
                    walls.append(wall)
                    peaks.append(peak)
                results[tool] = (statistics.median(walls), max(peaks))
            gawk_report = os.path.join(OUT, "report.gawk.txt")
            same = {tool: filecmp.cmp(os.path.join(OUT, f"report.{tool.replace(' ', '')}.txt"), gawk_report,
                                      shallow=False) for tool in tools if tool.startswith("pairhits")}
            mismatch = mismatch or not all(same.values())
            base_wall, base_peak = results["gawk"]
            for tool, (wall, peak) in results.items():
                rows.append([layout, f"{size}x", tool, f"{wall:.3f}", f"{megabytes / wall:.0f}",
                             f"{lines / wall / 1e6:.2f}", f"{peak / 2**20:.0f}",
                             f"{wall / base_wall:.3f}", f"{peak / base_peak:.3f}",
                             "" if tool == "wc -l" else ("yes" if same.get(tool, True) else "NO")])
            wall, peak = results["pairhits -t 1"]
            per_unit[(layout, size)] = (wall / lines * 1e9, peak / names)
            print(f"done: {layout} {size}x ({lines} lines, {names} read names, {megabytes:.0f} MB)",
                  file=sys.stderr)

    header = ["layout", "size", "tool", "median s", "MB/s", "Mlines/s", "peak MiB", "time/gawk", "mem/gawk",
              "same report"]
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(header, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")

    sizes = sorted({s for _, s in per_unit})
    if len(sizes) > 1:
        big = sizes[-1]
        print()
        print(f"| layout | ns/line 1x | ns/line {big}x | ratio | bytes/name 1x | bytes/name {big}x | ratio |")
        print("|---|---|---|---|---|---|---|")
        for layout in args.layouts.split(","):
            t1, m1 = per_unit[(layout, 1)]
            t8, m8 = per_unit[(layout, big)]
            print(f"| {layout} | {t1:.0f} | {t8:.0f} | {t8 / t1:.2f} | {m1:.0f} | {m8:.0f} | {m8 / m1:.2f} |")
    if mismatch:
        print("ERROR: gawk's report differs from pairhits's", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
