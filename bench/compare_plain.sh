#!/usr/bin/env bash
# Compares the reports and messages of two builds on generated tables of
# about 5 MB in all three layouts; exits 1 on the first difference.
#   bench/compare_plain.sh GEN_TABLES PAIRHITS_A PAIRHITS_B
set -euo pipefail
gen=$1 a=$2 b=$3
sample="$(dirname "$0")/../tests/data/blastn_pairs.outfmt6.tsv"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for layout in interleaved split shuffled; do
  "$gen" "$sample" 10 "$layout" > "$work/table.tsv"
  # A few incomplete lines, so that the skipped-lines message is compared too.
  printf 'short\tline\n' >> "$work/table.tsv"
  "$a" "$work/table.tsv" > "$work/a.out" 2> "$work/a.err"
  "$b" "$work/table.tsv" > "$work/b.out" 2> "$work/b.err"
  if ! cmp -s "$work/a.out" "$work/b.out" || ! cmp -s "$work/a.err" "$work/b.err"; then
    echo "$layout: the two builds differ"
    exit 1
  fi
  [ -s "$work/a.out" ] || { echo "$layout: empty report"; exit 1; }
  echo "$layout: $(wc -l < "$work/a.out") report lines, identical"
done
