#!/usr/bin/env bash
# A one-node SLURM cluster on this machine, for trying the workflow on a real
# scheduler: run as root on Debian (no systemd needed).
#   workflow/slurm/start.sh DIR
# - installs slurm-wlm and munge when they are missing;
# - writes DIR/slurm.conf for this machine (its node line from slurmd -C),
#   with no accounting, and the daemons' state, spool, logs and pids in DIR;
# - starts munged (unless one runs already), slurmctld and slurmd;
# - waits until sinfo shows the node idle.
# The clients then need `export SLURM_CONF=DIR/slurm.conf`.
# workflow/slurm/stop.sh DIR stops what this started and puts back what it
# changed.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
mkdir -p "$1"
dir=$(cd "$1" && pwd)
missing=()
command -v slurmctld > /dev/null || missing+=(slurm-wlm)
command -v munged > /dev/null || missing+=(munge)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > "$dir/apt.log"
fi
mkdir -p "$dir/state" "$dir/spool"
: > "$dir/started"  # what stop.sh undoes, one line each

# munge: the key the package made, the socket folder the package expects.
if [ ! -S /run/munge/munge.socket.2 ] || ! munge -n < /dev/null > /dev/null 2>&1; then
  if [ ! -d /run/munge ]; then
    mkdir -p /run/munge
    echo "folder /run/munge" >> "$dir/started"
  fi
  chown munge:munge /run/munge
  if [ ! -f /etc/munge/munge.key ]; then
    mungekey --create > /dev/null 2>&1 || dd if=/dev/urandom bs=1 count=1024 of=/etc/munge/munge.key 2> /dev/null
    chown munge:munge /etc/munge/munge.key
    chmod 400 /etc/munge/munge.key
    echo "file /etc/munge/munge.key" >> "$dir/started"
  fi
  runuser -u munge -- /usr/sbin/munged
  for _ in $(seq 50); do [ -f /run/munge/munged.pid ] && break; sleep 0.1; done
  echo "pid $(cat /run/munge/munged.pid) munged" >> "$dir/started"
fi

host=$(hostname -s)
node=$(slurmd -C | head -n 1 | sed 's/ UpTime=.*//')
cat > "$dir/slurm.conf" <<CONF
# A one-node cluster for pairhits's workflow check (workflow/slurm/start.sh).
ClusterName=pairhits
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SlurmctldPort=6817
SlurmdPort=6818
# No accounting daemon, no cgroups: processes are tracked by their parents.
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
# Jobs stay known to scontrol for 10 minutes after they end, which is how
# Snakemake follows them without accounting.
MinJobAge=600
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=main Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$dir/slurm.conf"
slurmctld -c
for _ in $(seq 100); do [ -f "$dir/slurmctld.pid" ] && break; sleep 0.1; done
echo "pid $(cat "$dir/slurmctld.pid") slurmctld" >> "$dir/started"
slurmd
for _ in $(seq 100); do [ -f "$dir/slurmd.pid" ] && break; sleep 0.1; done
echo "pid $(cat "$dir/slurmd.pid") slurmd" >> "$dir/started"
for _ in $(seq 300); do
  [ "$(sinfo -h -o %t 2> /dev/null)" = idle ] && { echo "slurm: node $host idle (SLURM_CONF=$dir/slurm.conf)"; exit 0; }
  sleep 0.2
done
echo "slurm: the node did not become idle; sinfo says: $(sinfo 2>&1)" >&2
tail -5 "$dir/slurmctld.log" "$dir/slurmd.log" >&2
exit 1
