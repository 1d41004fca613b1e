#!/usr/bin/env bash
# The run options against the default run, on the benchmark tables
# (gen_tables, 2.06 M lines), by alternating runs (bench/alternate.py):
# - pairhits --fields std on each layout rewritten into the 12 default
#   columns (the same hits, about 20% more bytes), against pairhits on the
#   layout as it is;
# - pairhits -1 R1 -2 R2 on the split layout cut into one table per mate,
#   marks taken off, against pairhits on the split layout.
# Both on one thread (-t 1), as before threads.
# Prints alternate.py's lines: new/old is the options' time over the
# default run's. Run it three times and take the median of the ratios.
#   bench/options.sh BUILD_DIR [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
runs=${2:-10}
out="$here/out"
mkdir -p "$out"
sample="$here/../tests/data/blastn_pairs.outfmt6.tsv"
table() {  # LAYOUT [FORMAT]: the table's path, made once
  local path="$out/$1${2:+.$2}.1x.tsv"
  [ -f "$path" ] || "$build/gen_tables" "$sample" 321 "$@" > "$path"
  echo "$path"
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# alternate.py runs PROGRAM TABLE: each side is a script that ignores TABLE.
side() {  # NAME ARGUMENTS...
  local name=$1
  shift
  printf '#!/bin/sh\nexec %q -t 1' "$build/pairhits" > "$work/$name"
  printf ' %q' "$@" >> "$work/$name"
  printf '\n' >> "$work/$name"
  chmod +x "$work/$name"
}
for layout in interleaved split shuffled; do
  side "default-$layout" "$(table $layout)"
  side "std-$layout" --fields std "$(table $layout std)"
  python3 "$here/alternate.py" "$runs" "$work/default-$layout" "$work/std-$layout" "--fields std, $layout"
done
side mates -1 "$(table split r1)" -2 "$(table split r2)"
python3 "$here/alternate.py" "$runs" "$work/default-split" "$work/mates" "-1 / -2, split"
