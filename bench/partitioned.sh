#!/usr/bin/env bash
# Times pairhits-split and pairhits-partitioned against plain pairhits on the
# benchmark tables, and the per-line time of pairhits-partitioned on the
# shuffled table at 4x against 1x. The commands compared take turns, RUNS
# rounds of them (default 5), so that this machine's slow spells fall on
# all of them alike; each gets the median wall time of its runs, and the
# median peak memory of its largest process (GNU time).
#   [RUNS=N] bench/partitioned.sh BUILD_DIR TABLE_DIR
# TABLE_DIR holds interleaved.tsv, split.tsv, shuffled.tsv (gen_tables
# SAMPLE 321 LAYOUT) and shuffled4.tsv (gen_tables SAMPLE 1284 shuffled).
set -euo pipefail
bin=$(cd "$1" && pwd)
tables=$2
runs=${RUNS:-5}
export PATH="$bin:$PATH"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# measure CMD...: for each command (a string), in the order given, a line
# "SECONDS KIB". The split's folder is removed before each run, as a fresh
# one is what a run meets (rewriting part files still being written back
# waits for the disk). Wall time to the millisecond (GNU time gives
# hundredths, too coarse for the split).
measure() {
  local round c ms
  : > "$out/runs"
  for ((round = 0; round < runs; ++round)); do
    for ((c = 1; c <= $#; ++c)); do
      rm -rf "$out/parts"
      start=$(date +%s%N)
      eval "/usr/bin/time -f '%M' -o '$out/t' ${!c}" > /dev/null
      ms=$((($(date +%s%N) - start) / 1000000))
      printf '%d %d %s\n' "$c" "$ms" "$(cat "$out/t")" >> "$out/runs"
    done
  done
  for ((c = 1; c <= $#; ++c)); do
    ms=$(awk -v c="$c" '$1 == c { print $2 }' "$out/runs" | sort -n | sed -n "$(((runs + 1) / 2))p")
    kib=$(awk -v c="$c" '$1 == c { print $3 }' "$out/runs" | sort -n | sed -n "$(((runs + 1) / 2))p")
    printf '%d.%03d %s\n' $((ms / 1000)) $((ms % 1000)) "$kib"
  done
}

ratio() { printf '%.2f' "$(echo "($1) / ($2)" | bc -l)"; }

printf '| table | run | wall s | peak MiB | time / plain | memory / plain |\n|---|---|---|---|---|---|\n'
for layout in interleaved split shuffled; do
  t=$tables/$layout.tsv
  {
    read -r plain_s plain_k
    read -r split_s split_k
    read -r part_s part_k
  } < <(measure "pairhits -t 1 $t" "pairhits-split -n 2 -o $out/parts $t" "pairhits-partitioned $t -n 2 -j 2")
  printf '| %s | pairhits | %.3f | %d | 1.00 | 1.00 |\n' $layout "$plain_s" $((plain_k / 1024))
  printf '| %s | pairhits-split -n 2 | %.3f | %d | %s | %s |\n' $layout "$split_s" $((split_k / 1024)) \
    "$(ratio "$split_s" "$plain_s")" "$(ratio "$split_k" "$plain_k")"
  printf '| %s | pairhits-partitioned -n 2 -j 2 | %.3f | %d | %s | %s |\n' $layout "$part_s" $((part_k / 1024)) \
    "$(ratio "$part_s" "$plain_s")" "$(ratio "$part_k" "$plain_k")"
done
rm -rf "$out/parts"
lines1=$(wc -l < "$tables/shuffled.tsv")
lines4=$(wc -l < "$tables/shuffled4.tsv")
{
  read -r s1 _
  read -r s4 k4
} < <(measure "pairhits-partitioned $tables/shuffled.tsv -n 8 -j 2" "pairhits-partitioned $tables/shuffled4.tsv -n 8 -j 2")
read -r p4 pk4 < <(runs=1 measure "pairhits -t 1 $tables/shuffled4.tsv")
printf '\n| shuffled, pairhits-partitioned -n 8 -j 2 | lines | wall s | ns per line |\n|---|---|---|---|\n'
printf '| 1x | %d | %.3f | %.0f |\n' "$lines1" "$s1" "$(echo "$s1 * 1000000000 / $lines1" | bc -l)"
printf '| 4x | %d | %.3f | %.0f |\n' "$lines4" "$s4" "$(echo "$s4 * 1000000000 / $lines4" | bc -l)"
printf '\n4x / 1x time per line: %s; plain pairhits at 4x (one run): %.2f s, %d MiB (partitioned: %d MiB)\n' \
  "$(ratio "$s4 / $lines4" "$s1 / $lines1")" "$p4" $((pk4 / 1024)) $((k4 / 1024))
