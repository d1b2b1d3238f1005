#!/usr/bin/env bash
# How soon the real programs react, in a private tmux server against the
# stand-in: each case five times, then "NAME: median N ms, slowest N ms".
# Times are taken by looking at the pane (or the stand-in's log, or the
# process) every 10 ms, so they run a few ms long.
#   leave        Shift+F2 in a session that a silent server keeps waiting,
#                until the server list shows (aim: under 1 s)
#   error-term   SIGTERM while a connection's error message is shown, until
#                the program has ended (aim: well under the 1 s pause that
#                follows the message)
#   flood-key    a key typed while the server sends updates back to back,
#                until the server has it (aim: under 2 s)
#   demo-term    SIGTERM to the terminal demo, until it has ended (aim: under 2 s)
#   demo-hangup  the demo's terminal hangs up, until it has ended (aim: under 2 s)
# The tests check these only at bounds several times as long.
# Usage: reaction.sh <build-dir>
set -u
BUILD=$(cd "${1:?usage: reaction.sh <build-dir>}" && pwd)
. "$(dirname "$0")/../tests/e2e/lib.sh"
need "$BUILD/quorcli"
need "$BUILD/quorvex-sim"
need "$BUILD/tools/termdemo"
ln -s "$BUILD/quorcli" "$WORK/quorcli"
RUNS=5

# until_ms <command...>: runs the command every 10 ms until it succeeds (30 s
# at most); prints the ms since $t0.
until_ms() {
    local deadline=$(($(now_ms) + 30000))
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "no reaction within 30 s: $*"
        sleep 0.01
    done
    echo $(($(now_ms) - t0))
}
# report NAME TIMES...: the median and the slowest.
report() {
    local name=$1
    shift
    printf '%s\n' "$@" | sort -n | awk -v n="$name" '{ t[NR] = $1 } END { printf "%s: median %d ms, slowest %d ms\n", n, t[int((NR + 1) / 2)], t[NR] }'
}
gone() { ! kill -0 "$1" 2>/dev/null; }
# at_least N TEXT: the flood's log has at least N lines with the text.
at_least() { [ "$(grep -cF -- "$2" "$WORK/flood.log")" -ge "$1" ]; }
# The pid of the program the pane's shell started.
program_pid() { pgrep -P "$(tmx list-panes -t "$PANE" -F '#{pane_pid}')" | head -1; }
# password <server>: answers the password prompt for the server.
password() {
    wait_for "Password for $1:"
    typed quorvex
    keys Enter
}

# --- Shift+F2 in a session the server keeps waiting ---
start_sim "$BUILD/quorvex-sim" --silent
printf 'server=127.0.0.1:%s,Silent\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"
start_reporting leave "cd \"$WORK\" && ./quorcli --direct --server=Silent"
times=()
for ((i = 0; i < RUNS; i++)); do
    [ "$i" = 0 ] || keys Enter
    password Silent
    wait_for "Waiting for the server's screen..."
    t0=$(now_ms)
    keys S-F2
    times+=("$(until_ms shows "Insert=New Server")")
done
report leave "${times[@]}"
keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0

# --- SIGTERM while a connection's error message is shown ---
printf 'server=127.0.0.1:1,Closed\r\n' >"$WORK/quorcli.cfg"
times=()
for ((i = 0; i < RUNS; i++)); do
    start_reporting error "cd \"$WORK\" && ./quorcli --direct --server=Closed"
    wait_for "Connection to IP address 127.0.0.1 has failed!"
    pid=$(program_pid)
    [ -n "$pid" ] || fail "cannot find the program's process"
    t0=$(now_ms)
    kill -TERM "$pid"
    times+=("$(until_ms shows ended)")
done
report error-term "${times[@]}"

# --- A key typed while the server floods ---
start_sim "$BUILD/quorvex-sim" --flood=30 --log="$WORK/flood.log"
printf 'server=127.0.0.1:%s,Flood\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"
start_reporting flood "cd \"$WORK\" && ./quorcli --direct --server=Flood"
times=()
for ((i = 1; i <= RUNS; i++)); do
    [ "$i" = 1 ] || keys Enter
    password Flood
    # The flood is on once the session's first update is acknowledged.
    wait_until 30 "no session" at_least "$i" '"type":4,'
    t0=$(now_ms)
    typed q
    times+=("$(until_ms at_least "$i" '"keyword":"0x1071"')")
    keys S-F2
    wait_for "Insert=New Server" 30
done
report flood-key "${times[@]}"
keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0

# --- The terminal demo: SIGTERM, and a hang-up ---
for case in term hangup; do
    times=()
    for ((i = 0; i < RUNS; i++)); do
        start_reporting demo "TERM=xterm \"$BUILD/tools/termdemo\""
        wait_for "ZEV Telvane/IP v.1.7"
        pid=$(screen | sed -n 's/.*pid=\([0-9][0-9]*\).*/\1/p' | head -1)
        [ -n "$pid" ] || fail "the demo shows no pid"
        t0=$(now_ms)
        if [ "$case" = term ]; then
            kill -TERM "$pid"
            times+=("$(until_ms shows ended)")
        else
            tmx kill-server
            times+=("$(until_ms gone "$pid")")
        fi
    done
    report "demo-$case" "${times[@]}"
done
