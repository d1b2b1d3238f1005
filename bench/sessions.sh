#!/usr/bin/env bash
# N sessions in one process (bench/multi_sessions: one wait point, one
# thread) against one stand-in serving N ports, for N = 1, 50 and 200:
#  - busy: each session shows the stand-in's Monitor screen, which its clock
#    repaints once a second (one update a second a session); measured: the
#    resident memory and the CPU of the sessions' process;
#  - idle: the stand-in's screens stand still and it sends nothing unasked
#    (no clock ticks, no idle headers); measured: the wake-ups a second of
#    the sessions' process (voluntary context switches of all its threads).
#    Target: none beyond the servers' traffic, which is nil here; the one
#    wake-up that ends the measuring counts (0.1 a second over 10 s).
# Prints a line for each run, then for each N:
#   N sessions: resident K kB, cpu X ms/s, idle wake-ups W/s
# Usage: sessions.sh <build-dir>
set -u

BUILD=$(cd "${1:?usage: sessions.sh <build-dir>}" && pwd)
MEASURE_SECONDS=10
COUNTS="1 50 200"
WORK=$(mktemp -d)
SIM=""
stop_sim() {
    [ -n "$SIM" ] || return 0
    kill "$SIM" 2>/dev/null
    for _ in $(seq 100); do
        kill -0 "$SIM" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$SIM" 2>/dev/null
    wait "$SIM" 2>/dev/null
    SIM=""
}
cleanup() {
    stop_sim
    rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK" || exit 1

# The stand-in holds a listening socket and a connection a port; the
# sessions' process a connection a session.
ulimit -n 4096 2>/dev/null || ulimit -n "$(ulimit -Hn)"

# measure N UPDATE_MS [SCREEN]: the line of multi_sessions for N sessions
# against a fresh stand-in whose screens change every UPDATE_MS.
measure() {
    local n=$1 update_ms=$2 screen=${3:-} ports=""
    stdbuf -oL "$BUILD/quorvex-sim" --ports="$n" --port=0 --update-ms="$update_ms" --heartbeat-ms=0 >sim.out 2>&1 &
    SIM=$!
    for _ in $(seq 200); do
        ports=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' sim.out 2>/dev/null)
        [ "$(printf '%s' "$ports" | grep -c .)" = "$n" ] && break
        sleep 0.05
    done
    if [ "$(printf '%s' "$ports" | grep -c .)" != "$n" ]; then
        echo "the stand-in did not listen on $n ports" >&2
        cat sim.out >&2
        return 1
    fi
    printf '%s\n' "$ports" >ports
    timeout $((MEASURE_SECONDS + 90)) "$BUILD/bench/multi_sessions" --seconds="$MEASURE_SECONDS" \
        ${screen:+--screen="$screen"} --ports-file=ports
    local status=$?
    stop_sim
    return "$status"
}

failed=0
summary=()
for n in $COUNTS; do
    busy=$(measure "$n" 1000 Monitor) || { failed=1; echo "$n sessions, busy: failed"; continue; }
    echo "busy: $busy"
    idle=$(measure "$n" 3600000) || { failed=1; echo "$n sessions, idle: failed"; continue; }
    echo "idle: $idle"
    summary+=("$n sessions: $(printf '%s' "$busy" | sed -n 's/.*: \(resident [0-9]* kB, cpu [0-9.]* ms\/s\),.*/\1/p'), idle $(
        printf '%s' "$idle" | sed -n 's/.*, \(wake-ups [0-9.]*\/s\),.*/\1/p')")
done
printf '%s\n' "${summary[@]}"
exit "$failed"
