#!/usr/bin/env bash
# Times pairhits-split and pairhits-partitioned against plain pairhits on the
# benchmark tables (median of 3 runs each; peak memory of the largest
# process from GNU time), and the per-line time of pairhits-partitioned on
# the shuffled table at 4x against 1x.
#   bench/partitioned.sh BUILD_DIR TABLE_DIR
# TABLE_DIR holds interleaved.tsv, split.tsv, shuffled.tsv (gen_tables
# SAMPLE 321 LAYOUT) and shuffled4.tsv (gen_tables SAMPLE 1284 shuffled).
set -euo pipefail
bin=$(cd "$1" && pwd)
tables=$2
export PATH="$bin:$PATH"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# median wall seconds and peak KiB of 3 runs of a command; the split's
# folder is removed before each run, as a fresh one is what a run meets
# (rewriting part files still being written back waits for the disk).
# Wall time to the millisecond (GNU time gives hundredths, too coarse for
# the split).
measure() {
  for _ in 1 2 3; do
    rm -rf "$out/parts"
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$out/t" "$@" > /dev/null
    ms=$((($(date +%s%N) - start) / 1000000))
    printf '%d.%03d %s\n' $((ms / 1000)) $((ms % 1000)) "$(cat "$out/t")"
  done | sort -n | sed -n 2p
}

printf '| table | run | wall s | peak MiB | time / plain | memory / plain |\n|---|---|---|---|---|---|\n'
for layout in interleaved split shuffled; do
  t=$tables/$layout.tsv
  read -r plain_s plain_k < <(measure pairhits "$t")
  printf '| %s | pairhits | %.3f | %d | 1.00 | 1.00 |\n' $layout "$plain_s" $((plain_k / 1024))
  read -r s k < <(measure pairhits-split -n 2 -o "$out/parts" "$t")
  printf '| %s | pairhits-split -n 2 | %.3f | %d | %.2f | %.2f |\n' $layout "$s" $((k / 1024)) \
    "$(echo "$s / $plain_s" | bc -l)" "$(echo "$k / $plain_k" | bc -l)"
  rm -rf "$out/parts"
  read -r s k < <(measure pairhits-partitioned "$t" -n 2 -j 2)
  printf '| %s | pairhits-partitioned -n 2 -j 2 | %.3f | %d | %.2f | %.2f |\n' $layout "$s" $((k / 1024)) \
    "$(echo "$s / $plain_s" | bc -l)" "$(echo "$k / $plain_k" | bc -l)"
done
lines1=$(wc -l < "$tables/shuffled.tsv")
lines4=$(wc -l < "$tables/shuffled4.tsv")
read -r s1 _ < <(measure pairhits-partitioned "$tables/shuffled.tsv" -n 8 -j 2)
read -r s4 k4 < <(measure pairhits-partitioned "$tables/shuffled4.tsv" -n 8 -j 2)
read -r p4 pk4 < <(measure pairhits "$tables/shuffled4.tsv")
printf '\n| shuffled, pairhits-partitioned -n 8 -j 2 | lines | wall s | ns per line |\n|---|---|---|---|\n'
printf '| 1x | %d | %.3f | %.0f |\n' "$lines1" "$s1" "$(echo "$s1 * 1000000000 / $lines1" | bc -l)"
printf '| 4x | %d | %.3f | %.0f |\n' "$lines4" "$s4" "$(echo "$s4 * 1000000000 / $lines4" | bc -l)"
printf '\n4x / 1x time per line: %.2f; plain pairhits at 4x: %.2f s, %d MiB (partitioned: %d MiB)\n' \
  "$(echo "($s4 / $lines4) / ($s1 / $lines1)" | bc -l)" "$p4" $((pk4 / 1024)) $((k4 / 1024))
