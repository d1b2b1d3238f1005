# Shared plumbing of the tmux tests in this folder; each *_test.sh sources it
# first thing. It gives the script a fresh work folder ($WORK), runs programs
# in private tmux servers whose sockets live in that folder (a new server for
# every start, so that a new one never meets the previous one while that is
# still going away), offers bounded waits on what the pane shows, and on exit
# ends only what the script started: its own tmux servers through their
# sockets, its own background processes by pid.
# shellcheck shell=bash

command -v tmux >/dev/null || { echo "FAIL: tmux not found"; exit 1; }

WORK=$(mktemp -d)
# The locale of the programs in the panes: the display depends on it (Unicode
# glyphs in a UTF-8 locale, plain ASCII line drawing in "C"). A script sets it
# before new_pane; tmux itself always shows UTF-8 (-u).
PANE_LOCALE=C
RUN=0          # tmux servers started so far; server n listens on $WORK/tmux-n
SOCK=          # the socket of the current server
PANE=          # the session (and so the pane) of the current server
E2E_PIDS=()    # background processes to end on exit

e2e_cleanup() {
    local n p
    for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    for ((n = 1; n <= RUN; n++)); do tmux -S "$WORK/tmux-$n" kill-server 2>/dev/null; done
    rm -rf "$WORK"
}
trap e2e_cleanup EXIT

# Stops the script unless the file is an executable that has been built.
need() { [ -x "$1" ] || { echo "FAIL: $1 not built"; exit 1; }; }

tmx() { tmux -u -S "$SOCK" "$@"; }
screen() { tmx capture-pane -p -t "$PANE" 2>/dev/null; }
colours() { tmx capture-pane -p -e -t "$PANE" 2>/dev/null; }
row() { screen | sed -n "$(($1 + 1))p"; }     # screen row, 0-based
keys() { tmx send-keys -t "$PANE" "$@"; }
typed() { tmx send-keys -t "$PANE" -l "$1"; }
now_ms() { date +%s%3N; }

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    screen
    exit 1
}

# new_pane <session> <command line> [TERM] [rows]: runs the command in a pane
# of 80 columns and 25 rows (default) with TERM=xterm (default) and the locale
# PANE_LOCALE, in a new private tmux server (the previous one is ended first).
new_pane() {
    [ "$RUN" -gt 0 ] && tmux -S "$SOCK" kill-server 2>/dev/null
    RUN=$((RUN + 1))
    SOCK=$WORK/tmux-$RUN
    PANE=$1
    # tmux gives the pane its default-terminal as TERM, whatever -e says.
    printf 'set -g default-terminal "%s"\n' "${3:-xterm}" >"$SOCK.conf"
    tmux -u -S "$SOCK" -f "$SOCK.conf" new-session -d -s "$PANE" -x 80 -y "${4:-25}" \
        -e LC_ALL="$PANE_LOCALE" -e LANG="$PANE_LOCALE" "$2" || fail "cannot start tmux"
}

# start_reporting <session> <command line> [TERM] [rows]: new_pane under a shell that keeps
# the pane when the command ends; its stderr goes to $WORK/stderr, its exit
# status to $WORK/status, and then "ended" is shown.
start_reporting() {
    rm -f "$WORK/status" "$WORK/stderr"
    new_pane "$1" "sh -c '$2 2>\"$WORK/stderr\"; echo \$? > \"$WORK/status\"; echo ended; sleep 300'" "${@:3}"
}

# Waits until a command started by start_reporting has ended, and checks its
# exit status.
ended_with() {
    wait_for ended
    [ "$(cat "$WORK/status")" = "$1" ] || fail "exit status $(cat "$WORK/status"), expected $1"
}

# wait_until <seconds> <message> <command...>: runs the command until it
# succeeds, at most that many seconds; then fails with the message.
wait_until() {
    local deadline=$(($(now_ms) + $1 * 1000)) message=$2
    shift 2
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "$message"
        sleep 0.05
    done
}

# clean_utf8 <file>...: each file is UTF-8 (as Python reads it) without a
# control character but the line end.
clean_utf8() {
    /usr/bin/python3 -c 'import sys, unicodedata
for p in sys.argv[1:]:
    bad = [c for c in open(p, "rb").read().decode() if c != "\n" and unicodedata.category(c) == "Cc"]
    assert not bad, (p, bad[:5])' "$@" || fail "not clean UTF-8: $*"
}

# Conditions for wait_until.
not() { ! "$@"; }
shows() { screen | grep -qF -- "$1"; }
row_begins() { case "$(row "$1")" in "$2"*) return 0 ;; esac; return 1; }

# Waits until the screen shows the text: at most $2 seconds (default 10).
wait_for() { wait_until "${2:-10}" "timed out waiting for '$1'" shows "$1"; }

# Waits until the text has gone from the screen: at most $2 seconds (default 10).
wait_gone() { wait_until "${2:-10}" "'$1' is still shown" not shows "$1"; }

# Waits until row $1 begins with the text $2: at most $3 seconds (default 10).
wait_row() { wait_until "${3:-10}" "row $1 does not begin with '$2'" row_begins "$1" "$2"; }

# start_sim <program> [options]: starts the stand-in server on a free
# loopback port (or the --port=N among the options) and waits (at most 20
# seconds) until it listens; its port is then in SIM_PORT and what it
# printed in $WORK/sim.out.
start_sim() {
    local program=$1
    shift
    # Emptied here, not only by the redirection in the child: until the child
    # runs, the file may still hold the line of the stand-in started before.
    : >"$WORK/sim.out"
    "$program" --port=0 "$@" >"$WORK/sim.out" 2>&1 &
    E2E_PIDS+=("$!")
    wait_until 20 "the stand-in did not start within 20 s" sim_started "$!"
    SIM_PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/sim.out" | head -1)
    [ -n "$SIM_PORT" ] || fail "the stand-in did not start: $(cat "$WORK/sim.out")"
}
# True once the stand-in says it listens, or has ended (which start_sim reports).
sim_started() { grep -q "listening on" "$WORK/sim.out" 2>/dev/null || ! kill -0 "$1" 2>/dev/null; }

# reserve_port: holds a loopback port until the script ends, with a socket
# bound with SO_REUSEPORT that never listens (in a python3 process, ended on
# exit); the port is then in RESERVED_PORT. Connections to it are refused,
# as by a stopped server, and nothing else takes it meanwhile, except the
# stand-ins started on it with --reuse-port, one after another.
reserve_port() {
    local out=$WORK/reserved-$RANDOM
    python3 -c 'import signal, socket
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True)
signal.pause()' >"$out" &
    E2E_PIDS+=("$!")
    wait_until 20 "no port could be reserved" test -s "$out"
    RESERVED_PORT=$(cat "$out")
}

# session_menu_item <text> [command]: opens the session menu with Shift+F1 (as
# the Linux console sends it), runs the command, and chooses the item that
# begins with the text, looked for upwards from the last item.
session_menu_item() {
    typed $'\e[25~'
    wait_for "Select Screen To View"
    ${2:+eval "$2"}
    keys End
    local _
    for _ in $(seq 14); do
        colours | grep -qF $'\e[47m'"$1" && break
        keys Up
    done
    keys Enter
}
