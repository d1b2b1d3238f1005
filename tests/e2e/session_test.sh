#!/usr/bin/env bash
# Drives the real quorcli in a private tmux server against the stand-in
# server: connect with a typed password, see the remote screen, type into it,
# switch screens with Shift+F4/Shift+F3, open the session menu with Shift+F1,
# end with Shift+F2; a wrong password is reported and asked again; --direct
# with --server connects without showing the lists. The terminal's title
# names the server while connected and is put back at the end; what is typed
# in a list shows on the status row for a second.
# Usage: session_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: session_test.sh <build-dir>}
BIN=$BUILD/quorcli
SIM=$BUILD/quorvex-sim
need "$BIN"
need "$SIM"

# The program reads its configuration beside itself, so a link in the work
# folder gives it a private file.
ln -s "$BIN" "$WORK/quorcli"

# Shift+F1..F4 as the Linux console sends them.
shift_f() {
    local seq
    case $1 in 1) seq='[25~' ;; 2) seq='[26~' ;; 3) seq='[28~' ;; 4) seq='[29~' ;; esac
    typed $'\e'"$seq"
}

title() { tmx display-message -p -t "$PANE" '#{pane_title}'; }

# Counts the sim log lines that contain the text.
logged() { grep -cF -- "$1" "$WORK/sim.log" 2>/dev/null || true; }

# Starts the program with the options in a new private tmux server.
start() { start_reporting s "cd \"$WORK\" && ./quorcli $*"; }

# Leaves from the server list: Esc there, then at the proxy list; the
# program ends with status 0.
leave() {
    keys Escape
    wait_for "Select Proxy Server"
    keys Escape
    ended_with 0
}

# --- The stand-in: quick heartbeats so that a wrong password shows soon ---
start_sim "$SIM" --heartbeat-ms=20 --log="$WORK/sim.log"
printf 'server=127.0.0.1:%s,Simulator\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"

# --- Connect through the lists with a typed password ---
start
wait_for "Select Proxy Server"
[ "$(title)" = "Quorvex Client v.1.7 - disconnected" ] || fail "title '$(title)'"
keys Enter                                   # [Direct Connection]
wait_for "Simulator"
typed S
wait_row 24 "Find: S"
wait_row 24 " F5=Set Master Password" 5
keys Enter
wait_for "Password for Simulator:"
typed quorvex
keys Enter
# The remote console: its title bar on row 0, the prompt under the banner.
wait_row 0 " QUORVEX Server Console"
row 0 | grep -qF "screen 1" || fail "not screen 1: '$(row 0)'"
wait_row 2 "quorvex>"
[ "$(title)" = "Simulator (127.0.0.1:$SIM_PORT) - Quorvex Client v.1.7" ] || fail "title '$(title)'"

# Typing reaches the server and comes back painted.
typed "hello"
wait_for "quorvex> hello"
[ "$(logged '"keyword":"0x2368"')" -ge 1 ] || fail "no key word 0x2368 for h in the log"
# The terminal's cursor is where the server put it: after the typed text.
cursor=$(tmx display-message -p -t "$PANE" '#{cursor_x},#{cursor_y}')
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

leave
[ "$(title)" = "$(tmx display-message -p '#{host}')" ] || fail "the title was not put back: '$(title)'"

# --- --direct --server=NAME connects without showing the lists ---
start --direct --server=Sim
wait_for "Password for Simulator:"
screen | grep -qF "Select Proxy Server" && fail "the proxy list was shown"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"
shift_f 2
wait_for "Insert=New Server"
leave

echo "PASS"
