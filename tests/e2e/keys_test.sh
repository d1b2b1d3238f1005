#!/usr/bin/env bash
# Function keys of the real quorcli as tmux sends them for its named keys,
# under the TERM values tmux and screen users have: in a session with the
# stand-in server, F1..F9 reach the server as key words 0x3B00..0x4300,
# Shift+F1..Shift+F6 run the session shortcuts, and nothing else arrives.
# Where the tty's erase character is ^H, Ctrl+H (byte 8) is Backspace. In a
# UTF-8 pane the keys that the terminal driver keeps for itself outside a
# session, F10..F12, Enter, Esc, Backspace and letters beyond ASCII reach the
# server as a PC keyboard gives them; after the session the tty modes are
# those of before it.
# Usage: keys_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: keys_test.sh <build-dir>}
BIN=$BUILD/quorcli
SIM=$BUILD/quorvex-sim
need "$BIN"
need "$SIM"
ln -s "$BIN" "$WORK/quorcli"

start_sim "$SIM" --heartbeat-ms=20 --log="$WORK/sim.log"
printf 'server=127.0.0.1:%s,Simulator\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"

# The key words the server was sent since the log was last cut, one a line.
key_words() { sed -n 's/.*"type":5,.*"keyword":"\(0x[0-9a-f]*\)".*/\1/p' "$WORK/sim.log"; }
logged() { grep -cF -- "$1" "$WORK/sim.log" 2>/dev/null || true; }

row_has() { row "$1" | grep -qF -- "$2"; }

# The tty modes of the pane, as stty -g gives them.
pane_modes() { stty -F "$(tmx display -p -t "$PANE" '#{pane_tty}')" -g; }

# Waits until the server has been sent n key words.
key_count() { [ "$(key_words | wc -l)" -ge "$1" ]; }

# Leaves from the server list: Esc there, then at the proxy list.
leave() {
    keys Escape
    wait_for "Select Proxy Server"
    keys Escape
    ended_with 0
}

# session <TERM> [stty settings]: connects through --direct --server in a
# pane with that TERM; the server log starts empty, the tty modes at the
# password prompt are kept in PROMPT_MODES.
session() {
    : >"$WORK/sim.log"
    start_reporting keys "cd \"$WORK\" && stty ${2:-sane} && ./quorcli --direct --server=Sim" "$1"
    wait_for "Password for Simulator:"
    PROMPT_MODES=$(pane_modes)
    typed quorvex
    keys Enter
    wait_row 0 " QUORVEX Server Console"
}

for term in screen-256color tmux-256color xterm-256color; do
    session "$term"
    for n in 1 2 3 4 5 6 7 8 9; do keys "F$n"; done
    wait_until 10 "$term: F1..F9 did not all arrive: $(key_words | tr '\n' ' ')" key_count 9
    want="0x3b00 0x3c00 0x3d00 0x3e00 0x3f00 0x4000 0x4100 0x4200 0x4300 "
    [ "$(key_words | tr '\n' ' ')" = "$want" ] || fail "$term: key words $(key_words | tr '\n' ' ')"

    keys S-F4                                       # next screen
    wait_row 0 " QUORVEX System Monitor"
    keys S-F3                                       # previous screen
    wait_row 0 " QUORVEX Server Console"
    keys S-F5                                       # command word 8
    wait_until 5 "$term: no word 8" test "$(logged '{"type":8,')" -ge 1
    keys S-F6                                       # the screen's name
    wait_until 5 "$term: Shift+F6 shows no screen name" row_has 22 "Console"
    keys Escape
    keys S-F1                                       # the session menu
    wait_for "Select Screen To View"
    keys Escape
    wait_gone "Select Screen To View"
    keys S-F2                                       # end of the session
    wait_for "Insert=New Server"
    # Nothing but F1..F9 reached the server as keys: no stray characters.
    [ "$(key_words | tr '\n' ' ')" = "$want" ] || fail "$term: stray key words $(key_words | tr '\n' ' ')"
    leave
done

# --- Backspace that sends ^H: byte 8 is the Backspace key ---
session tmux-256color "erase ^H"
typed "ab"
keys C-h
wait_for "quorvex> a"
keys BSpace
wait_until 10 "the Backspace keys did not arrive" key_count 4
[ "$(key_words | tail -2 | tr '\n' ' ')" = "0x0e08 0x0e08 " ] || fail "^H key words: $(key_words | tr '\n' ' ')"
keys S-F2
wait_for "Insert=New Server"
leave

# --- One row a key: what tmux sends (-l: the text as typed), the key words ---
PANE_LOCALE=C.UTF-8
session tmux-256color
n=0
while read -r sent want <&3; do
    case $sent in
    -l:*) typed "${sent#-l:}" ;;
    *) keys "$sent" ;;
    esac
    count=$(echo "$want" | wc -w)
    n=$((n + count))
    wait_until 5 "$sent did not arrive" key_count "$n"
    got=$(key_words | tail -n "$count" | tr '\n' ' ')
    [ "$got" = "$want " ] || fail "$sent sent $got, expected $want"
done 3<<'EOF'
F10 0x4400
F11 0x5700
F12 0x5800
C-c 0xae03
C-z 0xac1a
C-s 0x9f13
C-q 0x9011
C-\ 0xab1c
Enter 0x1c0d
Escape 0x011b
BSpace 0x0e08
-l:äéß 0x0084 0x0082 0x00e1
EOF
keys S-F2
wait_for "Insert=New Server"
[ "$(pane_modes)" = "$PROMPT_MODES" ] || fail "tty modes after the session: $(pane_modes), before: $PROMPT_MODES"
leave

echo "PASS"
