#!/usr/bin/env bash
# What the real quorcli shows: the code page's glyphs in a UTF-8 locale and
# plain ASCII line drawing in the C locale, lists and the remote screen; the
# whole picture back after the window shrinks and grows again, at the lists,
# in a dialog and in a session (and no resize reaches the server as a key);
# on 24 rows the status line and the remote cursor's row stay in view.
# Usage: display_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: display_test.sh <build-dir>}
BIN=$BUILD/quorcli
SIM=$BUILD/quorvex-sim
need "$BIN"
need "$SIM"
ln -s "$BIN" "$WORK/quorcli"

start_sim "$SIM" --heartbeat-ms=20 --log="$WORK/sim.log"
printf 'server=127.0.0.1:%s,Simulator\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"

row_has() { row "$1" | grep -qF -- "$2"; }
start() { start_reporting d "cd \"$WORK\" && ./quorcli $1" "${@:2}"; }

# From the lists into a session on the stand-in's console screen.
connect() {
    wait_for "Select Proxy Server"
    keys Enter
    wait_for "Simulator"
    keys Enter
    wait_for "Password for Simulator:"
    typed quorvex
    keys Enter
    wait_for "quorvex>"
}

# Ends the session and leaves the lists; the program ends with status 0.
leave() {
    keys S-F2
    wait_for "Insert=New Server"
    keys Escape
    wait_for "Select Proxy Server"
    keys Escape
    ended_with 0
}

# --- UTF-8: frames and the remote screen's glyphs as themselves ---
PANE_LOCALE=C.UTF-8
start "" xterm-256color
wait_for "Select Proxy Server"
row_has 6 "▒╔[Select Proxy Server]═════" || fail "no double frame: '$(row 6)'"
row_has 6 "═╗▒" || fail "no top right corner"
row_has 7 "▒║ │[Direct Connection]" || fail "no double side"
connect
keys S-F4
wait_row 0 " QUORVEX System Monitor"
wait_until 5 "no glyphs on the monitor: '$(row 14)'" row_has 14 "Charset       ░▒▓█ é ╔═╗║"
leave

# --- C locale: plain ASCII, as the program always showed it there ---
PANE_LOCALE=C
start "" xterm-256color
wait_for "Select Proxy Server"
[ "$(row 6 | cut -c7-35)" = "+[Select Proxy Server]-------" ] || fail "frame: '$(row 6)'"
[ "$(row 7 | cut -c7-30)" = "| |[Direct Connection]  " ] || fail "frame side: '$(row 7)'"
screen | LC_ALL=C grep -q '[^ -~]' && fail "a character that is not plain ASCII"
connect
keys S-F4
wait_row 0 " QUORVEX System Monitor"
wait_until 5 "monitor glyphs: '$(row 14)'" row_has 14 "Charset          #   +-+|"
leave

# --- Resize: shrink, grow back, the picture is whole again ---
# resized <what>: shrinks the window, grows it back and waits until the
# screen is exactly what it was before.
height_is() { [ "$(tmx display -p -t "$PANE" '#{pane_height}')" = "$1" ]; }
screen_is() { [ "$(screen)" = "$1" ]; }
resized() {
    local before
    before=$(screen)
    tmx resize-window -t "$PANE" -x 50 -y 12
    wait_until 5 "$1: did not shrink" height_is 12
    wait_until 5 "$1: the small view does not end with the last row" not screen_is "$before"
    tmx resize-window -t "$PANE" -x 80 -y 25
    wait_until 5 "$1: not redrawn whole after the resize" screen_is "$before"
}
PANE_LOCALE=C.UTF-8
: >"$WORK/sim.log"
start "" xterm-256color
wait_for "Insert=New Proxy Server"
resized "proxy list"
keys Enter
wait_for "Insert=New Server"
keys Enter
wait_for "Password for Simulator:"
resized "password dialog"
typed quorvex
keys Enter
wait_row 2 "quorvex>"
typed "x"
wait_for "quorvex> x"
resized "remote screen"
typed "y"
wait_for "quorvex> xy"
# Only the two typed keys reached the server.
[ "$(grep -c '"type":5,' "$WORK/sim.log")" = 2 ] || fail "key messages: $(grep '"type":5,' "$WORK/sim.log")"
leave

# --- 24 rows: the view follows the cursor ---
start "" xterm 24
wait_for "Select Proxy Server"
row_has 23 "Insert=New Proxy Server" || fail "legend not on the last row: '$(row 23)'"
keys Enter
wait_for "Simulator"
keys Enter
wait_for "Password for Simulator:"
typed "not the password"
keys Enter
wait_for "Invalid password !" 15
wait_for "Password for Simulator:" 15
typed quorvex
keys Enter
# The remote cursor is on row 2: rows 1..24 are shown, the status bar too.
wait_row 1 "quorvex>"
row_has 23 "Enter=new line" || fail "remote status bar not in view: '$(row 23)'"
[ "$(tmx display -p -t "$PANE" '#{cursor_x},#{cursor_y}')" = "11,1" ] || fail "cursor not after the typed text"
leave

echo "PASS"
