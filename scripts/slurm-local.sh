#!/usr/bin/env bash
# A single-node Slurm on this machine, for Nelo's tests and for trying Nelo's
# Slurm runs without a cluster:
#
#   bash scripts/slurm-local.sh start|stop|status
#
# Everything lives in one state folder: $NELO_SLURM_DIR, else
# $XDG_RUNTIME_DIR/nelo-slurm, else /tmp/nelo-slurm-UID. It holds a munge key
# made for it, munged's socket, slurm.conf (controller and node on 127.0.0.1,
# ports of our own, 32 CPUs declared whatever the machine has), state, spool,
# logs and the pids of the three daemons started here (NELO_SLURM_CPUS
# declares another CPU count). Nothing of a system
# Slurm or munge is used or touched. NELO_SLURM_CONF_EXTRA, when set, is
# appended to slurm.conf (a later value of a setting wins), for trying other
# settings.
#
# Clients find the cluster through SLURM_CONF: `start` prints the line to
# export. `stop` cancels the cluster's jobs, then ends exactly the daemons it
# started and waits for them. Needs root (slurmd starts jobs) and Debian's
# slurmctld, slurmd, slurm-client and munge packages.
#
# Exit status: 0 done; 1 failed (the message says why; nothing is left
# running); 3 cannot run on this machine (not root, or a package missing):
# the reason is also written to the file "unavailable" in the state folder,
# for test suites to report.
set -euo pipefail

node=nelo-node
cpus=${NELO_SLURM_CPUS:-32} # CPUs the node declares, whatever the machine has
[[ $cpus =~ ^[1-9][0-9]*$ ]] || { echo "slurm-local: NELO_SLURM_CPUS must be a whole number" >&2; exit 1; }

die() { echo "slurm-local: $*" >&2; exit 1; }
say() { echo "slurm-local: $*"; }
# shellcheck source=local-processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/local-processes.sh"

state_dir() {
    if [[ -n ${NELO_SLURM_DIR:-} ]]; then
        echo "$NELO_SLURM_DIR"
    elif [[ -n ${XDG_RUNTIME_DIR:-} ]]; then
        echo "$XDG_RUNTIME_DIR/nelo-slurm"
    else
        echo "/tmp/nelo-slurm-$(id -u)"
    fi
}

dir=$(state_dir)
[[ $dir == /* ]] || dir=$PWD/$dir
# slurm.conf cannot quote a path, and munged's socket path must stay short.
[[ $dir =~ ^[A-Za-z0-9_./+-]+$ ]] || die "the state folder '$dir' may hold only letters, digits and _ . / + - (set NELO_SLURM_DIR)"
(( ${#dir} <= 80 )) || die "the state folder '$dir' is longer than 80 characters (set NELO_SLURM_DIR)"
conf=$dir/slurm.conf
export SLURM_CONF=$conf

daemons=(munged slurmctld slurmd) # in start order

pid_of() { # the pid this script recorded for daemon $1, if it still runs
    local file=$dir/run/$1.started pid
    [[ -f $file ]] || return 1
    pid=$(<"$file")
    [[ $pid =~ ^[0-9]+$ ]] && alive "$pid" || return 1
    # A recycled pid is not ours: the program must still be the daemon.
    [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == */"$1"* ]] || return 1
    echo "$pid"
}

running() { # the daemons of this folder that run now
    local d
    for d in "${daemons[@]}"; do pid_of "$d" >/dev/null && echo "$d"; done
    return 0
}

