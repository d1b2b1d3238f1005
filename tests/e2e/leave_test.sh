#!/usr/bin/env bash
# Leaving a session that the server keeps waiting, on the real quorcli in a
# private tmux server: a silent server, an update cut short, and a server
# that falls silent after a wrong password. After a few seconds the status
# row says how to leave; Shift+F2 brings the server list back (within a
# second, which scripts/bench measures), and the stand-in sees the
# connection closed.
# Usage: leave_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: leave_test.sh <build-dir>}
BIN=$BUILD/quorcli
SIM=$BUILD/quorvex-sim
need "$BIN"
need "$SIM"
ln -s "$BIN" "$WORK/quorcli"

# leave_case <name> <password to type> <stand-in options...>
leave_case() {
    local name=$1 password=$2 log t0 took
    shift 2
    log=$WORK/$name.log
    start_sim "$SIM" --log="$log" "$@"
    printf 'server=127.0.0.1:%s,Stalling\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"
    start_reporting "$name" "cd \"$WORK\" && ./quorcli --direct --server=Stalling"
    wait_for "Password for Stalling:"
    typed "$password"
    keys Enter
    wait_for "Waiting for the server's screen..." 10
    row 24 | grep -qF "Shift+F2=End remote session" || fail "$name: no hint how to leave: '$(row 24)'"
    t0=$(now_ms)
    keys S-F2
    wait_for "Insert=New Server"
    took=$(($(now_ms) - t0))
    # Within a second is the aim (scripts/bench); this fails only far past it.
    [ "$took" -lt 5000 ] || fail "$name: Shift+F2 took $took ms"
    wait_until 10 "$name: the stand-in did not see the connection closed" grep -qF '"event":"close"' "$log"
    grep -qF '"keyword"' "$log" && fail "$name: a key reached the server"
    echo "$name: back at the server list $took ms after Shift+F2"
    keys Escape
    wait_for "Select Proxy Server"
    keys Escape
    ended_with 0
    kill "${E2E_PIDS[-1]}" 2>/dev/null
}

leave_case silent quorvex --silent
leave_case stalled quorvex --stall --heartbeat-ms=0
leave_case wrongpw quorvex --password=another --heartbeat-ms=0

echo "PASS: leave_test"
