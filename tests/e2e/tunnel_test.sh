#!/usr/bin/env bash
# Drives the real quorcli in a private tmux server through tunnel entries
# whose command is the tests' relay program: a tunnel added with Insert
# carries a session to the stand-in server and ends with it; Esc while the
# command hangs gives up and ends it; a command that fails before the server
# greets has its last words shown; a termination request ends the program
# and the command.
# Every relay is checked by its pid: gone, not a zombie.
# Usage: tunnel_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: tunnel_test.sh <build-dir>}
BIN=$BUILD/quorcli
SIM=$BUILD/quorvex-sim
RELAY=$BUILD/tools/relay
need "$BIN"
need "$SIM"
need "$RELAY"

ln -s "$BIN" "$WORK/quorcli"
CFG=$WORK/quorcli.cfg

shift_f2() { typed $'\e[26~'; }
start() { start_reporting t "cd \"$WORK\" && ./quorcli"; }

# The pid a relay wrote to its file (waits for it, at most 20 s).
relay_pid() {
    wait_until 20 "no relay started for $1" test -s "$1"
    cut -d' ' -f1 "$1"
}
# A process that is there, running or a zombie nobody reaped.
exists() { kill -0 "$1" 2>/dev/null; }
# The client gives a command 1 s to end when asked before it ends it by force.
gone_by_pid() { wait_until 10 "the relay $1 was left behind" not exists "$1"; }

# Chooses the entry of the proxy list with this description, then the
# server, and types the password.
open_session() {
    wait_for "Select Proxy Server"
    keys Home
    typed "$1"
    keys Enter
    wait_for "Insert=New Server"
    keys Enter
    wait_for "Password for Simulator:"
    typed quorvex
    keys Enter
}

start_sim "$SIM" --log="$WORK/sim.log"
printf '%s\r\n' "server=127.0.0.1:$SIM_PORT,Simulator" \
    "tunnel=$RELAY --pidfile=$WORK/hang.pid --hang --ignore-term %h %p,Stuck" \
    "tunnel=sh -c 'echo \"Permission denied (publickey).\" >&2; exit 255',Failing" >"$CFG"

# --- A tunnel added through the list screen; a comma is refused ---
start
wait_for "Select Proxy Server"
wait_for "Stuck                               - | ${RELAY:0:20}"
keys IC
wait_for "Tunnel command"
keys Down Enter
wait_for "Enter description:"
typed Relay
keys Enter
wait_for "Enter tunnel command (%h=host, %p=port):"
typed "$RELAY,x"
keys Enter
wait_for "The character ',' cannot be used here."
keys Enter
wait_gone "cannot be used here."
keys End BSpace BSpace
typed " --pidfile=$WORK/relay.pid %h %p"
keys Enter
wait_for "Relay                               - | ${RELAY:0:20}"

# --- A session through it: the remote screen, nothing of the relay's
# standard error; Shift+F2 ends the session and the relay ---
open_session Relay
wait_row 0 " QUORVEX Server Console"
pid=$(relay_pid "$WORK/relay.pid")
exists "$pid" || fail "the relay is not running during the session"
shows "standard error" && fail "the relay's standard error reached the screen"
shift_f2
wait_for "Insert=New Server"
row 4 | grep -qF "Tunnel: Relay - | ${RELAY:0:20}" || fail "server list title is '$(row 4)'"
gone_by_pid "$pid"

# --- Esc while the command hangs: back to the server list, the command
# (which ignores SIGTERM and its input) ended ---
keys Escape
open_session Stuck
pid=$(relay_pid "$WORK/hang.pid")
keys Escape
wait_for "Connection failed."
wait_for "Insert=New Server"
gone_by_pid "$pid"
[ "$(grep -c '"type":"opening"' "$WORK/sim.log" 2>/dev/null)" = 1 ] || fail "the hanging relay reached the server"

# --- A command that ends before the server greets: what it wrote on its
# standard error in a message box ---
keys Escape
open_session Failing
wait_for "Tunnel command 'sh -c 'echo \"Permission denied (publicke' has ended:"
row 12 | grep -qF "| Permission denied (publickey)." || fail "the command's words are not under the title"
keys Enter
wait_for "Insert=New Server"

# --- A termination request during a session ends the program in order,
# the relay with it, and the new entry is saved ---
rm -f "$WORK/relay.pid"
keys Escape
open_session Relay
wait_row 0 " QUORVEX Server Console"
pid=$(relay_pid "$WORK/relay.pid")
shell_pid=$(tmx list-panes -t "$PANE" -F '#{pane_pid}')
prog_pid=$(pgrep -P "$shell_pid" | head -1)
[ -n "$prog_pid" ] || fail "cannot find the program's process"
kill -TERM "$prog_pid"
ended_with 0
gone_by_pid "$pid"
grep -qF "tunnel=$RELAY --pidfile=$WORK/relay.pid %h %p,Relay"$'\r' "$CFG" || fail "the new tunnel was not saved: $(cat "$CFG")"

echo "PASS"
