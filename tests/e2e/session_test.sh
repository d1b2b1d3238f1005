#!/usr/bin/env bash
# Drives the real quorcli in a private tmux server against the stand-in
# server: connect with a typed password, see the remote screen, type into it,
# switch screens with Shift+F4/Shift+F3, open the session menu with Shift+F1,
# end with Shift+F2; a wrong password is reported and asked again; --direct
# with --server connects without showing the lists.
# Usage: session_test.sh <build-dir>
set -u

BUILD=${1:?usage: session_test.sh <build-dir>}
BIN=$BUILD/quorcli
SIM=$BUILD/quorvex-sim
[ -x "$BIN" ] || { echo "FAIL: $BIN not built"; exit 1; }
[ -x "$SIM" ] || { echo "FAIL: $SIM not built"; exit 1; }
command -v tmux >/dev/null || { echo "FAIL: tmux not found"; exit 1; }

# The program reads its configuration beside itself, so a link in a fresh
# folder gives it a private file.
WORK=$(mktemp -d)
ln -s "$BIN" "$WORK/quorcli"
TMUX_NAME=quorcli-session-$$-$RANDOM
STARTED=0
SIM_PID=
cleanup() {
    [ "$STARTED" = 1 ] && tmux -L "$TMUX_NAME" kill-server 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

screen() { tmux -L "$TMUX_NAME" capture-pane -p -t s 2>/dev/null; }
row() { screen | sed -n "$(($1 + 1))p"; }     # screen row, 0-based
keys() { tmux -L "$TMUX_NAME" send-keys -t s "$@"; }
typed() { tmux -L "$TMUX_NAME" send-keys -t s -l "$1"; }
# Shift+F1..F4 as the Linux console sends them.
shift_f() {
    local seq
    case $1 in 1) seq='[25~' ;; 2) seq='[26~' ;; 3) seq='[28~' ;; 4) seq='[29~' ;; esac
    typed $'\e'"$seq"
}

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    screen
    exit 1
}

# Waits (at most $2 seconds, default 10) until the screen shows the text.
wait_for() {
    local deadline=$((SECONDS + ${2:-10}))
    while ((SECONDS < deadline)); do
        screen | grep -qF -- "$1" && return 0
        sleep 0.1
    done
    fail "timed out waiting for '$1'"
}

wait_gone() {
    local deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        screen | grep -qF -- "$1" || return 0
        sleep 0.1
    done
    fail "'$1' is still shown"
}

# Waits until row $1 begins with the text (at most 10 seconds).
wait_row() {
    local deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        case "$(row "$1")" in "$2"*) return 0 ;; esac
        sleep 0.1
    done
    fail "row $1 does not begin with '$2'"
}

# Counts the sim log lines that contain the text.
logged() { grep -cF -- "$1" "$WORK/sim.log" 2>/dev/null || true; }

# Each start gets a tmux server of its own (a new one on the socket of a
# server being killed may find it still going away).
RUN=0
start() {
    [ "$STARTED" = 1 ] && tmux -L "$TMUX_NAME" kill-server 2>/dev/null
    RUN=$((RUN + 1))
    TMUX_NAME=quorcli-session-$$-$RANDOM-$RUN
    rm -f "$WORK/status"
    tmux -L "$TMUX_NAME" new-session -d -s s -x 80 -y 25 -e TERM=xterm \
        "sh -c 'cd \"$WORK\" && ./quorcli $* 2>\"$WORK/stderr\"; echo \$? > \"$WORK/status\"; echo ended; sleep 300'" ||
        fail "cannot start tmux"
    STARTED=1
}

# --- The stand-in: quick heartbeats so that a wrong password shows soon ---
"$SIM" --port=0 --heartbeat-ms=20 --log="$WORK/sim.log" >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 100); do
    grep -q "listening on" "$WORK/sim.out" 2>/dev/null && break
    sleep 0.05
done
PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/sim.out" | head -1)
[ -n "$PORT" ] || fail "the stand-in did not start: $(cat "$WORK/sim.out")"
printf 'server=127.0.0.1:%s,Simulator\r\n' "$PORT" >"$WORK/quorcli.cfg"

# --- Connect through the lists with a typed password ---
start
wait_for "Select Proxy Server"
keys Enter                                   # [Direct Connection]
wait_for "Simulator"
keys Enter
wait_for "Password for Simulator:"
typed quorvex
keys Enter
# The remote console: its title bar on row 0, the prompt under the banner.
wait_row 0 " QUORVEX Server Console"
row 0 | grep -qF "screen 1" || fail "not screen 1: '$(row 0)'"
wait_row 2 "quorvex>"

# Typing reaches the server and comes back painted.
typed "hello"
wait_for "quorvex> hello"
[ "$(logged '"keyword":"0x2368"')" -ge 1 ] || fail "no key word 0x2368 for h in the log"
# The terminal's cursor is where the server put it: after the typed text.
cursor=$(tmux -L "$TMUX_NAME" display-message -p -t s '#{cursor_x},#{cursor_y}')
[ "$cursor" = "14,2" ] || fail "cursor at $cursor, expected 14,2"

# Shift+F4: the next screen; Shift+F3: back.
shift_f 4
wait_row 0 " QUORVEX System Monitor"
shift_f 3
wait_row 0 " QUORVEX Server Console"
wait_for "quorvex> hello"

# Shift+F1: the session menu over the remote screen; Esc resumes.
shift_f 1
wait_for "Select Screen To View"
row 11 | grep -qF "Select Screen To View" || fail "menu not on row 11"
row 15 | grep -qF "Restart Server" || fail "no Restart Server item"
keys Escape
wait_gone "Select Screen To View"
typed "!"
wait_for "quorvex> hello!"

# Shift+F2 ends the session: the server list is back.
shift_f 2
wait_for "Insert=New Server"
wait_for "Simulator"

# --- A wrong password is reported and asked again ---
keys Enter
wait_for "Password for Simulator:"
typed "not the password"
keys Enter
wait_for "Invalid password !" 15
wait_for "Password for Simulator:" 15
keys Escape
wait_for "Insert=New Server"

# Leave: Esc at the server list, then at the proxy list.
keys Escape
wait_for "Select Proxy Server"
keys Escape
wait_for ended
[ "$(cat "$WORK/status")" = 0 ] || fail "exit status $(cat "$WORK/status")"

# --- --direct --server=NAME connects without showing the lists ---
start --direct --server=Sim
wait_for "Password for Simulator:"
screen | grep -qF "Select Proxy Server" && fail "the proxy list was shown"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"
shift_f 2
wait_for "Insert=New Server"
keys Escape
wait_for "Select Proxy Server"
keys Escape
wait_for ended
[ "$(cat "$WORK/status")" = 0 ] || fail "exit status $(cat "$WORK/status")"

echo "PASS"
