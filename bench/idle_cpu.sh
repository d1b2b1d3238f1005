#!/usr/bin/env bash
# CPU time a program takes while it sits idle on a real terminal (tmux),
# waiting for a key. Target: well under 0.5% of one core.
# Usage: idle_cpu.sh <build-dir> [program]   (program: default tools/termdemo)
# The program runs from a copy in a temporary directory, so a configuration
# file it reads or writes beside itself is a fresh one. A Windows program
# (*.exe) runs under wine, in the prefix WINEPREFIX (default
# <build-dir>/wineprefix); its figure then counts every process of that prefix
# (the program, its conhost, wineserver, explorer and wine's services), so
# nothing else should use the prefix meanwhile; the program's own share is
# printed as well.
set -u

BUILD=${1:?usage: idle_cpu.sh <build-dir> [program]}
PROGRAM=${2:-$BUILD/tools/termdemo}
IDLE_SECONDS=10
[ -x "$PROGRAM" ] || { echo "no program at $PROGRAM"; exit 1; }
command -v tmux >/dev/null || { echo "tmux is not installed"; exit 1; }

SOCK="quor-idle-$$-$RANDOM"
WORK=$(mktemp -d)
PID=""
cleanup() {
    [ -n "$PID" ] && kill -TERM "$PID" 2>/dev/null
    tmux -L "$SOCK" kill-server 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

cp "$PROGRAM" "$WORK/"
COPY="$WORK/$(basename "$PROGRAM")"
RUNNER=""
case $PROGRAM in
*.exe)
    command -v wine >/dev/null || { echo "wine is not installed"; exit 1; }
    export WINEPREFIX=${WINEPREFIX:-$(cd "$BUILD" && pwd)/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
    RUNNER="wine "
    ;;
esac
tmux -L "$SOCK" -f /dev/null new-session -d -x 80 -y 25 \
    "sh -c 'echo \$\$ > $WORK/pid; TERM=xterm exec $RUNNER$COPY'"

# Wait (bounded) for the pid and for something on the screen.
for _ in $(seq 100); do
    [ -s "$WORK/pid" ] && [ -n "$(tmux -L "$SOCK" capture-pane -p | tr -d ' \n')" ] && break
    sleep 0.05
done
PID=$(cat "$WORK/pid" 2>/dev/null)
[ -n "$PID" ] && kill -0 "$PID" 2>/dev/null || { echo "program did not start"; exit 1; }
# Let start-up finish before measuring; wine's own services take longer.
if [ -n "$RUNNER" ]; then sleep 5; else sleep 1; fi

# Run time in clock ticks of every thread of a process, from the scheduler's
# nanoseconds: finer than utime + stime, which round away a program that
# wakes now and then, and the many small wine processes.
run_ticks() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk -v hz="$(getconf CLK_TCK)" '{ ns += $1 } END { print ns * hz / 1e9 }'; }

# "pid ticks" of the measured processes: the program, and under wine every
# process of its prefix.
measured() {
    local p exe
    if [ -z "$RUNNER" ]; then
        echo "$PID $(run_ticks "$PID")"
        return
    fi
    for p in /proc/[0-9]*; do
        exe=$(readlink "$p/exe" 2>/dev/null) || continue
        case $exe in */wine/*) ;; *) continue ;; esac
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        echo "${p#/proc/} $(run_ticks "${p#/proc/}")"
    done
}

measured >"$WORK/before"
sleep "$IDLE_SECONDS"
kill -0 "$PID" 2>/dev/null || { echo "program ended while idle"; exit 1; }
measured >"$WORK/after"
# Processes that started meanwhile count from 0; those that ended are lost.
used=$(awk 'NR == FNR { start[$1] = $2; next } { sum += $2 - start[$1] } END { print sum + 0 }' \
    "$WORK/before" "$WORK/after")
if [ -n "$RUNNER" ]; then
    printf 'measured:'
    while read -r p _; do printf ' %s' "$(cat "/proc/$p/comm" 2>/dev/null)"; done <"$WORK/after"
    echo
fi
hz=$(getconf CLK_TCK)
if [ -n "$RUNNER" ]; then
    own=$(awk -v p="$PID" 'NR == FNR { if ($1 == p) start = $2; next } $1 == p { print $2 - start }' \
        "$WORK/before" "$WORK/after")
    # wine's loader execs in place, so the started pid is the program's.
    if [ -n "$own" ]; then
        awk -v d="$own" -v hz="$hz" -v s="$IDLE_SECONDS" \
            'BEGIN { printf "the program alone: %.2f%% of one core\n", 100 * d / hz / s }'
    else
        echo "the program alone: not found among wine's processes"
    fi
fi
awk -v d="$used" -v hz="$hz" -v s="$IDLE_SECONDS" \
    'BEGIN { printf "idle CPU: %.2f%% of one core over %d s\n", 100 * d / hz / s, s }'
