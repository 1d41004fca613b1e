#!/usr/bin/env bash
# Makes the real tables of this folder with Debian's ncbi-blast+,
# diamond-aligner and mmseqs2, from the simulated reads of simulate_reads.py,
# each tool with its default tabular columns (the 12 "std" columns):
#   blastn_r1.tsv, blastn_r2.tsv  blastn -outfmt 6, R1 and R2 with the same names
#   blastn_r1.outfmt7.tsv         blastn -outfmt 7 of R1: the same hits, with
#                                 the "# Fields:" header lines
#   diamond_dots.tsv              diamond blastx, names ending in .1 and .2
#   mmseqs_unders.tsv             mmseqs easy-search (nucleotides), names
#                                 ending in _1 and _2, identity a fraction
# and the expected reports beside them (*.out), from the plain model
# tests/tools/reference_model.py.
#   tests/data/real/make_tables.sh [DIR]
# writes them to DIR, by default this folder (CI makes them again elsewhere
# and compares).
set -euo pipefail
src=$(cd "$(dirname "$0")" && pwd)
mkdir -p "${1:-$src}"
here=$(cd "${1:-$src}" && pwd)
model="$src/../../tools/reference_model.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$src/simulate_reads.py" .
makeblastdb -in genes.fna -dbtype nucl -out genes > /dev/null
for m in 1 2; do
  blastn -task megablast -query r$m.fa -db genes -outfmt 6 -max_target_seqs 5 > "$here/blastn_r$m.tsv"
done
blastn -task megablast -query r1.fa -db genes -outfmt 7 -max_target_seqs 5 > "$here/blastn_r1.outfmt7.tsv"
diamond makedb --quiet --in genes.faa -d genes
diamond blastx --quiet --threads 1 -q dots.fa -d genes -o "$here/diamond_dots.tsv"
mmseqs easy-search unders.fa genes.fna mmseqs_unders.tsv tmp --search-type 3 --threads 1 -v 1
cp mmseqs_unders.tsv "$here/mmseqs_unders.tsv"
cd "$here"
python3 "$model" --fields std -1 blastn_r1.tsv -2 blastn_r2.tsv > blastn_r1_r2.out
python3 "$model" --fields std --marks .1,.2 diamond_dots.tsv > diamond_dots.out
python3 "$model" --fields std --marks _1,_2 mmseqs_unders.tsv > mmseqs_unders.out
