#!/usr/bin/env bash
# Compares the reports and messages of two builds on generated tables of
# about 5 MB in all three layouts, as they are and rewritten into the 12
# default columns (read with --fields std), and on the split layout cut into
# one table per mate (-1 / -2); exits 1 on the first difference.
#   bench/compare_plain.sh GEN_TABLES PAIRHITS_A PAIRHITS_B
set -euo pipefail
gen=$1 a=$2 b=$3
sample="$(dirname "$0")/../tests/data/blastn_pairs.outfmt6.tsv"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# compare NAME ARGUMENTS...: both builds with these arguments.
compare() {
  local name=$1
  shift
  "$a" "$@" > "$work/a.out" 2> "$work/a.err"
  "$b" "$@" > "$work/b.out" 2> "$work/b.err"
  if ! cmp -s "$work/a.out" "$work/b.out" || ! cmp -s "$work/a.err" "$work/b.err"; then
    echo "$name: the two builds differ"
    exit 1
  fi
  [ -s "$work/a.out" ] || { echo "$name: empty report"; exit 1; }
  echo "$name: $(wc -l < "$work/a.out") report lines, identical"
}
for layout in interleaved split shuffled; do
  for format in "" std r1 r2; do
    [ "$layout" = split ] || case $format in r?) continue ;; esac
    "$gen" "$sample" 10 "$layout" $format > "$work/table$format.tsv"
    # A few incomplete lines, so that the skipped-lines message is compared too.
    printf 'short\tline\n' >> "$work/table$format.tsv"
  done
  compare "$layout" "$work/table.tsv"
  compare "$layout, --fields std" --fields std "$work/tablestd.tsv"
  [ "$layout" != split ] || compare "$layout, -1 / -2" -1 "$work/tabler1.tsv" -2 "$work/tabler2.tsv"
done
