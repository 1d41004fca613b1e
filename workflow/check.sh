#!/usr/bin/env bash
# Runs the workflow on one machine over the real table cut into 3 chunks
# (borders inside runs of lines without a mate mark, incomplete lines
# added), with 4 parts, and compares its report and messages with one
# pairhits run over the 3 chunks.
#   workflow/check.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
awk 'NR % 4 == 0 { sub(/\//, "_") } { print } NR % 500 == 0 { print "short\tline" }' \
  "$here/../tests/data/blastn_pairs.outfmt7.tsv" > all.tsv
# Lines 7005 and 13999 have no mate mark: chunks 2 and 3 start with the mate
# that chunk 1 and chunk 2 end with.
head -n 7004 all.tsv > c1.tsv
sed -n '7005,13998p' all.tsv > c2.tsv
tail -n +13999 all.tsv | gzip -c > c3.tsv.gz
for chunk in c2.tsv c3.tsv.gz; do
  zcat -f $chunk | awk 'NR == 1' | grep -q '^frag[0-9]*_[12]	' || { echo "$chunk does not start without a mark"; exit 1; }
done
printf 'chunks: [c1.tsv, c2.tsv, c3.tsv.gz]\nparts: 4\nreport: pairs.tsv\nmessages: pairs.messages\nworkdir: work\nbin: "%s/"\n' \
  "$bin" > config.yaml
snakemake -s "$here/Snakefile" --configfile config.yaml --cores 2 --quiet > snakemake.log 2>&1 || { cat snakemake.log; exit 1; }
"$bin/pairhits" c1.tsv c2.tsv c3.tsv.gz > one.tsv 2> one.messages
cmp one.tsv pairs.tsv
cmp one.messages pairs.messages
echo "workflow: $(wc -l < pairs.tsv) report lines and the messages of one run: $(cat one.messages)"
