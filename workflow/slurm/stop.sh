#!/usr/bin/env bash
# Stops what workflow/slurm/start.sh DIR started, by process id, and removes
# what it made outside DIR, newest first.
#   workflow/slurm/stop.sh DIR
set -uo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
started="$1/started"
[ -f "$started" ] || exit 0
tac "$started" | while read -r what where name; do
  case $what in
    pid)
      kill "$where" 2> /dev/null
      for _ in $(seq 100); do kill -0 "$where" 2> /dev/null || break; sleep 0.1; done
      kill -9 "$where" 2> /dev/null
      echo "stopped $name ($where)" ;;
    file) rm -f "$where" ;;
    folder) rm -rf "$where" ;;
  esac
done
rm -f "$started"
