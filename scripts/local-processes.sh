# Shared by scripts/slurm-local.sh and scripts/ssh-local.sh (sourced, not
# run): processes by pid and free TCP ports. The script that sources it
# defines die().

alive() { # process $1 runs (an ended one may linger as a zombie until it is reaped)
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    [[ ${stat##*) } != Z* ]]
}

children() { # the pids whose parent is $1
    local p stat fields
    for p in /proc/[0-9]*; do
        stat=$(cat "$p/stat" 2>/dev/null) || continue
        read -r -a fields <<<"${stat##*) }" # after the name, which may hold blanks: state, parent, ...
        [[ ${fields[1]:-} == "$1" ]] && echo "${p#/proc/}"
    done
    return 0
}

port_in_use() { # TCP port $1 bound by anyone (IPv4 or IPv6)
    local hex
    hex=$(printf ':%04X ' "$1")
    grep -q -h -F -- "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# Two free neighbouring ports, chosen at random below Linux's range for
# outgoing connections (32768 and up), so that no client takes them meanwhile.
free_port_pair() {
    local p _
    for _ in $(seq 50); do
        p=$((20000 + RANDOM % 12000))
        port_in_use "$p" || port_in_use $((p + 1)) || { echo "$p"; return; }
    done
    die "found no two free neighbouring TCP ports"
}
