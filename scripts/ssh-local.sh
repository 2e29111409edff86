#!/usr/bin/env bash
# An OpenSSH server on 127.0.0.1, for Nelo's tests and for trying Nelo's runs
# on a cluster reached over SSH without a cluster:
#
#   bash scripts/ssh-local.sh start|stop|status
#
# Everything lives in one folder: $NELO_SSH_DIR, else
# $XDG_RUNTIME_DIR/nelo-sshd, else /tmp/nelo-sshd-UID. It holds the server's
# generated host key, two generated client keys (client_key without a
# passphrase, passphrase_key with the passphrase in the file "passphrase"),
# authorized_keys, sshd_config, the server's pid and log, and ssh_config for
# clients with the Host aliases
#
#   nelo-cluster   the server, logging in as the user who started it
#   nelo-chatty    the same server on a second port, where every login prints
#                  a line before the command it runs (as a banner, a message of
#                  the day or a shell start-up file would)
#
# and known_hosts with the host key for both. Clients use it with
# `ssh -F FOLDER/ssh_config nelo-cluster` (Nelo with NELO_SSH_CONFIG set to
# that file); no file outside the folder is read or changed, except that the
# server needs its privilege-separation folder /run/sshd, which is made when
# missing (the system's sshd service makes the same one).
#
# Commands run through it see SLURM_CONF as it was when the server started
# (set by sshd's SetEnv), so that they find the local Slurm of
# scripts/slurm-local.sh. `start` keeps the keys and ports of an earlier start
# in the same folder, so that a client's known_hosts and master connections
# stay valid across a stop and a start; `stop` ends the server and every
# connection it serves (their processes), by pid.
#
# Exit status: 0 done; 1 failed (the message says why); 3 cannot run on this
# machine (not root, or openssh-server missing): the reason is also written to
# the file "unavailable" in the folder, for test suites to report.
set -euo pipefail

die() { echo "ssh-local: $*" >&2; exit 1; }
say() { echo "ssh-local: $*"; }
# shellcheck source=local-processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/local-processes.sh"

if [[ -n ${NELO_SSH_DIR:-} ]]; then
    dir=$NELO_SSH_DIR
elif [[ -n ${XDG_RUNTIME_DIR:-} ]]; then
    dir=$XDG_RUNTIME_DIR/nelo-sshd
else
    dir=/tmp/nelo-sshd-$(id -u)
fi
[[ $dir == /* ]] || dir=$PWD/$dir
# sshd_config and ssh_config cannot quote every character.
[[ $dir =~ ^[A-Za-z0-9_./+-]+$ ]] || die "the folder '$dir' may hold only letters, digits and _ . / + - (set NELO_SSH_DIR)"
sshd=/usr/sbin/sshd


server_pid() { # the pid of this folder's server, if it runs
    local pid
    [[ -f $dir/sshd.pid ]] || return 1
    pid=$(<"$dir/sshd.pid")
    [[ $pid =~ ^[0-9]+$ ]] && alive "$pid" || return 1
    [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == */sshd ]] || return 1
    echo "$pid"
}

# The sshd processes that serve this folder's connections: descendants of the
# server (each connection has one or two).
connection_pids() {
    local child
    for child in $(children "$1"); do
        echo "$child"
        connection_pids "$child"
    done
}

unavailable_reason() {
    if [[ $(id -u) -ne 0 ]]; then
        echo "needs root (sshd changes to the user it logs in); run it as root"
    elif [[ ! -x $sshd ]] || ! command -v ssh-keygen >/dev/null || ! command -v ssh >/dev/null; then
        echo "missing sshd, ssh or ssh-keygen: install Debian's openssh-server and openssh-client packages"
    fi
}


listening() { # something listens on TCP port $1 (state 0A)
    local hex
    hex=$(printf ':%04X' "$1")
    awk -v p="$hex" '$2 ~ p"$" && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6 2>/dev/null
}


make_keys() {
    [[ -f $dir/host_key ]] || ssh-keygen -q -t ed25519 -N '' -C nelo-test-host -f "$dir/host_key"
    [[ -f $dir/client_key ]] || ssh-keygen -q -t ed25519 -N '' -C nelo-test-client -f "$dir/client_key"
    if [[ ! -f $dir/passphrase_key ]]; then
        echo "nelo test passphrase" >"$dir/passphrase"
        ssh-keygen -q -t ed25519 -N "$(<"$dir/passphrase")" -C nelo-test-passphrase -f "$dir/passphrase_key"
    fi
    cat "$dir/client_key.pub" "$dir/passphrase_key.pub" >"$dir/authorized_keys"
}

