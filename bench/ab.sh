#!/usr/bin/env bash
# A/B of two pairhits binaries on the benchmark tables: hyperfine (10 runs,
# mean ± σ), page faults (perf stat) and peak memory (GNU time), side by side.
#   bench/ab.sh OLD NEW TABLE...
set -euo pipefail
old=$1 new=$2
shift 2
printf '| table | old mean ± σ (s) | new mean ± σ (s) | old / new | faults old | faults new | peak MiB old | peak MiB new | new / old memory |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for table in "$@"; do
  json=$(mktemp)
  hyperfine -N -w 2 -r 10 --export-json "$json" --output=null "$old $table" "$new $table" > /dev/null
  read -r om os nm ns < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(r[0]["mean"], r[0]["stddev"], r[1]["mean"], r[1]["stddev"])' "$json")
  rm -f "$json"
  faults() { perf stat -x, -e page-faults "$1" "$table" 2>&1 >/dev/null | awk -F, '/page-faults/ { print $1 }'; }
  peak() { /usr/bin/time -f %M "$1" "$table" 2>&1 >/dev/null | tail -1; }
  fo=$(faults "$old"); fn=$(faults "$new"); po=$(peak "$old"); pn=$(peak "$new")
  printf '| %s | %.3f ± %.3f | %.3f ± %.3f | %.2f | %s | %s | %d | %d | %.3f |\n' "$(basename "$table")" \
    "$om" "$os" "$nm" "$ns" "$(echo "$om / $nm" | bc -l)" "$fo" "$fn" $((po / 1024)) $((pn / 1024)) \
    "$(echo "$pn / $po" | bc -l)"
done
