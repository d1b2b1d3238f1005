#!/usr/bin/env bash
# The history of each screen, in the real quorcli in tmux, against the stand-in
# serving real programs on a pseudo-terminal: a shell loop as fast as it
# goes, and one at 10 lines a second under a fixed status row. Every line
# that scrolled off must be in the saved history once, in order; the view
# opens with Shift+F7, finds a line, and Esc returns to the live screen.
# Usage: history_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=$(cd "${1:?usage: history_test.sh <build-dir>}" && pwd)
need "$BUILD/quorcli"
need "$BUILD/quorvex-sim"
ln -s "$BUILD/quorcli" "$WORK/quorcli"
mkdir -m 700 "$WORK/out"
(umask 077; echo quorvex >"$WORK/pw")

stop_sim() { kill "${E2E_PIDS[-1]}"; wait "${E2E_PIDS[-1]}" 2>/dev/null; unset 'E2E_PIDS[-1]'; }

# session <program>: the program waits for Enter, then prints; the client
# watches it to the end and saves the history.
session() {
    start_sim "$BUILD/quorvex-sim" --pty="sh -c 'echo ready; read go; $1; echo done; exec cat'" \
        --password-file="$WORK/pw"
    printf 'server=127.0.0.1:%s,Pty\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"
    start_reporting s "cd \"$WORK\" && ./quorcli --direct --server=Pty --save-dir=\"$WORK/out\""
    wait_for "Password for Pty"
    typed quorvex
    keys Enter
    # The stand-in holds the program for a client that shows its screen.
    wait_for "ready"
    keys Enter
    wait_for "done" 30
    rm -f "$WORK"/out/*
    session_menu_item "Save history to file"
    wait_for "History saved:"
}

# Exactly the numbered lines 1..n of the prefix ("" for bare numbers), once
# each and in order.
holds_all() {
    local got
    got=$(diff <(grep -x "$1${1:+ }[0-9][0-9]*" "$WORK"/out/*-history.txt) <(seq 1 "$2" | sed "s/^/$1${1:+ }/")) ||
        fail "the history of '$1' is not 1..$2: $(echo "$got" | head -5)"
}

leave() {
    typed $'\e[26~'      # Shift+F2 ends the session
    wait_for "F5=Set Master Password"
    keys Escape
    wait_for "Select Proxy Server"
    keys Escape
    ended_with 0
    stop_sim
}

# --- As fast as a shell prints ---
session 'i=1; while [ $i -le 2000 ]; do echo line $i; i=$((i+1)); done'
holds_all line 2000
# The view: from the live screen into the history and back.
keys S-F7
wait_for "History: line"
typed "/line 1234"
keys Enter
match_shown() { colours | grep -qF $'\e[30m\e[47mline 1234'; }
wait_until 5 "the match is not shown highlighted" match_shown
keys Escape
wait_gone "History: line"
shows "line 2000" || fail "the live screen did not come back"
leave

# --- seq, a real program that prints as fast as it can ---
session 'seq 1 3000'
holds_all "" 3000
leave

# --- 10 lines a second under a status row that stays ---
session 'printf "\033[2J\033[1;24r\033[25;1HSTATUS ROW\033[1;1H"; i=1; while [ $i -le 40 ]; do echo slow $i; i=$((i+1)); sleep 0.1; done'
holds_all slow 40
[ "$(grep -c "STATUS ROW" "$WORK"/out/*-history.txt)" = 1 ] || fail "the status row went into the history"
leave
echo "PASS"