write_configs() {
    local port=$1 user key
    user=$(id -un)
    key=$(cut -d' ' -f1,2 "$dir/host_key.pub")
    cat >"$dir/login.sh" <<'EOF'
#!/bin/sh
# A chatty login: a line before every command.
echo "Welcome to the Nelo test cluster. Mind the quota."
if [ -n "$SSH_ORIGINAL_COMMAND" ]; then
    exec /bin/sh -c "$SSH_ORIGINAL_COMMAND"
fi
exec /bin/sh -l
EOF
    chmod 755 "$dir/login.sh"
    echo "Nelo test cluster: authorised use only." >"$dir/banner"
    cat >"$dir/sshd_config" <<EOF
# An sshd made by Nelo's scripts/ssh-local.sh; every file is in $dir.
ListenAddress 127.0.0.1:$port
ListenAddress 127.0.0.1:$((port + 1))
HostKey $dir/host_key
PidFile none
AuthorizedKeysFile $dir/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
AllowUsers $user
PrintMotd no
X11Forwarding no
AllowTcpForwarding no
# Allow a client many sessions at once, so a client that opened too many is
# seen by the client's own count, not by a refusal here.
MaxSessions 10
${SLURM_CONF:+SetEnv SLURM_CONF=$SLURM_CONF}
Match LocalPort $((port + 1))
    ForceCommand $dir/login.sh
    Banner $dir/banner
EOF
    cat >"$dir/ssh_config" <<EOF
# Clients of the sshd made by Nelo's scripts/ssh-local.sh: ssh -F $dir/ssh_config nelo-cluster
Host nelo-cluster nelo-chatty
    HostName 127.0.0.1
    User $user
    IdentityFile $dir/client_key
    IdentitiesOnly yes
    UserKnownHostsFile $dir/known_hosts
    GlobalKnownHostsFile /dev/null
    UpdateHostKeys no
Host nelo-cluster
    Port $port
Host nelo-chatty
    Port $((port + 1))
EOF
    printf '[127.0.0.1]:%s %s\n[127.0.0.1]:%s %s\n' "$port" "$key" $((port + 1)) "$key" >"$dir/known_hosts"
    echo "$port" >"$dir/port"
}

answers() { # the server takes a command through the plain alias
    ssh -F "$dir/ssh_config" -o BatchMode=yes -o ConnectTimeout=5 -o ControlMaster=no -o ControlPath=none \
        nelo-cluster true </dev/null >/dev/null 2>&1
}

do_start() {
    local reason port pid i
    reason=$(unavailable_reason)
    if [[ -n $reason ]]; then
        { mkdir -p "$dir" && echo "$reason" >"$dir/unavailable"; } 2>/dev/null || true
        echo "ssh-local: cannot start: $reason" >&2
        exit 3
    fi
    mkdir -p "$dir"
    chmod 700 "$dir"
    rm -f "$dir/unavailable"
    if pid=$(server_pid); then
        say "already running in $dir (pid $pid)"
        echo "export NELO_SSH_CONFIG=$dir/ssh_config"
        return 0
    fi
    make_keys
    # The ports of an earlier start, while they are free; else new ones.
    port=$(cat "$dir/port" 2>/dev/null || true)
    if [[ ! $port =~ ^[0-9]+$ ]] || listening "$port" || listening $((port + 1)); then
        port=$(free_port_pair)
    fi
    write_configs "$port"
    [[ -d /run/sshd ]] || mkdir -p -m 0755 /run/sshd
    "$sshd" -t -f "$dir/sshd_config" || die "sshd does not take $dir/sshd_config"
    rm -f "$dir/sshd.pid"
    # In the foreground of a session of its own, its pid recorded here.
    setsid "$sshd" -D -f "$dir/sshd_config" -E "$dir/sshd.log" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/sshd.pid"
    for ((i = 0; i < 50; i++)); do
        answers && break
        sleep 0.2
    done
    answers || { do_stop >&2; die "sshd does not answer (see $dir/sshd.log)"; }
    say "running in $dir (pid $(server_pid), ports $port and $((port + 1)))"
    echo "export NELO_SSH_CONFIG=$dir/ssh_config"
}

do_stop() {
    local pid pids p i
    if ! pid=$(server_pid); then
        say "nothing runs in $dir"
        return 0
    fi
    # The connections first, so that none is handed on, then the server.
    pids=$(connection_pids "$pid")
    kill -TERM "$pid" 2>/dev/null || true
    for p in $pids; do kill -KILL "$p" 2>/dev/null || true; done
    for ((i = 0; i < 50; i++)); do
        alive "$pid" || break
        sleep 0.1
    done
    alive "$pid" && kill -KILL "$pid" 2>/dev/null
    rm -f "$dir/sshd.pid"
    say "stopped"
}

do_status() {
    local pid
    if pid=$(server_pid); then
        say "sshd runs (pid $pid, ports $(<"$dir/port") and $(($(<"$dir/port") + 1)))"
        echo "export NELO_SSH_CONFIG=$dir/ssh_config"
        return 0
    fi
    say "sshd does not run"
    return 1
}

case ${1:-} in
    start) do_start ;;
    stop) do_stop ;;
    status) do_status ;;
    *)
        echo "usage: $0 start|stop|status   (folder: \$NELO_SSH_DIR, now $dir)" >&2
        exit 2
        ;;
esac
