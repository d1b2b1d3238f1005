#!/usr/bin/env bash
# CPU time a program takes while it sits idle on a real terminal (tmux),
# waiting for a key. Target: well under 0.5% of one core.
# Usage: idle_cpu.sh <build-dir> [program]   (program: default tools/termdemo)
# The program runs from a copy in a temporary directory, so a configuration
# file it reads or writes beside itself is a fresh one.
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
tmux -L "$SOCK" -f /dev/null new-session -d -x 80 -y 25 \
    "sh -c 'echo \$\$ > $WORK/pid; TERM=xterm exec $COPY'"

# Wait (bounded) for the pid and for something on the screen.
for _ in $(seq 100); do
    [ -s "$WORK/pid" ] && [ -n "$(tmux -L "$SOCK" capture-pane -p | tr -d ' \n')" ] && break
    sleep 0.05
done
PID=$(cat "$WORK/pid" 2>/dev/null)
[ -n "$PID" ] && kill -0 "$PID" 2>/dev/null || { echo "program did not start"; exit 1; }
sleep 1   # let start-up finish before measuring

# utime + stime, fields 14 and 15 of /proc/<pid>/stat (after the "(name)").
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

before=$(cpu_ticks "$PID")
sleep "$IDLE_SECONDS"
kill -0 "$PID" 2>/dev/null || { echo "program ended while idle"; exit 1; }
after=$(cpu_ticks "$PID")
hz=$(getconf CLK_TCK)
awk -v d=$((after - before)) -v hz="$hz" -v s="$IDLE_SECONDS" \
    'BEGIN { printf "idle CPU: %.2f%% of one core over %d s\n", 100 * d / hz / s, s }'
