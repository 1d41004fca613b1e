#!/usr/bin/env bash
# pairhits -t 2 against -t 1 on the benchmark tables (gen_tables, 2.06 M
# lines, each layout): hyperfine, RUNS runs of each (default 10), and the
# ratios of -t 2 to -t 1 of the median wall time and of the mean user plus
# system time. Run it three separate times and take the median of the ratios.
#   bench/threads.sh BUILD_DIR [RUNS] [THREADS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
runs=${2:-10}
threads=${3:-2}
out="$here/out"
mkdir -p "$out"
sample="$here/../tests/data/blastn_pairs.outfmt6.tsv"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for layout in interleaved split shuffled; do
  table="$out/$layout.1x.tsv"
  [ -f "$table" ] || "$build/gen_tables" "$sample" 321 "$layout" > "$table"
  hyperfine -N -w 1 -r "$runs" --export-json "$work/$layout.json" \
    "$build/pairhits -t 1 $table" "$build/pairhits -t $threads $table" > /dev/null
  python3 - "$work/$layout.json" "$layout" "$threads" <<'PY'
import json, sys
one, many = json.load(open(sys.argv[1]))["results"]
cpu = lambda r: r["user"] + r["system"]
print(f"{sys.argv[2]}: wall -t 1 {one['median']:.3f} s, -t {sys.argv[3]} {many['median']:.3f} s, "
      f"ratio {many['median'] / one['median']:.3f} | user+sys -t 1 {cpu(one):.3f} s, -t {sys.argv[3]} {cpu(many):.3f} s, "
      f"ratio {cpu(many) / cpu(one):.3f}")
PY
done
