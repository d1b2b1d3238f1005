#!/usr/bin/env bash
# The terminal layer on a real terminal: tools/termdemo in a private tmux
# server, driven with send-keys and read back with capture-pane.
# Usage: terminal_test.sh <build-dir>
set -u

BUILD=${1:?usage: terminal_test.sh <build-dir>}
DEMO=$(cd "$BUILD" && pwd)/tools/termdemo
[ -x "$DEMO" ] || { echo "FAIL: $DEMO is missing"; exit 1; }
command -v tmux >/dev/null || { echo "FAIL: tmux is not installed"; exit 1; }

SOCK="quor-term-$$-$RANDOM"
WORK=$(mktemp -d)
PIDS=()
TARGET=""

cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill -TERM "$p" 2>/dev/null; done
    tmux -L "$SOCK" kill-server 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

now_ms() { date +%s%3N; }
screen() { tmux -L "$SOCK" capture-pane -p -t "$TARGET" 2>/dev/null; }
keys() { tmux -L "$SOCK" send-keys -t "$TARGET" "$@"; }

fail() {
    echo "FAIL: $*"
    echo "--- screen of $TARGET ---"
    screen
    exit 1
}

# Waits until the screen holds the fixed text, at most $2 seconds.
wait_for() {
    local text=$1 deadline=$(( $(now_ms) + ${2:-5} * 1000 ))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        screen | grep -qF -- "$text" && return 0
        sleep 0.05
    done
    return 1
}

expect() { wait_for "$1" "${2:-5}" || fail "expected \"$1\""; }

# The shell around the demo keeps the pane after it ends and prints its exit
# status. Its INT trap keeps it alive across Ctrl-C without passing SIG_IGN on
# to the demo (handled signals are reset on exec).
cat >"$WORK/run.sh" <<EOF
trap 'echo shell-saw-INT' INT
export TERM=\$1
if [ "\$2" = nullinput ]; then "$DEMO" </dev/null; else "$DEMO"; fi
echo "DEMO-END rc=\$?"
exec sleep 120
EOF

# start <session> <TERM> [nullinput]: starts the demo and waits for its title.
start() {
    TARGET=$1
    tmux -L "$SOCK" -f /dev/null new-session -d -s "$1" -x 80 -y 25 "sh $WORK/run.sh $2 ${3:-tty}"
}

# The demo's own pid, as it shows it.
demo_pid() {
    local pid
    pid=$(screen | sed -n 's/.*pid=\([0-9][0-9]*\).*/\1/p' | head -1)
    [ -n "$pid" ] || fail "no pid shown"
    PIDS+=("$pid")
    echo "$pid"
}

# --- Keys, frame and colours on an xterm description (64 colour pairs) ---
start keys xterm
expect "ZEV Telvane/IP v.1.7"
[ "$(screen | head -1)" = "ZEV Telvane/IP v.1.7" ] || fail "title row is not row 0"
frame="          +$(printf -- '-%.0s' $(seq 58))+"
[ "$(screen | sed -n 5p)" = "$frame" ] || fail "top of the frame is not + - +"
[ "$(screen | sed -n 16p)" = "$frame" ] || fail "bottom of the frame is not + - +"
screen | sed -n 6,15p | grep -qvE '^          \|.{58}\|$' && fail "sides of the frame are not |"
pid=$(demo_pid)

# Light grey on light grey shows as a blank on grey; black on grey keeps its text.
screen | sed -n 14p | grep -qF '0x77:[   ] 0x70:[XXX]' || fail "colour samples"
tmux -L "$SOCK" capture-pane -e -p -t "$TARGET" | sed -n 14p | grep -qF $'0x77:[\e[0m\e[30m\e[47m   ' ||
    fail "light grey on light grey lost its background"

check_key() {  # check_key <expected line> <send-keys arguments...>
    local want=$1
    shift
    keys "$@"
    expect "$want"
}
check_key "key code=0x1C char=0 state=0" Enter
check_key "key code=0x48 char=0 state=0" Up
check_key "key code=0x50 char=0 state=0" Down
check_key "key code=0x4B char=0 state=0" Left
check_key "key code=0x4D char=0 state=0" Right
check_key "key code=0x3B char=0 state=0" F1
check_key "key code=0x3B char=0 state=6" -H 1b 5b 32 35 7e   # Shift+F1 of the Linux console
check_key "key code=0x1E char=97 state=0" -l a
check_key "key code=0x00 char=65 state=0" -l A
check_key "key code=0x4A char=45 state=0" -l -- -
check_key "key code=0x0E char=0 state=0" BSpace
expect "keys=11"

# Ctrl-C is not a key and does not end the program.
keys C-c
sleep 0.3
kill -0 "$pid" 2>/dev/null || fail "Ctrl-C ended the program"
check_key "key code=0x0F char=9 state=0" Tab
expect "keys=12"

# Esc ends it and gives the terminal back.
keys Escape
expect "DEMO-END rc=0" 3
expect "termdemo: ended by key code=0x01 char=0 state=0"
[ "$(tmux -L "$SOCK" display -p -t "$TARGET" '#{alternate_on}')" = 0 ] || fail "still on the program's screen"
screen | grep -qF "ZEV Telvane" && fail "the program's screen was left behind"
tmux -L "$SOCK" kill-session -t keys

# --- F10 ends like Esc ---
start f10 xterm
expect "ZEV Telvane/IP v.1.7"
pid=$(demo_pid)
keys F10
expect "DEMO-END rc=0" 3
expect "termdemo: ended by key code=0x01 char=0 state=0"
tmux -L "$SOCK" kill-session -t f10

# --- SIGTERM ends it promptly and in order ---
start term xterm
expect "ZEV Telvane/IP v.1.7"
pid=$(demo_pid)
t0=$(now_ms)
kill -TERM "$pid"
expect "DEMO-END rc=0" 2
took=$(( $(now_ms) - t0 ))
[ "$took" -lt 2000 ] || fail "SIGTERM took ${took} ms"
expect "termdemo: terminated after no key"
tmux -L "$SOCK" kill-session -t term

# --- Input at end of file: leaves instead of spinning ---
start eof xterm nullinput
t0=$(now_ms)
expect "DEMO-END rc=0" 5
expect "termdemo: input gone after no key"
echo "input at EOF: ended after $(( $(now_ms) - t0 )) ms"
tmux -L "$SOCK" kill-session -t eof

# --- The terminal hangs up: the program ends ---
start hup xterm
expect "ZEV Telvane/IP v.1.7"
pid=$(demo_pid)
tmux -L "$SOCK" kill-session -t hup
deadline=$(( $(now_ms) + 2000 ))
while kill -0 "$pid" 2>/dev/null; do
    [ "$(now_ms)" -lt "$deadline" ] || { echo "FAIL: still running 2 s after the hang-up"; exit 1; }
    sleep 0.05
done

echo "PASS: terminal_test"
