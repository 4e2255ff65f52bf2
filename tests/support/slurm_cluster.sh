#!/usr/bin/env bash
# A one-node Slurm cluster of its own for the tests: munged as the munge user on a private
# socket with Debian's key, then slurmctld and slurmd as root, every file in one folder.
#
#   slurm_cluster.sh start DIR   starts it (DIR/slurm.conf is the one for sbatch and scontrol:
#                                SLURM_CONF=DIR/slurm.conf); status 0 once the node is idle,
#                                3 when this machine cannot run one (not root, no Slurm or
#                                munge), 1 when it did not start; with one line saying why
#   slurm_cluster.sh stop DIR    stops the three daemons this folder's start began
#
# Task states and exit codes come from JobCompType=jobcomp/filetxt (DIR/jobcomp.txt): sacct
# would need the accounting database (slurmdbd). Every wait is bounded.
set -u
cmd=${1-} dir=${2-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: slurm_cluster.sh start|stop DIR" >&2; exit 2; }

# The daemons' process ids, and whether any of them still runs (a zombie does not).
pids() { cat "$dir/slurmd.pid" "$dir/slurmctld.pid" "$dir/munged.pid" 2> /dev/null; }
running() {
  local p s
  for p in $(pids); do
    s=$(cut -d' ' -f3 "/proc/$p/stat" 2> /dev/null) && [ "$s" != Z ] && return 0
  done
  return 1
}
# The processes working in DIR: the Slurm daemons and the job steps (slurmstepd), which
# would wait for a slurmd that has gone.
in_dir() {
  local p
  for p in /proc/[0-9]*; do
    case $(readlink "$p/cwd" 2> /dev/null) in "$dir" | "$dir (deleted)") echo "${p#/proc/}" ;; esac
  done
}
stop() {
  if [ -s "$dir/slurm.conf" ]; then
    SLURM_CONF=$dir/slurm.conf timeout 5 scancel --user="$(id -un)" 2> /dev/null
    for _ in $(seq 50); do
      [ -z "$(SLURM_CONF=$dir/slurm.conf timeout 5 squeue -h 2> /dev/null)" ] && break
      sleep 0.1
    done
  fi
  kill $(pids) 2> /dev/null
  for _ in $(seq 50); do running || break; sleep 0.1; done
  kill -KILL $(pids) $(in_dir) 2> /dev/null
  return 0
}
fail() {
  echo "$*" >&2
  stop
  exit 1
}
cannot() {  # what this machine lacks to run a cluster at all
  echo "$*" >&2
  exit 3
}
if [ "$cmd" = stop ]; then
  stop
  exit 0
fi

[ "$(id -u)" = 0 ] || cannot "the daemons need root"
for p in munged slurmctld slurmd sbatch scontrol runuser; do
  command -v "$p" > /dev/null || cannot "$p is not installed (apt-get install slurm-wlm munge)"
done
id munge > /dev/null 2>&1 || cannot "there is no munge user"
key=/etc/munge/munge.key
if [ ! -s "$key" ]; then
  # Debian's munge makes its key when it is installed; a system without one gets it here.
  runuser -u munge -- mungekey --create --keyfile="$key" > /dev/null 2>&1 || fail "cannot make $key"
fi

mkdir -p "$dir" || fail "cannot make $dir"
chmod 0755 "$dir"
# munged refuses a socket folder that others may write in, so it has one of its own.
mkdir -p "$dir/munge" "$dir/state" "$dir/spool"
chown munge: "$dir/munge" && chmod 0755 "$dir/munge" || fail "cannot give $dir/munge to munge"
socket=$dir/munge/socket
# (Each daemon's standard output goes to a file: it must not hold the caller's pipe open.)
runuser -u munge -- munged --socket="$socket" --key-file="$key" --pid-file="$dir/munge/munged.pid" \
  --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/munged.seed" < /dev/null > "$dir/munged.err" 2>&1 ||
  fail "munged did not start: $(head -c 300 "$dir/munged.err")"
for _ in $(seq 50); do [ -s "$dir/munge/munged.pid" ] && break; sleep 0.1; done
cp "$dir/munge/munged.pid" "$dir/munged.pid" 2> /dev/null || fail "munged did not start"

# Two free ports for the controller and the node.
ports=$(python3 -c 'import socket
s=[socket.socket() for _ in range(2)]
[x.bind(("127.0.0.1", 0)) for x in s]
print(*[x.getsockname()[1] for x in s])') || fail "no free port"
read -r ctld_port node_port <<< "$ports"
host=$(hostname -s)
# Eight CPUs whatever the machine has, so that every task of a small array runs at once
# (config_overrides lets slurmd take the number as it stands).
cpus=8
memory=$(awk '/^MemTotal:/ { print int($2 / 2048) }' /proc/meminfo)  # half of it, in MB
cat > "$dir/slurm.conf" << EOF
ClusterName=zelvotest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/jobcomp.txt
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
KillWait=2
SlurmdParameters=config_overrides
MinJobAge=600
SlurmdTimeout=30
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=zelvotest Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$dir/slurm.conf
slurmctld -f "$SLURM_CONF" -i < /dev/null > "$dir/slurmctld.err" 2>&1 || fail "slurmctld did not start: $(head -c 300 "$dir/slurmctld.err")"
slurmd -f "$SLURM_CONF" < /dev/null > "$dir/slurmd.err" 2>&1 || fail "slurmd did not start: $(head -c 300 "$dir/slurmd.err")"
for _ in $(seq 150); do
  state=$(timeout 5 sinfo -h -n "$host" -o %t 2> /dev/null)
  [ "$state" = idle ] && exit 0
  sleep 0.1
done
fail "the node did not come up (state '${state-}'): $(tail -n 2 "$dir/slurmd.log" 2> /dev/null | tr '\n' ' ')"
