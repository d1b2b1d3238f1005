#!/usr/bin/env bash
# Drives the real quorcli started with --reconnect against the stand-in
# server, which is stopped (by its pid) in the middle of a session and started
# again on the same port, held by the script meanwhile: the client counts
# down, comes back by itself and selects again the screen that was shown;
# stopped once more, the pauses grow without any message box, and Esc
# returns to the server list.
# Usage: reconnect_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: reconnect_test.sh <build-dir>}
BIN=$BUILD/quorcli
SIM=$BUILD/quorvex-sim
need "$BIN"
need "$SIM"

# A private configuration beside a link to the program.
ln -s "$BIN" "$WORK/quorcli"

# Shift+F4 as the Linux console sends it.
shift_f4() { typed $'\e[29~'; }

# Stops the stand-in started last, by its pid, and waits for it.
stop_sim() {
    local pid=${E2E_PIDS[-1]}
    kill "$pid"
    wait "$pid" 2>/dev/null
    unset 'E2E_PIDS[-1]'
}

# True when the stand-in has accepted a second connection (the one that
# reconnects) and a line after it in its log holds the text.
after_second_accept() {
    [ "$(grep -c '"event":"accept"' "$WORK/sim.log")" -ge 2 ] &&
        tac "$WORK/sim.log" | sed '/"event":"accept"/q' | grep -qF -- "$1"
}

# The port stays held while the stand-in is away (see reserve_port).
reserve_port
PORT=$RESERVED_PORT
start_sim "$SIM" --port="$PORT" --reuse-port --heartbeat-ms=20 --log="$WORK/sim.log"
printf 'server=127.0.0.1:%s,Simulator\r\n' "$PORT" >"$WORK/quorcli.cfg"

start_reporting s "cd \"$WORK\" && ./quorcli --reconnect --direct --server=Sim"
wait_for "Password for Simulator:"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"
shift_f4
wait_row 0 " QUORVEX System Monitor"

# --- The stand-in goes away and comes back on the same port ---
stop_sim
wait_for "Link lost - reconnecting in"
row 24 | grep -qF "(Esc stops)" || fail "countdown not on the status row: '$(row 24)'"
start_sim "$SIM" --port="$PORT" --reuse-port --heartbeat-ms=20 --log="$WORK/sim.log"
# The old picture stays meanwhile: the stand-in's log tells when it is back.
wait_until 20 "screen 2 was not selected again" after_second_accept '"type":2,"screen":2'
wait_gone "Link lost"
wait_row 0 " QUORVEX System Monitor"
# A live session again: the next screen comes.
shift_f4
wait_row 0 " QUORVEX Event Log"

# --- Gone for good: the pauses grow, no message box stops them, Esc ends ---
stop_sim
wait_for "Link lost - reconnecting in 2 s (Esc stops)" 10
shows "has failed" && fail "a failed attempt showed a message box"
keys Escape
wait_for "Insert=New Server"
wait_gone "Link lost"

keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0
echo "PASS"
