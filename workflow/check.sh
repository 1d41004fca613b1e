#!/usr/bin/env bash
# Runs the workflow on one machine and compares its report and messages with
# one pairhits run over the same chunks with the same options:
# - the real table cut into 3 chunks (borders inside runs of lines without a
#   mate mark, incomplete lines added), with 4 parts;
# - the blastn tables of R1 and R2 in the 12 default columns, each cut into
#   2 chunks, as chunks1 and chunks2 with fields std;
# - the DIAMOND table with names ending in .1 and .2, cut into 2 chunks,
#   with fields std and marks .1,.2.
# With slurm, each runs once more through SLURM (profiles/slurm; the
# cluster's SLURM_CONF in the environment, as workflow/slurm/start.sh
# prints it), its jobs' ids in Snakemake's log; and a part job that fails
# there fails the workflow, with its message in its log and no report,
# until the fault is mended and the workflow run again.
#   workflow/check.sh BUILD_DIR [slurm]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data=$(cd "$here/../tests/data" && pwd)
bin=$(cd "$1" && pwd)
slurm=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Snakemake's SLURM executor reads USER.
export USER=${USER:-$(id -un)}

# run_slurm: the workflow through SLURM in this folder; its log in slurm.log.
run_slurm() {
  snakemake -s "$here/Snakefile" --configfile config.yaml --profile "$here/profiles/slurm" > slurm.log 2>&1
}

# ran_on_slurm: every job of slurm.log has a SLURM job id that the cluster
# knows as completed.
ran_on_slurm() {
  local ids
  ids=$(sed -n 's/.*submitted with SLURM jobid \([0-9]*\).*/\1/p' slurm.log)
  [ -n "$ids" ] || { cat slurm.log; echo "no SLURM job id in the log"; return 1; }
  for id in $ids; do
    scontrol show job "$id" | grep -q 'JobState=COMPLETED' || { scontrol show job "$id"; return 1; }
  done
  echo "$(echo "$ids" | wc -l) SLURM jobs"
}

# check NAME CONFIG_LINES ONE_RUN_ARGUMENTS...: the workflow in folder NAME
# with the config lines given (chunks, fields, marks) against one run.
check() {
  local name=$1 config=$2
  shift 2
  mkdir "$name"
  (
    cd "$name"
    printf '%sparts: 4\nreport: pairs.tsv\nmessages: pairs.messages\nworkdir: work\nbin: "%s/"\n' \
      "$config" "$bin" > config.yaml
    snakemake -s "$here/Snakefile" --configfile config.yaml --cores 2 --quiet > snakemake.log 2>&1 ||
      { cat snakemake.log; exit 1; }
    "$bin/pairhits" "$@" > one.tsv 2> one.messages
    cmp one.tsv pairs.tsv
    cmp one.messages pairs.messages
    echo "workflow, $name: $(wc -l < pairs.tsv) report lines and the messages of one run: $(cat one.messages)"
    [ -n "$slurm" ] || exit 0
    rm -rf work pairs.tsv pairs.messages
    run_slurm || { cat slurm.log; exit 1; }
    cmp one.tsv pairs.tsv
    cmp one.messages pairs.messages
    echo "workflow, $name, on SLURM: the same report and messages, $(ran_on_slurm)"
  )
}

awk 'NR % 4 == 0 { sub(/\//, "_") } { print } NR % 500 == 0 { print "short\tline" }' \
  "$data/blastn_pairs.outfmt7.tsv" > all.tsv
# Lines 7005 and 13999 have no mate mark: chunks 2 and 3 start with the mate
# that chunk 1 and chunk 2 end with.
head -n 7004 all.tsv > c1.tsv
sed -n '7005,13998p' all.tsv > c2.tsv
tail -n +13999 all.tsv | gzip -c > c3.tsv.gz
for chunk in c2.tsv c3.tsv.gz; do
  zcat -f $chunk | awk 'NR == 1' | grep -q '^frag[0-9]*_[12]	' || { echo "$chunk does not start without a mark"; exit 1; }
done
check carried "chunks: [$work/c1.tsv, $work/c2.tsv, $work/c3.tsv.gz]
" "$work/c1.tsv" "$work/c2.tsv" "$work/c3.tsv.gz"

head -n 120 "$data/real/blastn_r1.tsv" > r1a.tsv
tail -n +121 "$data/real/blastn_r1.tsv" | awk 'NR == 50 { print "short" } { print }' > r1b.tsv
head -n 200 "$data/real/blastn_r2.tsv" > r2a.tsv
tail -n +201 "$data/real/blastn_r2.tsv" | zstd -q -c > r2b.tsv.zst
check mates "chunks1: [$work/r1a.tsv, $work/r1b.tsv]
chunks2: [$work/r2a.tsv, $work/r2b.tsv.zst]
fields: std
threads: 2
" --fields std -1 "$work/r1a.tsv" -1 "$work/r1b.tsv" -2 "$work/r2a.tsv" -2 "$work/r2b.tsv.zst"

head -n 300 "$data/real/diamond_dots.tsv" > d1.tsv
tail -n +301 "$data/real/diamond_dots.tsv" > d2.tsv
check marks "chunks: [$work/d1.tsv, $work/d2.tsv]
fields: std
marks: .1,.2
" -f std -m .1,.2 "$work/d1.tsv" "$work/d2.tsv"

[ -n "$slurm" ] || exit 0
# A part job that fails on the cluster: part 2 of the first chunk made a
# folder (pairhits cannot open it) after the splits ran.
cd carried
rm -rf work pairs.tsv pairs.messages
snakemake -s "$here/Snakefile" --configfile config.yaml --profile "$here/profiles/slurm" --until split > slurm.log 2>&1 ||
  { cat slurm.log; exit 1; }
mv work/split/0/part-0002.tsv part.saved
mkdir work/split/0/part-0002.tsv
if run_slurm; then cat slurm.log; echo "a failed part job did not fail the workflow"; exit 1; fi
grep -q "ERROR: Blast file not found: work/split/0/part-0002.tsv" work/logs/part-0002.log ||
  { cat slurm.log work/logs/part-0002.log; echo "the failed job's message is not in its log"; exit 1; }
grep -q "Error in rule pair" slurm.log || { cat slurm.log; echo "Snakemake does not name the failed rule"; exit 1; }
[ ! -e pairs.tsv ] || { echo "a report after a failed part"; exit 1; }
echo "workflow on SLURM, a failed part job: the workflow failed, $(cat work/logs/part-0002.log), no report"
rmdir work/split/0/part-0002.tsv
mv part.saved work/split/0/part-0002.tsv
run_slurm || { cat slurm.log; exit 1; }
cmp one.tsv pairs.tsv
cmp one.messages pairs.messages
echo "workflow on SLURM, run again once mended: the same report and messages, $(ran_on_slurm)"