# Why this machine cannot run it; nothing when it can.
unavailable_reason() {
    local missing=() p
    for p in munged mungekey munge slurmctld slurmd sbatch squeue scontrol scancel sinfo; do
        command -v "$p" >/dev/null 2>&1 || [[ -x /usr/sbin/$p ]] || missing+=("$p")
    done
    if [[ $(id -u) -ne 0 ]]; then
        echo "needs root (slurmd starts jobs as their user); run it as root"
    elif (( ${#missing[@]} )); then
        echo "missing ${missing[*]}: install Debian's slurmctld, slurmd, slurm-client and munge packages"
    fi
}



write_conf() {
    local port=$1 host
    host=$(uname -n)
    host=${host%%.*}
    cat >"$conf" <<EOF
# A single-node Slurm made by Nelo's scripts/slurm-local.sh; every path is in
# $dir.
ClusterName=nelo-local
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
PlugStackConfig=$dir/plugstack.conf
MailProg=/bin/true
# No cgroups: a container may not offer them. Jobs are tracked by process
# group, which holds Firefly's helper processes.
ProctrackType=proctrack/pgid
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
# Declared, not detected: several one-CPU jobs run at once on any machine.
SlurmdParameters=config_overrides
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
SchedulerParameters=bf_interval=1,sched_min_interval=100000
ReturnToService=2
# Ended jobs stay known to scontrol for an hour.
MinJobAge=3600
KillWait=5
NodeName=$node NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=32000 State=UNKNOWN
PartitionName=debug Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
    if [[ -n ${NELO_SLURM_CONF_EXTRA:-} ]]; then
        printf '# From NELO_SLURM_CONF_EXTRA:\n%s\n' "$NELO_SLURM_CONF_EXTRA" >>"$conf"
    fi
    : >"$dir/plugstack.conf"
}

launched=() # the daemons this start has launched so far

launch() { # start daemon $1 (in the foreground, args after it) in a session of its own
    local name=$1
    shift
    setsid "$@" </dev/null >>"$dir/log/$name.out" 2>&1 &
    echo $! >"$dir/run/$name.started"
    launched+=("$name")
}

# Up to $1 seconds for the command after it to succeed; gives up at once
# when a daemon launched by this start has ended.
wait_for() {
    local limit=$1 i d
    shift
    for ((i = 0; i < limit * 5; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        for d in "${launched[@]}"; do
            alive "$(<"$dir/run/$d.started")" || { echo "slurm-local: $d has ended" >&2; return 1; }
        done
        sleep 0.2
    done
    return 1
}

munge_works() { munge -S "$dir/munge/munge.socket" -n | unmunge -S "$dir/munge/munge.socket"; }
controller_up() { scontrol ping | grep -q 'is UP'; }
node_idle() { [[ $(sinfo -h -n "$node" -o %t) == idle ]]; }
no_jobs() { [[ -z $(squeue -h -o %A) ]]; }

job_state() { scontrol show job "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | cut -d= -f2; }
trial_job_completed() { [[ $(job_state "$1") == COMPLETED ]]; }

log_tail() { # the last lines of the logs, for a failed start
    local f
    for f in "$dir"/log/*; do
        [[ -s $f ]] && { echo "--- $f"; tail -n 15 "$f"; }
    done
    return 0
}


ends_within() { # up to $1 seconds for process $2 to end
    local i
    for ((i = 0; i < $1 * 10; i++)); do
        alive "$2" || return 0
        sleep 0.1
    done
    ! alive "$2"
}

# Ends the daemons this folder's pid records name: TERM, then KILL after 10 s.
stop_daemons() {
    local d pid left
    for d in slurmd slurmctld munged; do
        pid=$(pid_of "$d") || { rm -f "$dir/run/$d.started"; continue; }
        kill -TERM "$pid" 2>/dev/null || true
        if ! ends_within 10 "$pid"; then
            kill -KILL "$pid" 2>/dev/null || true
            ends_within 5 "$pid" || true
        fi
        rm -f "$dir/run/$d.started"
    done
    left=$(running)
    [[ -z $left ]] || die "could not end: $left"
}

# Job-step daemons of this cluster that still run (slurmd starts one per job;
# they carry our SLURM_CONF in their environment).
stepds() {
    local p
    for p in /proc/[0-9]*; do
        [[ $(readlink "$p/exe" 2>/dev/null) == */slurmstepd* ]] || continue
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -q -x -F "SLURM_CONF=$conf" && echo "${p#/proc/}"
    done
    return 0
}


cancel_jobs() {
    controller_up 2>/dev/null || return 0
    local ids
    ids=$(squeue -h -o %A 2>/dev/null | tr '\n' ' ')
    if [[ -n ${ids// /} ]]; then
        say "cancelling jobs $ids"
        # shellcheck disable=SC2086
        scancel $ids 2>/dev/null || true
        wait_for 30 no_jobs || say "jobs still listed after 30 s: $(squeue -h -o %A | tr '\n' ' ')"
    fi
}

do_stop() {
    [[ -d $dir/run ]] || { say "nothing runs in $dir"; return 0; }
    cancel_jobs
    stop_daemons
    # A job-step daemon that outlived slurmd (its jobs could not be
    # cancelled): end its job, whose processes form one group per task, and it.
    local pid child
    for pid in $(stepds); do
        say "ending left-over slurmstepd $pid and its job"
        for child in $(children "$pid"); do
            kill -KILL -- "-$child" 2>/dev/null || kill -KILL "$child" 2>/dev/null || true
        done
        kill -KILL "$pid" 2>/dev/null || true
    done
    say "stopped (logs in $dir/log)"
}

do_start() {
    local reason
    reason=$(unavailable_reason)
    if [[ -n $reason ]]; then
        { mkdir -p "$dir" && echo "$reason" >"$dir/unavailable"; } 2>/dev/null || true
        echo "slurm-local: cannot start: $reason" >&2
        exit 3
    fi
    mkdir -p "$dir"
    rm -f "$dir/unavailable"
    local up
    up=$(running | wc -l)
    if ((up == ${#daemons[@]})) && node_idle; then
        say "already running in $dir"
        echo "export SLURM_CONF=$conf"
        return 0
    elif ((up > 0)); then
        say "partly running in $dir: stopping it first"
        do_stop
    fi

    # A fresh cluster each time: earlier state, spool and logs go.
    rm -rf "$dir/munge" "$dir/state" "$dir/spool" "$dir/log" "$dir/run"
    mkdir -p "$dir/munge" "$dir/state" "$dir/spool" "$dir/log" "$dir/run"
    chmod 755 "$dir/munge"
    # Whatever ends this start early stops what it started.
    trap 'echo "slurm-local: start failed; stopping what was started" >&2; log_tail >&2; do_stop >&2' EXIT

    mungekey --create --keyfile="$dir/munge/munge.key" --force
    chmod 400 "$dir/munge/munge.key"
    launch munged munged --foreground --force --socket="$dir/munge/munge.socket" \
        --key-file="$dir/munge/munge.key" --pid-file="$dir/run/munged.pid" \
        --seed-file="$dir/munge/munged.seed" --log-file="$dir/log/munged.log"
    wait_for 15 munge_works || die "munged does not answer"

    local port
    port=$(free_port_pair)
    write_conf "$port"
    launch slurmctld slurmctld -D -c -f "$conf"
    wait_for 30 controller_up || die "slurmctld does not answer"
    launch slurmd slurmd -D -f "$conf" -N "$node"
    wait_for 30 node_idle || die "node $node does not become idle"

    # A trivial job proves that jobs start and end.
    local id
    id=$(sbatch --parsable --output=/dev/null --job-name=slurm-local-check --wrap=true)
    wait_for 30 trial_job_completed "$id" || die "trial job $id did not complete"
    trap - EXIT

    say "running in $dir ($(running | tr '\n' ' '))"
    echo "export SLURM_CONF=$conf"
}

do_status() {
    local d pid up=0
    for d in "${daemons[@]}"; do
        if pid=$(pid_of "$d"); then
            say "$d runs (pid $pid)"
            up=$((up + 1))
        else
            say "$d does not run"
        fi
    done
    if ((up == ${#daemons[@]})); then
        sinfo
        echo "export SLURM_CONF=$conf"
        return 0
    fi
    return 1
}

case ${1:-} in
    start) do_start ;;
    stop) do_stop ;;
    status) do_status ;;
    *)
        echo "usage: $0 start|stop|status   (state folder: \$NELO_SLURM_DIR, now $dir)" >&2
        exit 2
        ;;
esac
